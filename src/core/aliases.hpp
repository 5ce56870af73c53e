// The key spellings under which the five connection values are looked up in
// a settings source, and the debug dump of the user and database-name
// spellings. Each list is used exactly in the order written: the first
// truthy value wins.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace talvo::core {

using KeyList = std::span<const std::string_view>;

struct Alias {
  std::string_view output_key;
  KeyList spellings;
};

// Output keys in the order the settings dictionary holds them:
// username, password, database, host, port.
using AliasTable = std::span<const Alias, 5>;

// An entry of a Django DATABASES setting.
extern const AliasTable django_aliases;
// A configuration file read by the .env loader (.env, .json, .yaml, ...).
extern const AliasTable config_aliases;

// Dumped at debug level after a configuration file qualified: not the lookup
// lists (DB_USERNAME and db_username are left out, and the three *_DATABASE
// spellings come first).
extern const KeyList dumped_user_keys;
extern const KeyList dumped_database_keys;

// --- which sources name PostgreSQL ---------------------------------------------

// Keys whose value is a connection URL, in the order they are tried.
inline constexpr std::string_view kUrlKeys[] = {"database_url", "DATABASE_URL", "database_uri",
                                                "DATABASE_URI"};
// Keys whose value may name the engine, in the order they are tried.
inline constexpr std::string_view kEngineKeys[] = {"engine", "ENGINE", "TYPE", "type", "db_type"};
// Their mere presence, with a value, marks a configuration file as PostgreSQL.
inline constexpr std::string_view kPostgresPortKeys[] = {
    "POSTGRESQL_PORT", "postgresql_port", "POSTGRES_PORT", "postgres_port",
    "POSTGRE_PORT",    "postgre_port"};

// Each reader has always had its own idea of an engine value naming
// PostgreSQL; they are kept apart so none of them widens unnoticed.
enum class EngineRule : unsigned char {
  django,           // a DATABASES entry's ENGINE
  config_file,      // a configuration file's engine key, lower-cased
  connection_file,  // the connect's own settings file, compared exactly
};
bool engine_names_postgres(std::string_view value, EngineRule rule);

// The connect's own settings file (.env, .json or .yaml): it names
// PostgreSQL when one of these keys holds one of its engines; each value
// then comes from the first of its keys that holds one.
inline constexpr std::string_view kConnectionFileEngineKeys[] = {"engine", "ENGINE", "TYPE", "type"};
inline constexpr std::string_view kConnectionFileHostKeys[] = {"HOST", "host", "hostname"};
inline constexpr std::string_view kConnectionFilePortKeys[] = {"PORT", "port"};
inline constexpr std::string_view kConnectionFileUserKeys[] = {"USER", "user", "username",
                                                               "USERNAME"};
inline constexpr std::string_view kConnectionFilePasswordKeys[] = {"PASSWORD", "password", "pass",
                                                                   "PASS"};
inline constexpr std::string_view kConnectionFileDatabaseKeys[] = {
    "NAME", "name", "db", "DB", "dbname", "DBNAME", "db_name", "DB_NAME"};

// The spelling whose value is taken: the first one `truthy` accepts, else
// the last one (whose value is kept as it is, empty or missing). Spellings
// after the first truthy one are not asked about.
template <class Truthy>
std::size_t pick_spelling(KeyList spellings, Truthy&& truthy) {
  for (std::size_t i = 0; i < spellings.size(); ++i)
    if (truthy(spellings[i])) return i;
  return spellings.size() - 1;
}

}  // namespace talvo::core
