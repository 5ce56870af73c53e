// Where get_connection connects. Sources in rising precedence: its
// arguments, one settings source, the process environment; and, when none of
// them gave a password, the password file for the server, database and role
// actually used.
#pragma once

#include "pyutil.hpp"

namespace talvo::settings {

struct Target {
  nb::object host, port, user, password, database;
};

// `auto_settings`: the settings discovery supplies the source; otherwise a
// .env, .json or .yaml file found around the working directory does, when
// it names PostgreSQL (its keys replace only the values they hold). The port
// comes out as an integer or None.
Target resolve_target(Target arguments, bool auto_settings, nb::handle settings_path,
                      nb::handle max_depth_up, nb::handle max_depth_down);

}  // namespace talvo::settings
