// Console output and logging.
#pragma once

#include <string>

#include "pyutil.hpp"

namespace talvo::output {

void define_logger_factory(nb::module_& m);  // get_logger
void define_console(nb::module_& m);         // print_exception, rich_print

// The module's print_exception for an error caught in C++. A C++ catch block
// is not a Python exception handler, so print_exception() alone would find no
// exception; `e` is made the handled exception while it prints.
void print_exception(const nb::python_error& e);

// A copy of a value for the logs: the values of secret keys (passwords,
// tokens) and the passwords inside URLs replaced by one "*" per character,
// at any depth of dictionaries and lists. Everything else is unchanged.
nb::object masked(nb::handle value);

// A password for a log line: one "*" per character; None stays "None".
std::string masked_text(nb::handle value);

}  // namespace talvo::output
