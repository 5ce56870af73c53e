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

// The word at `at` (letters, digits, "_"), or empty.
std::string_view word_at(std::string_view s, std::size_t at) {
  std::size_t end = at;
  while (end < s.size() && continues_name(s[end]) && s[end] != '$') ++end;
  return s.substr(at, end - at);
}

bool same_word(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

// Past blanks and comments from `at`.
std::size_t past_blanks_and_comments(std::string_view s, std::size_t at) {
  while (at < s.size()) {
    const char next = at + 1 < s.size() ? s[at + 1] : '\0';
    if (is_blank(s[at])) {
      ++at;
    } else if (s[at] == '-' && next == '-') {
      std::size_t line_end = s.find('\n', at);
      at = line_end == std::string_view::npos ? s.size() : line_end + 1;
    } else if (s[at] == '/' && next == '*') {
      at = past_block_comment(s, at);
    } else {
      break;
    }
  }
  return at;
}

struct ControlStatement {
  std::string_view first, second;  // second: empty when the first word alone says it
  std::string_view name;
};

// Two-word forms first, so COMMIT PREPARED is named as such.
constexpr ControlStatement kControlStatements[] = {
    {"PREPARE", "TRANSACTION", "PREPARE TRANSACTION"},
    {"COMMIT", "PREPARED", "COMMIT PREPARED"},
    {"ROLLBACK", "PREPARED", "ROLLBACK PREPARED"},
    {"START", "TRANSACTION", "START TRANSACTION"},
    {"BEGIN", "", "BEGIN"},
    {"COMMIT", "", "COMMIT"},
    {"END", "", "END"},
    {"ROLLBACK", "", "ROLLBACK"},
    {"ABORT", "", "ABORT"},
    {"SAVEPOINT", "", "SAVEPOINT"},
    {"RELEASE", "", "RELEASE"},
};

}  // namespace

std::optional<std::string_view> transaction_control(std::string_view sql) {
  const std::size_t first_at = past_blanks_and_comments(sql, 0);
  const std::string_view first = word_at(sql, first_at);
  if (first.empty()) return std::nullopt;
  const std::string_view second =
      word_at(sql, past_blanks_and_comments(sql, first_at + first.size()));
  for (const ControlStatement& c : kControlStatements) {
    if (!same_word(first, c.first)) continue;
    if (c.second.empty() || same_word(second, c.second)) return c.name;
  }
  return std::nullopt;
}

std::string counted_statement(std::string_view body, std::optional<std::int64_t> limit,
                              RowForm form) {
  // Referred to twice, the statement is run once into a work table that
  // both the count and the rows read; a data-modifying one (INSERT ...
  // RETURNING) runs to its end whatever the limit.
  std::string sql = "WITH talvo_rows AS MATERIALIZED (\n";
  sql += body;
  sql += "\n)\nSELECT (SELECT count(*) FROM talvo_rows) AS talvo_total, ";
  sql += form == RowForm::columns ? "talvo_rows.* FROM talvo_rows"
                                  : "talvo_row::text FROM talvo_rows AS talvo_row";
  if (limit) sql += " LIMIT " + std::to_string(*limit);
  return sql;
}

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
