// Where a command connects: the inputs gathered from the record, the
// settings, the environment and the files, handed to the core's rules, and
// the result handed back as Python values.
#pragma once

#include <optional>

#include "core/target.hpp"
#include "pyutil.hpp"
#include "settings/given.hpp"

namespace talvo::settings {

// A Python value as the core reads it: None is no value; an empty text or
// a zero holds nothing, as Python's truth says.
core::Value value_of(nb::handle v, core::Source source);
nb::object as_text(const core::Value& v);  // str, or None
nb::object as_port(const core::Value& v);  // int, or None: a decimal text is read as its number

// The five connection values a routine was called with, `routine` named as
// their source.
core::Values argument_values(nb::handle host, nb::handle port, nb::handle user,
                             nb::handle password, nb::handle database, const char* routine);

// Where a settings dictionary came from, noted by whoever makes it, so the
// sources of its values can be told when it is used. `first_look`: the
// plain discovery found it (rather than a later look at the project or the
// environment).
void note_origin(nb::handle settings, const core::Values& values, bool first_look);

// The values of a settings dictionary (parse_django_settings' result), each
// with its noted source; nullopt for None or an empty one.
std::optional<core::Values> settings_values(nb::handle settings);

// The line of each source's key in its file, where it can be told.
void add_key_lines(core::Values& values);
void add_key_lines(core::Found& found);

// The record's connection options; `given` tells which were typed.
core::Options options_of(nb::handle args, const GivenOptions& given);

// get_connection's own lookup: the first .env, .json or .yaml file the
// search finds, when one of its engine keys names PostgreSQL exactly. With
// `announce`, says so as get_connection does.
std::optional<core::Values> connection_file_values(nb::handle max_depth_up,
                                                   nb::handle max_depth_down, bool announce);

// The password file, when libpq would read it.
std::optional<core::PasswordFile> password_file();

// The target of the command in `args`: its options (with the typed ones
// noted for the command), the settings its discovery gives, the
// connection file, the environment and the password file.
core::Target command_target(nb::handle args, core::Purpose purpose);

// `values` with the command's TLS settings where they have none.
core::Values with_command_tls(core::Values values);

// The keyword arguments of asyncpg.connect for `v`: the five values, and
// the TLS settings as ssl= and a dsn carrying the certificate files.
nb::dict connect_keywords(const core::Values& v);

}  // namespace talvo::settings
