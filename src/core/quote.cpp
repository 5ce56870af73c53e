#include "core/quote.hpp"

#include <algorithm>
#include <array>

namespace talvo::core {

namespace {

// The key words PostgreSQL's own client programs quote (fmtId in
// src/fe_utils/string_utils.c quotes every key word that is not unreserved):
// pg_get_keywords() with catcode <> 'U' on PostgreSQL 15, plus system_user
// (reserved from 16) and the JSON and MERGE words of 16 and 17. Quoting a
// word that an older server does not reserve is harmless, so the list is the
// union over releases. Sorted, for the binary search.
constexpr std::array<std::string_view, 164> kQuotedKeywords = {
    "all", "analyse", "analyze", "and", "any", "array", "as", "asc", "asymmetric",
    "authorization", "between", "bigint", "binary", "bit", "boolean", "both", "case", "cast",
    "char", "character", "check", "coalesce", "collate", "collation", "column",
    "concurrently", "constraint", "create", "cross", "current_catalog", "current_date",
    "current_role", "current_schema", "current_time", "current_timestamp", "current_user",
    "dec", "decimal", "default", "deferrable", "desc", "distinct", "do", "else", "end",
    "except", "exists", "extract", "false", "fetch", "float", "for", "foreign", "freeze",
    "from", "full", "grant", "greatest", "group", "grouping", "having", "ilike", "in",
    "initially", "inner", "inout", "int", "integer", "intersect", "interval", "into", "is",
    "isnull", "join", "json", "json_array", "json_arrayagg", "json_exists", "json_object",
    "json_objectagg", "json_query", "json_scalar", "json_serialize", "json_table",
    "json_value", "lateral", "leading", "least", "left", "like", "limit", "localtime",
    "localtimestamp", "merge_action", "national", "natural", "nchar", "none", "normalize",
    "not", "notnull", "null", "nullif", "numeric", "offset", "on", "only", "or", "order",
    "out", "outer", "overlaps", "overlay", "placing", "position", "precision", "primary",
    "real", "references", "returning", "right", "row", "select", "session_user", "setof",
    "similar", "smallint", "some", "substring", "symmetric", "system_user", "table",
    "tablesample", "then", "time", "timestamp", "to", "trailing", "treat", "trim", "true",
    "union", "unique", "user", "using", "values", "varchar", "variadic", "verbose", "when",
    "where", "window", "with", "xmlattributes", "xmlconcat", "xmlelement", "xmlexists",
    "xmlforest", "xmlnamespaces", "xmlparse", "xmlpi", "xmlroot", "xmlserialize",
    "xmltable",
};

bool is_lower_identifier_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// What the server reads back unchanged when it stands bare: unquoted names
// are folded to lower case, so only lower-case ones are safe.
bool is_bare_identifier(std::string_view name) {
  if (name.empty() || (name.front() >= '0' && name.front() <= '9')) return false;
  return std::all_of(name.begin(), name.end(), is_lower_identifier_char);
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

bool fits_name_limit(std::string_view name) { return name.size() <= kMaxNameBytes; }

bool is_quoted_keyword(std::string_view word) {
  return std::binary_search(kQuotedKeywords.begin(), kQuotedKeywords.end(), word);
}

std::string quote_identifier(std::string_view name) {
  if (name.empty()) throw UnquotableError("name is empty");
  reject_nul(name, "name");
  if (is_bare_identifier(name) && !is_quoted_keyword(name)) return std::string(name);
  return double_quoted(name);
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
