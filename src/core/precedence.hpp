// Which source gives each connection value. The rules only need to know
// which candidates hold a value (Python's truthiness: not None, not empty,
// not zero); the caller keeps the values themselves, so a port stays the
// integer or text its source gave.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace talvo::core {

enum class From : unsigned char {
  argument,     // the routine's argument (an option, or its default)
  settings,     // the discovered settings dictionary
  file,         // a settings file that names PostgreSQL (get_connection's own lookup)
  environment,  // a process environment variable, named by Pick::variable
  nothing,      // no value (None)
};

struct Pick {
  From from = From::nothing;
  std::string_view variable;  // for From::environment
  bool operator==(const Pick&) const = default;
};

// Which of the five values a source holds.
struct Held {
  bool host = false, port = false, user = false, password = false, database = false;
};

// The variables get_connection reads, as far as they hold a value.
struct EnvironmentHeld {
  bool host = false;      // HOST
  bool port = false;      // PORT
  bool user = false;      // USER, and set on purpose (see user_is_deliberate)
  bool password = false;  // PASSWORD
  std::array<bool, 3> database{};  // DATABASE, DB_NAME, DB
};

inline constexpr std::array<std::string_view, 3> kDatabaseVariables = {"DATABASE", "DB_NAME", "DB"};

// A login shell sets USER to the login name, which names an account of this
// machine, not a database role: USER counts only when it holds something
// else, that is when someone set it on purpose. Without a login name to
// compare with (no password entry), a set USER counts.
bool user_is_deliberate(std::optional<std::string_view> user,
                        std::optional<std::string_view> login_name);

// get_db_config_or_args: settings win over the host, port and user options,
// the password option wins over a discovered password. `settings` is
// nullopt when nothing was discovered.
struct DbConfigPicks {
  From host, port, user, password;
};
DbConfigPicks pick_db_config(const std::optional<Held>& settings, const Held& options);

// get_connection, lowest to highest: the arguments; then one settings source
// (the settings dictionary, or a settings file naming PostgreSQL whose keys
// replace only the values they hold); then the environment.
struct TargetPicks {
  Pick host, port, user, password, database;
};
TargetPicks pick_target(const Held& arguments, const std::optional<Held>& settings,
                        const std::optional<Held>& file, const EnvironmentHeld& env);

// get_connection's own settings file (.env, .json or .yaml): it names
// PostgreSQL when one of these keys holds one of these engines, compared
// exactly; each value then comes from the first of its keys that holds one.
inline constexpr std::string_view kFileEngineKeys[] = {"engine", "ENGINE", "TYPE", "type"};
inline constexpr std::string_view kFileEngines[] = {"django.db.backends.postgresql", "postgresql",
                                                    "psql"};
inline constexpr std::string_view kFileUserKeys[] = {"USER", "user", "username", "USERNAME"};
inline constexpr std::string_view kFilePasswordKeys[] = {"PASSWORD", "password", "pass", "PASS"};
inline constexpr std::string_view kFileDatabaseKeys[] = {"NAME",   "name",   "db",      "DB",
                                                         "dbname", "DBNAME", "db_name", "DB_NAME"};
inline constexpr std::string_view kFileHostKeys[] = {"HOST", "host", "hostname"};
inline constexpr std::string_view kFilePortKeys[] = {"PORT", "port"};

bool file_engine_names_postgres(std::string_view value);

}  // namespace talvo::core
