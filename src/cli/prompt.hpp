// The masked password prompt shared by the password policy and the
// permission-elevation retry.
#pragma once

#include <string>

#include "pyutil.hpp"

namespace talvo::cli {

// getpass.getpass, bound by the caller at the moment it starts.
nb::object password_prompt();

// The typed answer. End of input counts as an empty answer: there is no one
// to type a password, which is what an empty answer says too.
nb::object read_password(nb::handle ask, const std::string& prompt);

// $PASSWORD, or None.
nb::object environment_password();

std::string process_id();

}  // namespace talvo::cli
