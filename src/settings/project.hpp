// The settings a command works with: the plain discovery first, then a
// second look at the project's framework files, then the environment.
#pragma once

#include "pyutil.hpp"
#include "settings/given.hpp"

namespace talvo::settings {

// Runs the discovery once for the command in `args` and returns the settings
// dictionary (or None). Whatever the second look or the environment found is
// kept in _settings_cache, so every later discovery call of the command gets
// it; a connection URL's user, password and database are percent-decoded
// there, as libpq decodes them.
nb::object discover_for_command(nb::handle args, const GivenOptions& given);

// The line that follows "Database name required": what was looked at, where.
void print_nothing_found_hint(nb::handle args);

}  // namespace talvo::settings
