// The stored form of a new role's password, computed on this side so the
// clear password never travels to the server (where a statement log would
// keep it).
#pragma once

#include <string>
#include <string_view>

#include "pyutil.hpp"

namespace talvo::db {

// What password_encryption names: "md5" gives "md5" + md5(password + role),
// salted with the role name as the server stores it; anything else gives a
// SCRAM-SHA-256 verifier of the SASLprep-normalised password.
std::string role_password_verifier(nb::handle password, std::string_view encryption,
                                   const std::string& stored_role);

// RFC 4013 as clients apply it before SCRAM: the password unchanged when it
// is ASCII or when normalising fails.
nb::str saslprep(nb::str password);

}  // namespace talvo::db
