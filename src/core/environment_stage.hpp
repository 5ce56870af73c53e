// What a psql user's environment says about the server, consulted when the
// project itself names none: DATABASE_URL, a service of the connection
// service file named by PGSERVICE, and the PG* variables, in that order of
// strength (a service's values win over PG* variables, as in libpq). Also
// the password file and the TLS variables, which apply whatever source
// named the server.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/endpoint.hpp"

namespace talvo::core {

using Environment = std::map<std::string, std::string, std::less<>>;

std::optional<std::string_view> lookup(const Environment& env, std::string_view name);

// The service file to read for PGSERVICE: PGSERVICEFILE, else
// ~/.pg_service.conf; nullopt when no service is asked for.
std::optional<std::string> service_file_path(const Environment& env);

// The parameters of `service` in a connection service file's text
// ([name] sections of key=value lines, # comments).
Endpoint service_parameters(std::string_view file_text, std::string_view service);

// The PG* variables: PGHOST, PGPORT, PGUSER, PGPASSWORD, PGDATABASE and the
// PGSSL* ones.
Endpoint pg_variables(const Environment& env);
Tls tls_variables(const Environment& env);

// The environment stage: nullopt when the environment names nothing.
// `service_file_text` is the text of service_file_path(env), if it could be
// read.
std::optional<Found> environment_stage(const Environment& env,
                                       std::optional<std::string_view> service_file_text);

// The application_name every session of the program reports to the server
// (pg_stat_activity, the server log): PGAPPNAME, as libpq takes it, else
// "talvo".
std::string application_name(const Environment& env);

// The password file: PGPASSFILE, else ~/.pgpass.
std::optional<std::string> password_file_path(const Environment& env);

// libpq ignores a password file that its group or others may read.
bool password_file_mode_ok(unsigned mode);

// The password of the first line of a password file that matches; each of
// the first four fields may be "*", and "\:" and "\\" escape.
std::optional<std::string> password_file_lookup(std::string_view file_text, std::string_view host,
                                                std::string_view port, std::string_view database,
                                                std::string_view user);

}  // namespace talvo::core
