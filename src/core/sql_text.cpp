#include "core/sql_text.hpp"

#include <cstddef>
#include <string>

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

std::string counted_statement(std::string_view body, std::size_t columns,
                              std::optional<std::int64_t> shown, RowForm form, Holder holder) {
  // The statement's columns are renamed by position: its own names may be
  // anything, the same name twice included.
  std::string names;
  for (std::size_t i = 1; i <= columns; ++i) {
    if (i > 1) names += ", ";
    names += "talvo_" + std::to_string(i);
  }
  const std::string values = form == RowForm::text ? "ROW(" + names + ")::text" : names;

  std::string sql;
  std::string rows = "talvo_rows";
  if (holder == Holder::with_query) {
    sql = "WITH talvo_rows (" + names + ") AS (\n" + std::string(body) + "\n)\n";
  } else {
    rows = "(\n" + std::string(body) + "\n) AS talvo_rows (" + names + ")";
  }
  if (!shown) return sql + "SELECT NULL::bigint AS talvo_total, " + values + " FROM " + rows;

  // Numbering looks one row ahead only, so the server holds no more than
  // that: the rows stream through, however many there are. The filter is a
  // disjunction on purpose: a plain bound on row_number() would let the
  // server stop the statement once the bound is passed.
  const std::string bound = std::to_string(*shown);
  const std::string is_shown = "talvo_n <= " + bound;
  sql += "SELECT CASE WHEN talvo_n > " + bound + " THEN talvo_n END AS talvo_total";
  if (form == RowForm::text) {
    sql += ", CASE WHEN " + is_shown + " THEN " + values + " END";
  } else {
    for (std::size_t i = 1; i <= columns; ++i)
      sql += ", CASE WHEN " + is_shown + " THEN talvo_" + std::to_string(i) + " END";
  }
  sql += "\nFROM (SELECT row_number() OVER () AS talvo_n, "
         "lead(true, 1, false) OVER () AS talvo_more, *\n      FROM " +
         rows + ") AS talvo_counted\nWHERE " + is_shown + " OR NOT talvo_more";
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
