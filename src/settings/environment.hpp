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

// The TLS settings a connection uses: those of the discovered settings
// (the cache), else the PGSSL* variables.
core::Tls connection_tls();

// Adds ssl= and, for certificate files, a dsn carrying them, to the keyword
// arguments of asyncpg.connect; nothing when no TLS setting is made, so the
// driver's own default (libpq's "prefer") applies.
void add_tls_arguments(nb::dict& kwargs);

}  // namespace talvo::settings
