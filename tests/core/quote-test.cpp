#include "core/quote.hpp"

#include <gtest/gtest.h>

#include <string>

using talvo::core::quote_identifier;
using talvo::core::quote_literal;
using talvo::core::UnquotableError;

namespace {

struct IdentifierCase {
  std::string name;
  std::string sql;
  std::string stored;
};

}  // namespace

TEST(QuoteIdentifier, Table) {
  const IdentifierCase cases[] = {
      // Plain names go in bare; the server folds them.
      {"app", "app", "app"},
      {"App_User2", "App_User2", "app_user2"},
      {"_x", "_x", "_x"},
      {"users", "users", "users"},
      {"usr", "usr", "usr"},
      // Reserved words: quoted, lower-cased as folding would have made them.
      {"user", "\"user\"", "user"},
      {"ORDER", "\"order\"", "order"},
      {"Table", "\"table\"", "table"},
      {"left", "\"left\"", "left"},
      {"system_user", "\"system_user\"", "system_user"},
      // Anything else: quoted exactly, embedded quotes doubled.
      {"1db", "\"1db\"", "1db"},
      {"my-db", "\"my-db\"", "my-db"},
      {"two words", "\"two words\"", "two words"},
      {"x; DROP DATABASE postgres", "\"x; DROP DATABASE postgres\"",
       "x; DROP DATABASE postgres"},
      {"a\"b", "\"a\"\"b\"", "a\"b"},
      {"\"", "\"\"\"\"", "\""},
      {"it's", "\"it's\"", "it's"},
      {"Müller", "\"Müller\"", "Müller"},
      {"db$1", "\"db$1\"", "db$1"},
  };
  for (const auto& c : cases) {
    auto q = quote_identifier(c.name);
    EXPECT_EQ(q.sql, c.sql) << c.name;
    EXPECT_EQ(q.stored, c.stored) << c.name;
  }
}

TEST(QuoteIdentifier, StoredNameIsClippedLikeTheServerDoes) {
  EXPECT_EQ(quote_identifier(std::string(70, 'A')).stored, std::string(63, 'a'));
  EXPECT_EQ(quote_identifier(std::string(70, 'A')).sql, std::string(70, 'A'));
  // 62 ASCII bytes and a two-byte character: the character does not fit.
  std::string name = std::string(62, 'x') + "é";
  EXPECT_EQ(quote_identifier(name).stored, std::string(62, 'x'));
}

TEST(QuoteIdentifier, RejectsWhatCannotBeSent) {
  EXPECT_THROW(quote_identifier(""), UnquotableError);
  EXPECT_THROW(quote_identifier(std::string("a\0b", 3)), UnquotableError);
}

TEST(ReservedKeywords, EveryReservedWordOfTheServerIsFound) {
  // As the server lists them: pg_get_keywords() with catcode R or T.
  const char* words[] = {
      "all", "analyse", "analyze", "and", "any", "array", "as", "asc", "asymmetric",
      "authorization", "binary", "both", "case", "cast", "check", "collate", "collation",
      "column", "concurrently", "constraint", "create", "cross", "current_catalog",
      "current_date", "current_role", "current_schema", "current_time",
      "current_timestamp", "current_user", "default", "deferrable", "desc", "distinct",
      "do", "else", "end", "except", "false", "fetch", "for", "foreign", "freeze", "from",
      "full", "grant", "group", "having", "ilike", "in", "initially", "inner",
      "intersect", "into", "is", "isnull", "join", "lateral", "leading", "left", "like",
      "limit", "localtime", "localtimestamp", "natural", "not", "notnull", "null",
      "offset", "on", "only", "or", "order", "outer", "overlaps", "placing", "primary",
      "references", "returning", "right", "select", "session_user", "similar", "some",
      "symmetric", "table", "tablesample", "then", "to", "trailing", "true", "union",
      "unique", "user", "using", "variadic", "verbose", "when", "where", "window", "with",
      "system_user",
  };
  for (const char* w : words) EXPECT_TRUE(talvo::core::is_reserved_keyword(w)) << w;
}

TEST(ReservedKeywords, OnlyLowerCaseWordsOfTheList) {
  EXPECT_FALSE(talvo::core::is_reserved_keyword("USER"));
  EXPECT_FALSE(talvo::core::is_reserved_keyword("name"));
  EXPECT_FALSE(talvo::core::is_reserved_keyword("password"));
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
