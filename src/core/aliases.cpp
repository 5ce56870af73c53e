#include "core/aliases.hpp"

#include <initializer_list>

#include "core/document.hpp"

namespace talvo::core {
namespace {

using namespace std::string_view_literals;

// --- Django DATABASES entry -------------------------------------------------
constexpr std::array django_username{"USER"sv, "USERNAME"sv, "user"sv, "username"sv};
constexpr std::array django_password{"PASSWORD"sv, "PASS"sv, "password"sv, "pass"sv};
constexpr std::array django_database{"NAME"sv, "DB"sv,   "DB_NAME"sv, "DBNAME"sv,
                                     "name"sv, "db"sv,   "db_name"sv, "dbname"sv};
constexpr std::array django_host{"HOST"sv, "HOSTNAME"sv, "SERVER"sv,
                                 "host"sv, "hostname"sv, "server"sv};
constexpr std::array django_port{"PORT"sv, "port"sv};

constexpr std::array<Alias, 5> django_table{{
    {"username", django_username},
    {"password", django_password},
    {"database", django_database},
    {"host", django_host},
    {"port", django_port},
}};

// --- configuration files ----------------------------------------------------
// Deliberately no HOST, HOSTNAME, NAME, name, DATABASE or database: in a .env
// file those are too often someone else's variables.
constexpr std::array config_username{
    "POSTGRESQL_USERNAME"sv, "POSTGRESQL_USER"sv, "POSTGRES_USERNAME"sv, "POSTGRES_USER"sv,
    "POSTGRE_USERNAME"sv,    "POSTGRE_USER"sv,    "postgresql_username"sv, "postgresql_user"sv,
    "postgres_username"sv,   "postgres_user"sv,   "postgre_username"sv,  "postgre_user"sv,
    "DB_USER"sv,             "DB_USERNAME"sv,     "db_user"sv,           "db_username"sv,
    "USER"sv,                "USERNAME"sv,        "user"sv,              "username"sv};
constexpr std::array config_password{
    "POSTGRESQL_PASSWORD"sv, "POSTGRESQL_PASS"sv, "POSTGRES_PASSWORD"sv, "POSTGRES_PASS"sv,
    "POSTGRE_PASSWORD"sv,    "POSTGRE_PASS"sv,    "postgresql_password"sv, "postgresql_pass"sv,
    "postgres_password"sv,   "postgres_pass"sv,   "postgre_password"sv,  "postgre_pass"sv,
    "PASSWORD"sv,            "PASS"sv,            "pass"sv,              "password"sv,
    "db_password"sv,         "DB_PASSWORD"sv,     "DB_PASS"sv,           "db_pass"sv};
constexpr std::array config_database{
    "POSTGRESQL_DATABASE"sv, "POSTGRESQL_DB_NAME"sv, "POSTGRESQL_DBNAME"sv, "POSTGRESQL_DB"sv,
    "POSTGRESQL_NAME"sv,     "POSTGRES_DB_NAME"sv,   "POSTGRES_DBNAME"sv,   "POSTGRES_DB"sv,
    "POSTGRES_NAME"sv,       "POSTGRE_DB_NAME"sv,    "POSTGRE_DBNAME"sv,    "POSTGRE_DB"sv,
    "POSTGRE_NAME"sv,        "POSTGRE_DATABASE"sv,   "POSTGRES_DATABASE"sv, "postgresql_database"sv,
    "postgres_database"sv,   "postgre_database"sv,   "postgresql_db_name"sv, "postgresql_dbname"sv,
    "postgresql_db"sv,       "postgresql_name"sv,    "postgres_db_name"sv,  "postgres_dbname"sv,
    "postgres_db"sv,         "postgres_name"sv,      "postgre_db_name"sv,   "postgre_dbname"sv,
    "postgre_db"sv,          "postgre_name"sv,       "DB"sv,                "DB_NAME"sv,
    "DBNAME"sv,              "db"sv,                 "db_name"sv,           "dbname"sv};
constexpr std::array config_host{
    "POSTGRESQL_HOSTNAME"sv, "POSTGRESQL_HOST"sv, "POSTGRES_HOSTNAME"sv, "POSTGRES_HOST"sv,
    "POSTGRE_HOSTNAME"sv,    "POSTGRE_HOST"sv,    "postgresql_hostname"sv, "postgresql_host"sv,
    "postgres_hostname"sv,   "postgres_host"sv,   "postgre_hostname"sv,  "postgre_host"sv,
    "db_host"sv,             "DB_HOST"sv,         "SERVER"sv,            "host"sv,
    "hostname"sv,            "server"sv};
constexpr std::array config_port{
    "POSTGRESQL_PORT"sv, "POSTGRES_PORT"sv, "POSTGRE_PORT"sv, "postgresql_port"sv, "postgres_port"sv,
    "postgre_port"sv,    "db_port"sv,       "DB_PORT"sv,      "PORT"sv,            "port"sv};

constexpr std::array<Alias, 5> config_table{{
    {"username", config_username},
    {"password", config_password},
    {"database", config_database},
    {"host", config_host},
    {"port", config_port},
}};

// --- debug dump ---------------------------------------------------------------
constexpr std::array dumped_user{
    "POSTGRESQL_USERNAME"sv, "POSTGRESQL_USER"sv,   "POSTGRES_USERNAME"sv, "POSTGRES_USER"sv,
    "POSTGRE_USERNAME"sv,    "POSTGRE_USER"sv,      "postgresql_username"sv, "postgresql_user"sv,
    "postgres_username"sv,   "postgres_user"sv,     "postgre_username"sv,  "postgre_user"sv,
    "DB_USER"sv,             "db_user"sv,           "USER"sv,              "USERNAME"sv,
    "user"sv,                "username"sv};
constexpr std::array dumped_database{
    "POSTGRESQL_DATABASE"sv, "POSTGRES_DATABASE"sv,  "POSTGRE_DATABASE"sv,  "POSTGRESQL_DB_NAME"sv,
    "POSTGRESQL_DBNAME"sv,   "POSTGRESQL_DB"sv,      "POSTGRESQL_NAME"sv,   "POSTGRES_DB_NAME"sv,
    "POSTGRES_DBNAME"sv,     "POSTGRES_DB"sv,        "POSTGRES_NAME"sv,     "POSTGRE_DB_NAME"sv,
    "POSTGRE_DBNAME"sv,      "POSTGRE_DB"sv,         "POSTGRE_NAME"sv,      "postgresql_database"sv,
    "postgres_database"sv,   "postgre_database"sv,   "postgresql_db_name"sv, "postgresql_dbname"sv,
    "postgresql_db"sv,       "postgresql_name"sv,    "postgres_db_name"sv,  "postgres_dbname"sv,
    "postgres_db"sv,         "postgres_name"sv,      "postgre_db_name"sv,   "postgre_dbname"sv,
    "postgre_db"sv,          "postgre_name"sv,       "DB"sv,                "DB_NAME"sv,
    "DBNAME"sv,              "db"sv,                 "db_name"sv,           "dbname"sv};

}  // namespace

const AliasTable django_aliases{django_table};
const AliasTable config_aliases{config_table};
const KeyList dumped_user_keys{dumped_user};
const KeyList dumped_database_keys{dumped_database};

bool engine_names_postgres(std::string_view value, EngineRule rule) {
  auto one_of = [&](std::initializer_list<std::string_view> names, std::string_view v) {
    for (std::string_view name : names)
      if (v == name) return true;
    return false;
  };
  switch (rule) {
    case EngineRule::django:
      // Whole values: a driver suffix such as _psycopg2 does not qualify.
      return one_of({"django.db.backends.postgresql", ".postgresql"}, value) ||
             one_of({"postgresql", "postgres", "postgre"}, ascii_lower(value));
    case EngineRule::config_file:
      return one_of({"django.db.backends.postgresql", "postgresql", "psql", "postgres", "postgre"},
                    ascii_lower(value));
    case EngineRule::connection_file:
      break;
  }
  return one_of({"django.db.backends.postgresql", "postgresql", "psql"}, value);
}

}  // namespace talvo::core
