#include "core/quote.hpp"

#include <algorithm>
#include <array>

namespace talvo::core {

namespace {

// PostgreSQL's reserved key words: those listed as "reserved" and as
// "reserved (can be function or type)" in the key word appendix of its
// documentation. The second group is refused bare where a database name is
// expected. Sorted, for the binary search.
constexpr std::array<std::string_view, 101> kReservedKeywords = {
    "all", "analyse", "analyze", "and", "any", "array", "as", "asc", "asymmetric",
    "authorization", "binary", "both", "case", "cast", "check", "collate", "collation",
    "column", "concurrently", "constraint", "create", "cross", "current_catalog",
    "current_date", "current_role", "current_schema", "current_time", "current_timestamp",
    "current_user", "default", "deferrable", "desc", "distinct", "do", "else", "end",
    "except", "false", "fetch", "for", "foreign", "freeze", "from", "full", "grant", "group",
    "having", "ilike", "in", "initially", "inner", "intersect", "into", "is", "isnull",
    "join", "lateral", "leading", "left", "like", "limit", "localtime", "localtimestamp",
    "natural", "not", "notnull", "null", "offset", "on", "only", "or", "order", "outer",
    "overlaps", "placing", "primary", "references", "returning", "right", "select",
    "session_user", "similar", "some", "symmetric", "system_user", "table", "tablesample",
    "then", "to", "trailing", "true", "union", "unique", "user", "using", "variadic",
    "verbose", "when", "where", "window", "with",
};

// The server keeps at most NAMEDATALEN - 1 bytes of a name, cut at a
// character boundary.
constexpr std::size_t kMaxNameBytes = 63;

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_plain_identifier(std::string_view name) {
  if (name.empty() || is_ascii_digit(name.front())) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return is_ascii_letter(c) || is_ascii_digit(c) || c == '_'; });
}

std::string clip_name(std::string name) {
  if (name.size() <= kMaxNameBytes) return name;
  std::size_t cut = kMaxNameBytes;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  name.resize(cut);
  return name;
}

void reject_nul(std::string_view value, const char* what) {
  if (value.find('\0') != std::string_view::npos)
    throw UnquotableError(std::string(what) + " contains a NUL character");
}

std::string double_quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

bool is_reserved_keyword(std::string_view word) {
  return std::binary_search(kReservedKeywords.begin(), kReservedKeywords.end(), word);
}

SqlName quote_identifier(std::string_view name) {
  if (name.empty()) throw UnquotableError("name is empty");
  reject_nul(name, "name");
  if (!is_plain_identifier(name)) return {double_quoted(name), clip_name(std::string(name))};
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), ascii_lower);
  if (is_reserved_keyword(folded)) return {double_quoted(folded), clip_name(folded)};
  return {std::string(name), clip_name(folded)};
}

std::string quote_literal(std::string_view value) {
  reject_nul(value, "text");
  const bool escape_form = value.find('\\') != std::string_view::npos;
  std::string out = escape_form ? "E'" : "'";
  for (char c : value) {
    if (c == '\'' || (escape_form && c == '\\')) out += c;
    out += c;
  }
  out += '\'';
  return out;
}

}  // namespace talvo::core
