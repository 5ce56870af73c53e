#include "settings/aliases.hpp"

#include <array>
#include <string>

namespace talvo::settings {
namespace {

// --- Django DATABASES entry -------------------------------------------------
constexpr std::array django_username{"USER", "USERNAME", "user", "username"};
constexpr std::array django_password{"PASSWORD", "PASS", "password", "pass"};
constexpr std::array django_database{"NAME", "DB",   "DB_NAME", "DBNAME",
                                     "name", "db",   "db_name", "dbname"};
constexpr std::array django_host{"HOST", "HOSTNAME", "SERVER", "host", "hostname", "server"};
constexpr std::array django_port{"PORT", "port"};

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
    "POSTGRESQL_USERNAME", "POSTGRESQL_USER", "POSTGRES_USERNAME", "POSTGRES_USER",
    "POSTGRE_USERNAME",    "POSTGRE_USER",    "postgresql_username", "postgresql_user",
    "postgres_username",   "postgres_user",   "postgre_username",  "postgre_user",
    "DB_USER",             "DB_USERNAME",     "db_user",           "db_username",
    "USER",                "USERNAME",        "user",              "username"};
constexpr std::array config_password{
    "POSTGRESQL_PASSWORD", "POSTGRESQL_PASS", "POSTGRES_PASSWORD", "POSTGRES_PASS",
    "POSTGRE_PASSWORD",    "POSTGRE_PASS",    "postgresql_password", "postgresql_pass",
    "postgres_password",   "postgres_pass",   "postgre_password",  "postgre_pass",
    "PASSWORD",            "PASS",            "pass",              "password",
    "db_password",         "DB_PASSWORD",     "DB_PASS",           "db_pass"};
constexpr std::array config_database{
    "POSTGRESQL_DATABASE", "POSTGRESQL_DB_NAME", "POSTGRESQL_DBNAME", "POSTGRESQL_DB",
    "POSTGRESQL_NAME",     "POSTGRES_DB_NAME",   "POSTGRES_DBNAME",   "POSTGRES_DB",
    "POSTGRES_NAME",       "POSTGRE_DB_NAME",    "POSTGRE_DBNAME",    "POSTGRE_DB",
    "POSTGRE_NAME",        "POSTGRE_DATABASE",   "POSTGRES_DATABASE", "postgresql_database",
    "postgres_database",   "postgre_database",   "postgresql_db_name", "postgresql_dbname",
    "postgresql_db",       "postgresql_name",    "postgres_db_name",  "postgres_dbname",
    "postgres_db",         "postgres_name",      "postgre_db_name",   "postgre_dbname",
    "postgre_db",          "postgre_name",       "DB",                "DB_NAME",
    "DBNAME",              "db",                 "db_name",           "dbname"};
constexpr std::array config_host{
    "POSTGRESQL_HOSTNAME", "POSTGRESQL_HOST", "POSTGRES_HOSTNAME", "POSTGRES_HOST",
    "POSTGRE_HOSTNAME",    "POSTGRE_HOST",    "postgresql_hostname", "postgresql_host",
    "postgres_hostname",   "postgres_host",   "postgre_hostname",  "postgre_host",
    "db_host",             "DB_HOST",         "SERVER",            "host",
    "hostname",            "server"};
constexpr std::array config_port{
    "POSTGRESQL_PORT", "POSTGRES_PORT", "POSTGRE_PORT", "postgresql_port", "postgres_port",
    "postgre_port",    "db_port",       "DB_PORT",      "PORT",            "port"};

constexpr std::array<Alias, 5> config_table{{
    {"username", config_username},
    {"password", config_password},
    {"database", config_database},
    {"host", config_host},
    {"port", config_port},
}};

// --- debug dump ---------------------------------------------------------------
// Not the lookup lists: DB_USERNAME and db_username are left out, and the
// three *_DATABASE spellings come first.
constexpr std::array dumped_user_keys{
    "POSTGRESQL_USERNAME", "POSTGRESQL_USER",   "POSTGRES_USERNAME", "POSTGRES_USER",
    "POSTGRE_USERNAME",    "POSTGRE_USER",      "postgresql_username", "postgresql_user",
    "postgres_username",   "postgres_user",     "postgre_username",  "postgre_user",
    "DB_USER",             "db_user",           "USER",              "USERNAME",
    "user",                "username"};
constexpr std::array dumped_database_keys{
    "POSTGRESQL_DATABASE", "POSTGRES_DATABASE",  "POSTGRE_DATABASE",  "POSTGRESQL_DB_NAME",
    "POSTGRESQL_DBNAME",   "POSTGRESQL_DB",      "POSTGRESQL_NAME",   "POSTGRES_DB_NAME",
    "POSTGRES_DBNAME",     "POSTGRES_DB",        "POSTGRES_NAME",     "POSTGRE_DB_NAME",
    "POSTGRE_DBNAME",      "POSTGRE_DB",         "POSTGRE_NAME",      "postgresql_database",
    "postgres_database",   "postgre_database",   "postgresql_db_name", "postgresql_dbname",
    "postgresql_db",       "postgresql_name",    "postgres_db_name",  "postgres_dbname",
    "postgres_db",         "postgres_name",      "postgre_db_name",   "postgre_dbname",
    "postgre_db",          "postgre_name",       "DB",                "DB_NAME",
    "DBNAME",              "db",                 "db_name",           "dbname"};

nb::object lookup(nb::handle cfg, const char* key) { return cfg.attr("get")(key); }

}  // namespace

const AliasTable django_aliases{django_table};
const AliasTable config_aliases{config_table};

nb::dict assemble_settings(nb::handle cfg, AliasTable table) {
  nb::dict result;
  for (const Alias& alias : table) {
    nb::object value = nb::none();
    for (const char* key : alias.spellings) {
      value = lookup(cfg, key);
      if (truthy(value)) break;
    }
    result[alias.output_key] = value;
  }
  return result;
}

void dump_user_and_database_keys(nb::handle cfg) {
  for (const char* key : dumped_user_keys)
    log("debug", std::string(key) + " = " + text(lookup(cfg, key)));
  for (const char* key : dumped_database_keys)
    log("debug", std::string("cfg.get(\"") + key + "\") = " + text(lookup(cfg, key)));
}

}  // namespace talvo::settings
