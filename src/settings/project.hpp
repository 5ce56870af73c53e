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

// A settings file that could not be read (malformed, unreadable, a
// settings.py that raised) is an error of the command, named by its file,
// when it was named before the command, or when no other file gave the
// database: going on would connect somewhere the operator never meant.
// Raises it then; otherwise does nothing.
void require_readable_settings(nb::handle args, nb::handle settings);

// The line that follows "Database name required": what was looked at, where.
void print_nothing_found_hint(nb::handle args);

}  // namespace talvo::settings
