// Where a command connects, and why: one function takes everything gathered
// for the command (the options, the discovered settings, the connect's own
// settings file, the environment, the password file) and gives the host,
// port, user, password, database and TLS settings, each with its source.
// Every precedence between those sources is written here once.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/endpoint.hpp"
#include "core/environment_stage.hpp"

namespace talvo::core {

inline constexpr std::size_t kConnectionFields = 5;  // host to database; the rest is TLS

struct Value {
  std::optional<std::string> text;  // nullopt is None; an empty text holds nothing either
  Source source;
  bool number = false;  // the source gave a number (a port of a URL or the command line)

  bool held() const { return text && !text->empty(); }
  bool operator==(const Value&) const = default;
};

struct Values {
  std::array<Value, kSettingCount> at{};

  Value& operator[](Setting f) { return at[static_cast<std::size_t>(f)]; }
  const Value& operator[](Setting f) const { return at[static_cast<std::size_t>(f)]; }
  bool held(Setting f) const { return (*this)[f].held(); }
};

// What one source states, every value from it: `source` is copied to each
// value whose own source is not set.
Values stated(const Endpoint& e, const Source& source);

// A settings source's values with their keys, the database left out when a
// default rule rather than the source named it (see Found).
Values values_of(const Found& found);

// The command line's connection options as the record holds them, defaults
// included; `typed` tells which ones the operator typed.
struct Options {
  Values values;
  std::array<bool, kSettingCount> typed{};
};

// Which connection the command opens.
enum class Purpose : unsigned char {
  database,     // a report or query on the command's database
  maintenance,  // a report on the server as a whole, through "postgres"
  superuser,    // create and drop: the superuser on "postgres", no environment overrides
};

struct PasswordFile {
  std::string path;
  std::string text;
};

struct Gathered {
  Options options;
  // The settings the discovery gives the command (the settings dictionary),
  // and whether the described discovery found them (its host, port and
  // database win over -H, --port and -d) or a later look at the project or
  // the environment did (what the operator typed wins over those).
  std::optional<Values> settings;
  bool settings_from_first_look = true;
  // The connect's own .env/.json/.yaml lookup, when its engine names
  // PostgreSQL: the values it holds replace the ones given.
  std::optional<Values> connection_file;
  Environment env;
  std::optional<std::string> login_name;
  std::optional<PasswordFile> password_file;  // only one libpq would read
  Purpose purpose = Purpose::database;
};

struct Target {
  Values values;
  // Whether a file, the environment or an option wrote the database name
  // the command works on. A default never counts.
  bool database_found = false;
};

Target resolve_target(const Gathered& g);

// The record once the discovery's settings are on it: their database, host
// and port replace the options'.
Options with_discovered(Options options, const std::optional<Values>& settings);

// What a later look at the project or the environment leaves for the
// settings: the values the operator typed are not replaced.
Values without_typed(Values found, const Options& options);

// get_db_config_or_args: settings win over the host, port and user options,
// the password option wins over a discovered password. Only the first four
// fields are set.
Values db_config(const std::optional<Values>& settings, const Options& options);

// get_connection's own rule. `arguments` first; then either the discovered
// settings in front of them and the environment behind (`settings_first`,
// its auto_settings), or the values the connection file holds; then the
// environment variables over all; then the password file for a connection
// that has no password yet. TLS: the settings', else the PGSSL* variables.
struct ConnectInputs {
  Values arguments;
  std::optional<Values> settings;
  bool settings_first = false;
  std::optional<Values> connection_file;
  const Environment* env = nullptr;
  std::optional<std::string> login_name;
  std::optional<PasswordFile> password_file;
};
Values connect_values(const ConnectInputs& in);

// A login shell sets USER to the login name, which names an account of this
// machine, not a database role: USER counts only when it holds something
// else, that is when someone set it on purpose. Without a login name to
// compare with (no password entry), a set USER counts.
bool user_is_deliberate(std::optional<std::string_view> user,
                        std::optional<std::string_view> login_name);

inline constexpr std::array<std::string_view, 3> kDatabaseVariables = {"DATABASE", "DB_NAME", "DB"};

}  // namespace talvo::core
