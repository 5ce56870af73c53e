// The words settings files use for a database connection, whatever the
// framework: a key is split into words ("SqlSettings.DataSource" is sql,
// settings, datasource; "PAPERLESS_DBHOST" is paperless, dbhost), its last
// words say which value it holds (the field), and the words before it say
// what it belongs to (its group: a database, another engine, an environment,
// or something else). Values are read for what they name: PostgreSQL,
// another engine, or nothing known.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::core {

enum class Field : unsigned char {
  none,
  url,         // a whole connection value: URL, JDBC URL, key=value string, ...
  connection,  // a URL, or the engine's name (Laravel's DB_CONNECTION=pgsql)
  host,
  port,
  user,
  password,
  database,    // unmistakably the database's name (database, dbname)
  name,        // the database's name only under a database word (DB_NAME)
  db,          // the database's name, or the engine's (Keycloak's db=postgres)
  sslmode,
  engine,      // engine, adapter, dialect, driver, type, client, ...
};

enum class Engine : unsigned char { unknown, postgres, other };

// What a word of a key says about the keys that share it.
enum class WordKind : unsigned char {
  plain,        // an application's own word (app, kc, paperless, shadow, ...)
  context,      // speaks of a database: db, database, datasource, sql, ...
  postgres,     // names PostgreSQL: postgres, pg, pgsql, ...
  other_engine, // names another engine: mysql, sqlite, redis, ...
  environment,  // an environment: development, dev, production, test, ...
  connector,    // a word that only joins: url, jdbc, settings, options, ...
};

// The words of a key, lower-cased: split at every character that is not a
// letter or digit and where camelCase changes case; names that camelCase
// splits (MySQL, PostgreSQL, MariaDB, DataSource, ConnectionStrings) are
// joined again.
std::vector<std::string> key_words(std::string_view key);

WordKind word_kind(std::string_view word);

// Words of a group that tell nothing about which connection it is
// (default, primary, main, app, ...): they do not make a group less central.
bool neutral_word(std::string_view word);

// A fused field word that says "database" by itself: pghost, dbname, ...
bool fused_database_word(std::string_view word);

// The field a key's last words name, and how many words that takes.
struct FieldMatch {
  Field field = Field::none;
  std::size_t words = 0;
};
FieldMatch key_field(std::span<const std::string> words);

// The words of the group a setting belongs to: the words before its field,
// without the joining words and repeated database words at their end
// ("quarkus.datasource.jdbc.url" and "quarkus.datasource.username" are both
// of quarkus datasource; "Database.postgres.User.Password" is of database
// postgres).
std::vector<std::string> group_words(std::span<const std::string> words, std::size_t field_words);

// What an engine, adapter, driver or dialect value, or a database word,
// names: "pgsql", "org.postgresql.Driver", "PostgreSQLDialect", "postgresdb",
// "psycopg2" are PostgreSQL; "mysql", "sqlite3", "mssql", "mongodb" another.
Engine engine_named(std::string_view value);

// The environment a word labels, spelled as the mode names it
// ("dev" -> "development", "prod" -> "production"); nullopt for other words.
std::optional<std::string> environment_label(std::string_view word);

// Whether a label or a mode from APP_ENV and its kind name the same
// environment ("local" and "dev" are development).
bool same_environment(std::string_view label, std::string_view mode);

// Values that say "not set": Odoo writes False, YAML and Python null words.
bool unset_value(std::string_view value);

}  // namespace talvo::core
