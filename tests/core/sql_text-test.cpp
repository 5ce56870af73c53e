#include "core/sql_text.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
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

TEST(TransactionControl, NamesTheStatementWhateverItsSpelling) {
  using talvo::core::transaction_control;
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"PREPARE TRANSACTION 'x'", "PREPARE TRANSACTION"},
      {"prepare transaction 'x'", "PREPARE TRANSACTION"},
      {"  -- why\n/* a /* nested */ note */\n Prepare\n\tTransaction 'x'", "PREPARE TRANSACTION"},
      {"PREPARE /* c */ TRANSACTION 'x'", "PREPARE TRANSACTION"},
      {"COMMIT PREPARED 'x'", "COMMIT PREPARED"},
      {"rollback prepared 'x'", "ROLLBACK PREPARED"},
      {"COMMIT", "COMMIT"}, {"commit;", "COMMIT"}, {"END", "END"}, {"abort", "ABORT"},
      {"ROLLBACK", "ROLLBACK"}, {"ROLLBACK TO SAVEPOINT s", "ROLLBACK"},
      {"BEGIN", "BEGIN"}, {"start transaction read write", "START TRANSACTION"},
      {"SAVEPOINT s", "SAVEPOINT"}, {"RELEASE s", "RELEASE"},
      // Statements that stay inside the transaction.
      {"PREPARE q AS SELECT 1", std::nullopt},
      {"SELECT 'COMMIT'", std::nullopt},
      {"-- COMMIT\nSELECT 1", std::nullopt},
      {"COMMITTED", std::nullopt},
      {"ENDS", std::nullopt},
      {"START", std::nullopt},
      {"", std::nullopt},
      {"/* unterminated COMMIT", std::nullopt},
      {"\"COMMIT\"", std::nullopt},
  };
  for (const auto& [sql, name] : cases) EXPECT_EQ(transaction_control(sql), name) << sql;
}

TEST(CountedStatement, TheRowsShownThenTheCount) {
  using talvo::core::counted_statement;
  using talvo::core::Holder;
  using talvo::core::RowForm;
  EXPECT_EQ(counted_statement("SELECT n, n FROM t ORDER BY 1", 2, 100, RowForm::columns,
                              Holder::subquery),
            "SELECT CASE WHEN talvo_n > 100 THEN talvo_n END AS talvo_total, "
            "CASE WHEN talvo_n <= 100 THEN talvo_1 END, CASE WHEN talvo_n <= 100 THEN talvo_2 END\n"
            "FROM (SELECT row_number() OVER () AS talvo_n, lead(true, 1, false) OVER () AS "
            "talvo_more, *\n      FROM (\nSELECT n, n FROM t ORDER BY 1\n) AS talvo_rows "
            "(talvo_1, talvo_2)) AS talvo_counted\nWHERE talvo_n <= 100 OR NOT talvo_more");
  EXPECT_EQ(counted_statement("INSERT INTO t VALUES (1) RETURNING n", 1, 9223372036854775807LL,
                              RowForm::text, Holder::with_query),
            "WITH talvo_rows (talvo_1) AS (\nINSERT INTO t VALUES (1) RETURNING n\n)\n"
            "SELECT CASE WHEN talvo_n > 9223372036854775807 THEN talvo_n END AS talvo_total, "
            "CASE WHEN talvo_n <= 9223372036854775807 THEN ROW(talvo_1)::text END\n"
            "FROM (SELECT row_number() OVER () AS talvo_n, lead(true, 1, false) OVER () AS "
            "talvo_more, *\n      FROM talvo_rows) AS talvo_counted\n"
            "WHERE talvo_n <= 9223372036854775807 OR NOT talvo_more");
  // Every row: nothing to number.
  EXPECT_EQ(counted_statement("VALUES (1, 2)", 2, std::nullopt, RowForm::text, Holder::subquery),
            "SELECT NULL::bigint AS talvo_total, ROW(talvo_1, talvo_2)::text FROM "
            "(\nVALUES (1, 2)\n) AS talvo_rows (talvo_1, talvo_2)");
}
