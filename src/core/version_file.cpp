#include "core/version_file.hpp"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "core/text.hpp"

namespace talvo::core {
namespace {

constexpr std::string_view kBlanks = " \t\n\r\f\v";

std::string_view strip(std::string_view s, std::string_view chars) {
  auto first = s.find_first_not_of(chars);
  if (first == std::string_view::npos) return {};
  auto last = s.find_last_not_of(chars);
  return s.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> version_from_text(std::string_view text) {
  while (!text.empty()) {
    auto end = text.find('\n');
    std::string_view line = end == std::string_view::npos ? text : text.substr(0, end + 1);
    text.remove_prefix(line.size());

    if (!strip(line, kBlanks).starts_with("version")) continue;
    auto eq = line.find('=');
    if (eq == std::string_view::npos || line.find('=', eq + 1) != std::string_view::npos) continue;
    std::string_view value = strip(line.substr(eq + 1), kBlanks);
    value = strip(value, "\"");
    value = strip(value, "'");
    return std::string(value);
  }
  return std::nullopt;
}

std::optional<std::string> version_from_file(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || !is_valid_utf8(content)) return std::nullopt;
  return version_from_text(content);
}

}  // namespace talvo::core
