// What the program asks at the keyboard: masked passwords and typed
// confirmations. Two rules for all of them: when nothing can be typed (the
// input is closed), the command ends there with "nothing typed; aborted" and
// status 1; Ctrl-C ends it at once with "❌ Interrupted" and status 130. In
// both cases it has changed nothing more.
#pragma once

#include <string>
#include <string_view>

#include "pyutil.hpp"

namespace talvo::output {

// getpass.getpass, bound by the caller at the moment it starts.
nb::object password_prompt();

// The typed answer to the masked prompt `ask`.
nb::object read_password(nb::handle ask, const std::string& prompt);

// "[" + pid + "]Password for " + user + suffix, asked with the masked prompt.
nb::str ask_password(nb::handle user, std::string_view suffix = ": ");

// One line from standard input without its line end.
nb::str read_line();

// $PASSWORD, or None.
nb::object environment_password();

std::string process_id();

}  // namespace talvo::output
