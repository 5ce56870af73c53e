// The process environment as the core's rules read it.
#pragma once

#include <optional>
#include <string>

#include "core/endpoint.hpp"
#include "core/environment_stage.hpp"
#include "pyutil.hpp"

namespace talvo::settings {

// os.environ, the text entries.
core::Environment environment_snapshot();

// The login name of the effective user (its password database entry).
std::optional<std::string> login_name();

// USER, when someone set it on purpose rather than the login.
nb::object deliberate_user();

// A file's text, or nullopt when it cannot be read.
std::optional<std::string> read_text_file(const std::string& path);

}  // namespace talvo::settings
