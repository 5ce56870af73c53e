#include "core/quote.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using talvo::core::fits_name_limit;
using talvo::core::is_quoted_keyword;
using talvo::core::quote_identifier;
using talvo::core::quote_literal;
using talvo::core::UnquotableError;

TEST(QuoteIdentifier, Table) {
  const std::pair<std::string, std::string> cases[] = {
      // Names the server reads back unchanged go in bare.
      {"app", "app"},
      {"app_user2", "app_user2"},
      {"_x", "_x"},
      {"users", "users"},
      {"name", "name"},          // an unreserved key word
      {"password", "password"},  // likewise
      // Upper case would be folded: quoted, so the name stays as given.
      {"Sales", "\"Sales\""},
      {"UQ1", "\"UQ1\""},
      {"MyApp", "\"MyApp\""},
      {"App_User2", "\"App_User2\""},
      // Key words other than unreserved ones.
      {"user", "\"user\""},
      {"order", "\"order\""},
      {"ORDER", "\"ORDER\""},
      {"int", "\"int\""},            // column-name key word
      {"left", "\"left\""},          // type or function name key word
      {"system_user", "\"system_user\""},
      // Anything else: quoted exactly, embedded quotes doubled.
      {"1db", "\"1db\""},
      {"my-db", "\"my-db\""},
      {"two words", "\"two words\""},
      {"x; DROP DATABASE postgres", "\"x; DROP DATABASE postgres\""},
      {"a\"b", "\"a\"\"b\""},
      {"\"", "\"\"\"\""},
      {"it's", "\"it's\""},
      {"müller", "\"müller\""},
      {"db$1", "\"db$1\""},
  };
  for (const auto& [name, sql] : cases) EXPECT_EQ(quote_identifier(name), sql) << name;
}

TEST(QuoteIdentifier, RejectsWhatCannotBeSent) {
  EXPECT_THROW(quote_identifier(""), UnquotableError);
  EXPECT_THROW(quote_identifier(std::string("a\0b", 3)), UnquotableError);
}

TEST(NameLimit, SixtyThreeBytesAtMost) {
  EXPECT_TRUE(fits_name_limit(std::string(63, 'a')));
  EXPECT_FALSE(fits_name_limit(std::string(64, 'a')));
  // Bytes, not characters: 32 two-byte characters are 64 bytes.
  std::string wide;
  for (int i = 0; i < 32; ++i) wide += "é";
  EXPECT_FALSE(fits_name_limit(wide));
}

TEST(QuotedKeywords, EveryKeywordTheServerQuotesIsFound) {
  // SELECT word FROM pg_get_keywords() WHERE catcode <> 'U' on PostgreSQL 15,
  // then the words of later releases.
  const char* words[] = {
      "all", "analyse", "analyze", "and", "any", "array", "as", "asc", "asymmetric",
      "authorization", "between", "bigint", "binary", "bit", "boolean", "both", "case",
      "cast", "char", "character", "check", "coalesce", "collate", "collation", "column",
      "concurrently", "constraint", "create", "cross", "current_catalog", "current_date",
      "current_role", "current_schema", "current_time", "current_timestamp",
      "current_user", "dec", "decimal", "default", "deferrable", "desc", "distinct", "do",
      "else", "end", "except", "exists", "extract", "false", "fetch", "float", "for",
      "foreign", "freeze", "from", "full", "grant", "greatest", "group", "grouping",
      "having", "ilike", "in", "initially", "inner", "inout", "int", "integer",
      "intersect", "interval", "into", "is", "isnull", "join", "lateral", "leading",
      "least", "left", "like", "limit", "localtime", "localtimestamp", "national",
      "natural", "nchar", "none", "normalize", "not", "notnull", "null", "nullif",
      "numeric", "offset", "on", "only", "or", "order", "out", "outer", "overlaps",
      "overlay", "placing", "position", "precision", "primary", "real", "references",
      "returning", "right", "row", "select", "session_user", "setof", "similar",
      "smallint", "some", "substring", "symmetric", "table", "tablesample", "then",
      "time", "timestamp", "to", "trailing", "treat", "trim", "true", "union", "unique",
      "user", "using", "values", "varchar", "variadic", "verbose", "when", "where",
      "window", "with", "xmlattributes", "xmlconcat", "xmlelement", "xmlexists",
      "xmlforest", "xmlnamespaces", "xmlparse", "xmlpi", "xmlroot", "xmlserialize",
      "xmltable",
      // 16 and 17.
      "system_user", "json", "json_array", "json_arrayagg", "json_exists", "json_object",
      "json_objectagg", "json_query", "json_scalar", "json_serialize", "json_table",
      "json_value", "merge_action",
  };
  for (const char* w : words) {
    EXPECT_TRUE(is_quoted_keyword(w)) << w;
    EXPECT_EQ(quote_identifier(w), std::string("\"") + w + "\"") << w;
  }
}

TEST(QuotedKeywords, UnreservedWordsAndOtherCasesAreNotInTheList) {
  for (const char* w : {"USER", "name", "password", "role", "database", "abort", "zone"})
    EXPECT_FALSE(is_quoted_keyword(w)) << w;
}

TEST(QuoteLiteral, Table) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "''"},
      {"secret", "'secret'"},
      {"it's", "'it''s'"},
      {"''", "''''''"},
      {"'; DROP USER postgres; --", "'''; DROP USER postgres; --'"},
      {"back\\slash", "E'back\\\\slash'"},
      {"\\'", "E'\\\\'''"},
      {"pässwörd", "'pässwörd'"},
  };
  for (const auto& [value, sql] : cases) EXPECT_EQ(quote_literal(value), sql) << value;
}

TEST(QuoteLiteral, RejectsNul) {
  EXPECT_THROW(quote_literal(std::string("a\0b", 3)), UnquotableError);
}
