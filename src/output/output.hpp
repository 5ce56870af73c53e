// Console output and logging.
#pragma once

#include <string>

#include "pyutil.hpp"

namespace talvo::output {

void define_logger_factory(nb::module_& m);  // get_logger
void define_console(nb::module_& m);         // print_exception, rich_print

// The module's print_exception for an error caught in C++. A C++ catch block
// is not a Python exception handler, so print_exception() alone would find no
// exception; `e` is made the handled exception while it prints. An error
// without a trace prints nothing: the caller's one-line message tells it.
void print_exception(const nb::python_error& e);

// A copy of a value for the logs: the values of secret keys (passwords,
// tokens) and the passwords inside texts (URLs, keyword/value and ADO.NET
// strings, see core::mask_secrets) replaced by one "*" per character, at any
// depth of dictionaries and lists. Everything else is unchanged.
nb::object masked(nb::handle value);

// While a command writes CSV or JSON, standard output carries that data alone
// and every message goes to standard error. Set for a whole command by main,
// and by a handler for its own run (so one called on its own behaves the
// same); the previous choice comes back when the handler ends.
class MessagesAside {
 public:
  explicit MessagesAside(bool aside);
  ~MessagesAside();
  MessagesAside(const MessagesAside&) = delete;
  MessagesAside& operator=(const MessagesAside&) = delete;

  // For the rest of the command, with nothing to restore.
  static void set(bool aside);
  // Whether messages go to standard error now (the data to standard output).
  static bool active();
  // For the rest of the process messages are dropped unprinted: its output
  // goes nowhere (a press of TAB).
  static void discard();
  static bool discarded();

 private:
  bool previous_;
};

// Bytes of a command's data, handed to standard output as they are (UTF-8),
// behind whatever text was printed before them.
void write_data(std::string_view bytes);
// Flushes standard output, where the end of every command's output waits.
void flush_data();

// Standard output cannot be written (a full disk, a closed descriptor, a
// reader that has gone): the command ends there with one line on standard
// error and status 1. Nothing more is written to standard output, which is
// pointed at the null device, so nothing fails again as the process ends.
// A reader that has gone gets no line, as with any program piped to head.
[[noreturn]] void standard_output_failed(const nb::python_error& e);
[[noreturn]] void standard_output_failed(const std::string& reason);

// A password for a log line: one "*" per character; None stays "None".
std::string masked_text(nb::handle value);

}  // namespace talvo::output
