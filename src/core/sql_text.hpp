// SQL text read the way the server's lexer reads it, as far as wrapping one
// statement in another needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::core {

// One statement without what may follow its last token: blanks, comments and
// semicolons. Wrapped in parentheses (COPY (...) TO, a subquery) the
// statement must end there: a trailing "-- note" would swallow the closing
// parenthesis, a trailing ";" would end the wrapper early. Quoted texts,
// quoted names, dollar-quoted bodies and nested /* */ comments are passed over
// whole, so what they hold never counts.
std::string_view statement_body(std::string_view sql);

// Whether an error (by its SQLSTATE) says the wrapper could not hold the
// statement: a syntax error (DECLARE and COPY take only some statements) or
// a feature not supported (a data-modifying WITH in a cursor). Both are
// raised while the text is analysed, before anything runs.
bool refuses_wrapping(std::string_view sqlstate);

// How the rows of a counted statement come back.
enum class RowForm {
  columns,  // the statement's own columns
  text,     // one column: each row as the server writes a row value
};

// The statement (its body) run once as a query that also counts its rows on
// the server, so that only the rows wanted travel: the count comes first in
// every row, then the row itself; with a limit, at most that many rows come.
// The statement stays in the text as the operator wrote it, so
// pg_stat_activity shows it while it runs.
std::string counted_statement(std::string_view body, std::optional<std::int64_t> limit,
                              RowForm form);

// The statement a text opens with when it controls the transaction itself
// (BEGIN, START TRANSACTION, COMMIT, END, ROLLBACK, ABORT, SAVEPOINT,
// RELEASE, PREPARE TRANSACTION, COMMIT PREPARED, ROLLBACK PREPARED), by its
// upper-case name; nullopt for any other. Such a statement ends the
// transaction it runs in, or hands it to the server to outlive the session
// (a prepared transaction holds back vacuum and blocks DROP DATABASE until
// someone finishes it), so no transaction can contain it. Leading blanks and
// comments are passed over; case does not matter.
std::optional<std::string_view> transaction_control(std::string_view sql);

}  // namespace talvo::core
