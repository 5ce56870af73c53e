#include "core/sql_text.hpp"

#include <cstddef>

namespace talvo::core {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Letters, digits, "_" and "$" continue a name; bytes from 0x80 are letters
// of a name written in UTF-8.
bool continues_name(char c) {
  auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || u >= 0x80;
}

bool starts_name(char c) { return continues_name(c) && c != '$' && !(c >= '0' && c <= '9'); }

// Past a quoted text or name that opens at `at`; a doubled quote stands for
// itself, and in an E'...' text so does a backslash-escaped one.
std::size_t past_quoted(std::string_view s, std::size_t at, bool backslash_escapes) {
  const char quote = s[at];
  for (std::size_t i = at + 1; i < s.size(); ++i) {
    if (backslash_escapes && s[i] == '\\') {
      ++i;
    } else if (s[i] == quote) {
      if (i + 1 < s.size() && s[i + 1] == quote) {
        ++i;
      } else {
        return i + 1;
      }
    }
  }
  return s.size();
}

// An E'...' text: the quote follows an E that does not end a longer name.
bool escape_string(std::string_view s, std::size_t quote) {
  if (quote == 0 || (s[quote - 1] != 'E' && s[quote - 1] != 'e')) return false;
  return quote == 1 || !continues_name(s[quote - 2]);
}

// The $tag$ that opens at `at`, or empty when the "$" opens none ($1 is a
// parameter; a "$" inside a name is part of it).
std::string_view dollar_tag(std::string_view s, std::size_t at) {
  if (at > 0 && continues_name(s[at - 1])) return {};
  std::size_t i = at + 1;
  if (i < s.size() && starts_name(s[i])) {
    while (i < s.size() && continues_name(s[i]) && s[i] != '$') ++i;
  }
  if (i >= s.size() || s[i] != '$') return {};
  return s.substr(at, i + 1 - at);
}

std::size_t past_block_comment(std::string_view s, std::size_t at) {
  int depth = 0;
  for (std::size_t i = at; i + 1 < s.size(); ++i) {
    if (s[i] == '/' && s[i + 1] == '*') {
      ++depth;
      ++i;
    } else if (s[i] == '*' && s[i + 1] == '/') {
      ++i;
      if (--depth == 0) return i + 1;
    }
  }
  return s.size();
}

}  // namespace

bool refuses_wrapping(std::string_view sqlstate) {
  return sqlstate == "42601" || sqlstate == "0A000";
}

std::string_view statement_body(std::string_view s) {
  std::size_t end = 0;  // just past the last character of a token
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    const char next = i + 1 < s.size() ? s[i + 1] : '\0';
    if (is_blank(c) || c == ';') {
      ++i;
      continue;
    }
    if (c == '-' && next == '-') {
      std::size_t line_end = s.find('\n', i);
      i = line_end == std::string_view::npos ? s.size() : line_end + 1;
      continue;
    }
    if (c == '/' && next == '*') {
      i = past_block_comment(s, i);
      continue;
    }
    if (c == '\'') {
      i = past_quoted(s, i, escape_string(s, i));
    } else if (c == '"') {
      i = past_quoted(s, i, false);
    } else if (std::string_view tag = c == '$' ? dollar_tag(s, i) : std::string_view();
               !tag.empty()) {
      std::size_t close = s.find(tag, i + tag.size());
      i = close == std::string_view::npos ? s.size() : close + tag.size();
    } else {
      ++i;
    }
    end = i;
  }
  return s.substr(0, end);
}

}  // namespace talvo::core
