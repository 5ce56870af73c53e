// SQL text read the way the server's lexer reads it, as far as wrapping one
// statement in another needs.
#pragma once

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

}  // namespace talvo::core
