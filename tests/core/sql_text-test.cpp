#include "core/sql_text.hpp"

#include <gtest/gtest.h>

#include <utility>

using talvo::core::refuses_wrapping;
using talvo::core::statement_body;

TEST(StatementBody, EndsAtTheLastToken) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"SELECT 1", "SELECT 1"},
      {"SELECT 1;", "SELECT 1"},
      {"SELECT 1 ;; \n\t", "SELECT 1"},
      {"SELECT 1 -- note", "SELECT 1"},
      {"SELECT 1; -- note\n/* more */\n", "SELECT 1"},
      {"-- lead\nSELECT 1", "-- lead\nSELECT 1"},
      {"SELECT 1 /* a /* nested */ still comment */", "SELECT 1"},
      {"", ""},
      {"-- only a comment", ""},
      // What quotes hold never counts.
      {"SELECT '--;' -- x", "SELECT '--;'"},
      {"SELECT 'it''s;' ;", "SELECT 'it''s;'"},
      {"SELECT E'\\';--' ;", "SELECT E'\\';--'"},
      {"SELECT 'a\\' -- backslash is plain here", "SELECT 'a\\'"},
      {"SELECT \"a;--\"\"b\" ;", "SELECT \"a;--\"\"b\""},
      {"SELECT $$;--$$ ;", "SELECT $$;--$$"},
      {"SELECT $f$ $$ ;-- $f$ -- x", "SELECT $f$ $$ ;-- $f$"},
      {"SELECT $1 -- param", "SELECT $1"},
      {"SELECT a$b$ FROM t -- $b$ is part of a name", "SELECT a$b$ FROM t"},
      {"SELECT 'x'/*c*/", "SELECT 'x'"},
      // Unterminated: everything to the end belongs to it.
      {"SELECT 'open -- ;", "SELECT 'open -- ;"},
  };
  for (const auto& [sql, body] : cases) EXPECT_EQ(statement_body(sql), body) << sql;
}

TEST(RefusesWrapping, SyntaxAndUnsupportedFeaturesOnly) {
  EXPECT_TRUE(refuses_wrapping("42601"));
  EXPECT_TRUE(refuses_wrapping("0A000"));
  EXPECT_FALSE(refuses_wrapping("22012"));  // division by zero: the statement ran
  EXPECT_FALSE(refuses_wrapping("42P01"));
  EXPECT_FALSE(refuses_wrapping(""));
}
