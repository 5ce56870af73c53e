// SQL text read the way the server's lexer reads it, as far as wrapping one
// statement in another needs.
#pragma once

#include <cstddef>
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
// statement: a syntax error (a subquery, a WITH query and COPY take only
// some statements) or a feature not supported (a data-modifying WITH that is
// not at the top). Both are raised while the text is analysed, before
// anything runs.
bool refuses_wrapping(std::string_view sqlstate);

// How the rows of a counted statement come back.
enum class RowForm {
  columns,  // the statement's own columns
  text,     // one column: each row as the server writes a row value
};

// What holds the statement inside the counted one. A subquery takes every
// query, a volatile one included, and streams its rows; a WITH query also
// takes a data-modifying statement (INSERT ... RETURNING), but the server
// keeps the rows of a volatile query in a work table there.
enum class Holder { subquery, with_query };

// The statement (its body, returning `columns` columns, at least one) as one
// query that runs it once and whole and numbers its rows on the server, so
// that only the rows shown travel. Its first column is the row count, null
// in every row but one; then come the statement's values. With `shown`, the
// first `shown` rows come, then only the last row if it is not among them:
// it carries the count and no values. Without, every row comes and none has
// the count. The statement stays in the text as the operator wrote it, so
// pg_stat_activity shows it while it runs.
std::string counted_statement(std::string_view body, std::size_t columns,
                              std::optional<std::int64_t> shown, RowForm form, Holder holder);

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
