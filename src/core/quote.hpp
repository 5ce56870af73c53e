// Putting role and database names and text values into SQL statements.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace talvo::core {

// A name as it goes into a statement, and the name the server will store
// for it (what the md5 password form is salted with).
struct SqlName {
  std::string sql;
  std::string stored;
};

// Raised for a value that cannot be sent in a statement at all.
class UnquotableError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A plain identifier (ASCII letters, digits, underscores, no leading digit)
// that is not a reserved word goes in bare, so the server folds it to lower
// case as it does for any unquoted name; a reserved word goes in quoted in
// its lower-cased form, which is what folding would have given; anything else
// is quoted with embedded double quotes doubled. Empty names and names with a
// NUL character throw UnquotableError.
SqlName quote_identifier(std::string_view name);

// A string literal that means `value` whatever standard_conforming_strings
// says: backslashes force the escape-string form. A NUL character throws
// UnquotableError.
std::string quote_literal(std::string_view value);

// `word` must already be in lower case.
bool is_reserved_keyword(std::string_view word);

}  // namespace talvo::core
