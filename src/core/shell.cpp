#include "core/shell.hpp"

#include <algorithm>

namespace talvo::core {

namespace {

bool is_safe(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("@%+=:,./-_").find(c) != std::string_view::npos;
}

}  // namespace

std::string shell_quote(std::string_view word) {
  if (word.empty()) return "''";
  if (std::all_of(word.begin(), word.end(), is_safe)) return std::string(word);
  std::string out = "'";
  for (char c : word) {
    if (c == '\'')
      out += "'\"'\"'";
    else
      out += c;
  }
  out += '\'';
  return out;
}

std::string shell_line(std::span<const std::string> words) {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += ' ';
    out += shell_quote(word);
  }
  return out;
}

}  // namespace talvo::core
