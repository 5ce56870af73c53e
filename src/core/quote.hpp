// Putting role and database names and text values into SQL statements.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace talvo::core {

// Raised for a value that cannot be sent in a statement at all.
class UnquotableError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The server keeps at most NAMEDATALEN - 1 bytes of a name and silently cuts
// the rest, so a longer name would reach a different object.
inline constexpr std::size_t kMaxNameBytes = 63;

bool fits_name_limit(std::string_view name);

// The name as it goes into a statement, meaning exactly `name`: bare only when
// the server would read it back unchanged (lower-case ASCII letters, digits
// and underscores, no leading digit, and not a keyword that must be quoted);
// anything else double-quoted with embedded double quotes doubled. Empty
// names and names with a NUL character throw UnquotableError.
std::string quote_identifier(std::string_view name);

// A string literal that means `value` whatever standard_conforming_strings
// says: backslashes force the escape-string form. A NUL character throws
// UnquotableError.
std::string quote_literal(std::string_view value);

// Whether `word` is a key word that cannot stand bare as a name: every
// category but the unreserved one. `word` must already be in lower case.
bool is_quoted_keyword(std::string_view word);

}  // namespace talvo::core
