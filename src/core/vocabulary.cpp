#include "core/vocabulary.hpp"

#include <array>
#include <cctype>

#include "core/document.hpp"

namespace talvo::core {

namespace {

using namespace std::string_view_literals;

// Gathered from the settings files of Django, Rails, Laravel, Spring Boot,
// Quarkus, Micronaut, .NET, Strapi, Directus, Keycloak, Mattermost, Kong,
// Synapse, Dagster, dbt, Trino, Debezium, Cube, Paperless and others, and
// from libpq's own parameter names.
constexpr std::string_view kContextWords[] = {
    "db",        "database",    "databases", "datasource", "datasources",      "dbconfig",
    "sql",       "sqlalchemy",  "jdbc",      "r2dbc",      "connectionstrings",
    "repo",  // Ecto's repository, as Phoenix configures it
};

constexpr std::string_view kPostgresWords[] = {
    "postgres", "postgresql", "postgre", "postgresdb", "pg",         "pgsql",    "psql",
    "postgis",  "npgsql",     "psycopg", "psycopg2",   "asyncpg",    "pg8000",   "timescale",
    "timescaledb", "pgvector", "pgbouncer",
};

constexpr std::string_view kOtherEngines[] = {
    "mysql",      "mysqli",     "mariadb",   "sqlite",     "sqlite3",  "mssql",    "sqlserver",
    "sqlsrv",     "oracle",     "oci",       "oci8",       "mongo",    "mongodb",  "redis",
    "valkey",     "keydb",      "memcached", "memcache",   "elasticsearch", "opensearch",
    "cassandra",  "clickhouse", "influxdb",  "couchdb",    "dynamodb", "neo4j",    "h2",
    "hsqldb",     "derby",      "db2",       "firebird",   "sybase",   "snowflake", "bigquery",
    "rabbitmq",   "amqp",       "kafka",     "nats",       "duckdb",   "libsql",   "cosmosdb",
    "firestore",  "sqlce",
};

// Words that only join: what follows them is still the same connection.
constexpr std::string_view kConnectors[] = {
    "url",        "uri",       "jdbc",     "r2dbc",      "reactive", "connection", "connect",
    "connections", "conn",     "settings", "setting",    "config",   "configuration",
    "configs",    "options",   "option",   "properties", "props",    "params",
    "parameters", "args",      "arguments", "credentials", "creds",  "auth",
    "authentication", "info",  "details",  "environments", "profiles", "outputs",
    "targets",    "envs",
};

// Words of a group that say nothing about which connection it is.
constexpr std::string_view kNeutralWords[] = {
    "default", "primary", "main", "master", "common", "shared", "global", "app",
    "application", "core", "system", "base", "environments", "profiles", "outputs",
    "targets", "envs",
};

// Words that camelCase splits but that name one thing.
constexpr std::pair<std::string_view, std::string_view> kJoined[] = {
    {"my", "sql"},          {"postgre", "sql"},     {"maria", "db"},     {"mongo", "db"},
    {"dynamo", "db"},       {"couch", "db"},        {"influx", "db"},    {"cockroach", "db"},
    {"timescale", "db"},    {"click", "house"},     {"sql", "server"},   {"ms", "sql"},
    {"data", "source"},     {"data", "sources"},    {"connection", "strings"},
    {"connection", "string"}, {"sql", "alchemy"},   {"pg", "bouncer"},   {"sq", "lite"},
};

struct Phrase {
  std::array<std::string_view, 3> words;
  Field field;
  std::size_t size() const { return words[2].empty() ? (words[1].empty() ? 1 : 2) : 3; }
};

// Longer phrases first: "driver-class-name" is an engine, not a name.
constexpr Phrase kPhrases[] = {
    {{"driver", "class", "name"}, Field::engine},
    {{"driver", "class", {}}, Field::engine},
    {{"driver", "name", {}}, Field::engine},
    {{"connector", "class", {}}, Field::engine},
    {{"connector", "name", {}}, Field::engine},
    {{"datasource", "name", {}}, Field::url},  // postgres_exporter's DATA_SOURCE_NAME
    {{"conn", "string", {}}, Field::url},
    {{"port", "number", {}}, Field::port},
    {{"user", "name", {}}, Field::user},
    {{"user", "id", {}}, Field::user},
    {{"host", "name", {}}, Field::host},
    {{"ssl", "mode", {}}, Field::sslmode},
    // A file that holds the value is not the value.
    {{"password", "file", {}}, Field::none},
    {{"user", "file", {}}, Field::none},
    {{"database", "file", {}}, Field::none},
    {{"db", "file", {}}, Field::none},
    {{"name", "prefix", {}}, Field::none},
    {{"name", "suffix", {}}, Field::none},
};

struct FieldWord {
  std::string_view word;
  Field field;
  bool fused;  // says "database" by itself
};

constexpr FieldWord kFieldWords[] = {
    {"url", Field::url, false},           {"uri", Field::url, false},
    {"dsn", Field::url, false},           {"datasource", Field::url, false},
    {"connectionstring", Field::url, true}, {"connstring", Field::url, true},
    {"dburl", Field::url, true},          {"dburi", Field::url, true},
    {"dbdsn", Field::url, true},          {"dbstring", Field::url, true},
    {"connection", Field::connection, false}, {"conn", Field::connection, false},
    {"host", Field::host, false},         {"hostname", Field::host, false},
    {"server", Field::host, false},       {"address", Field::host, false},
    {"addr", Field::host, false},         {"dbhost", Field::host, true},
    {"dbhostname", Field::host, true},    {"dbserver", Field::host, true},
    {"pghost", Field::host, true},        {"port", Field::port, false},
    {"dbport", Field::port, true},        {"pgport", Field::port, true},
    {"user", Field::user, false},         {"username", Field::user, false},
    {"login", Field::user, false},        {"uid", Field::user, false},
    {"dbuser", Field::user, true},        {"dbusername", Field::user, true},
    {"dblogin", Field::user, true},       {"pguser", Field::user, true},
    {"password", Field::password, false}, {"pass", Field::password, false},
    {"passwd", Field::password, false},   {"pwd", Field::password, false},
    {"dbpass", Field::password, true},    {"dbpassword", Field::password, true},
    {"dbpasswd", Field::password, true},  {"dbpwd", Field::password, true},
    {"pgpassword", Field::password, true}, {"database", Field::database, false},
    {"dbname", Field::database, true},    {"pgdatabase", Field::database, true},
    {"name", Field::name, false},         {"db", Field::db, false},
    {"sslmode", Field::sslmode, false},   {"pgsslmode", Field::sslmode, true},
    {"dbsslmode", Field::sslmode, true},  {"engine", Field::engine, false},
    {"adapter", Field::engine, false},    {"dialect", Field::engine, false},
    {"driver", Field::engine, false},     {"type", Field::engine, false},
    {"kind", Field::engine, false},       {"client", Field::engine, false},
    {"provider", Field::engine, false},   {"vendor", Field::engine, false},
    {"backend", Field::engine, false},    {"dbengine", Field::engine, true},
    {"dbdriver", Field::engine, true},    {"dbtype", Field::engine, true},
    {"dbkind", Field::engine, true},      {"dbclient", Field::engine, true},
    {"dbvendor", Field::engine, true},    {"dbbackend", Field::engine, true},
};

constexpr std::pair<std::string_view, std::string_view> kEnvironments[] = {
    {"development", "development"}, {"develop", "development"}, {"dev", "development"},
    {"local", "development"},       {"production", "production"}, {"prod", "production"},
    {"test", "test"},               {"testing", "test"},          {"tests", "test"},
    {"staging", "staging"},         {"stage", "staging"},
};

// What the users of a setting word: a group of their own never ends in them.
constexpr std::string_view kUserWords[] = {"user", "login"};

template <std::size_t N>
bool one_of(std::string_view word, const std::string_view (&list)[N]) {
  for (std::string_view w : list)
    if (w == word) return true;
  return false;
}

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_lower(c) || is_upper(c) || is_digit(c); }

bool databaseish(std::string_view word) {
  WordKind k = word_kind(word);
  return k == WordKind::context || k == WordKind::postgres;
}

bool context_word(std::string_view word) { return word_kind(word) == WordKind::context; }

}  // namespace

std::vector<std::string> key_words(std::string_view key) {
  std::vector<std::string> split;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) split.push_back(ascii_lower(word));
    word.clear();
  };
  for (std::size_t i = 0; i < key.size(); ++i) {
    char c = key[i];
    if (!is_alnum(c)) {
      flush();
      continue;
    }
    if (is_upper(c) && !word.empty()) {
      char prev = word.back();
      bool next_lower = i + 1 < key.size() && is_lower(key[i + 1]);
      if (is_lower(prev) || is_digit(prev) || (is_upper(prev) && next_lower)) flush();
    }
    word.push_back(c);
  }
  flush();
  std::vector<std::string> words;
  for (std::string& w : split) {
    if (!words.empty()) {
      bool joined = false;
      for (const auto& [first, second] : kJoined) {
        if (words.back() == first && w == second) {
          words.back() += w;
          joined = true;
          break;
        }
      }
      if (joined) continue;
    }
    words.push_back(std::move(w));
  }
  return words;
}

WordKind word_kind(std::string_view word) {
  if (one_of(word, kPostgresWords)) return WordKind::postgres;
  if (one_of(word, kOtherEngines)) return WordKind::other_engine;
  if (one_of(word, kContextWords)) return WordKind::context;
  if (environment_label(word)) return WordKind::environment;
  if (one_of(word, kConnectors)) return WordKind::connector;
  return WordKind::plain;
}

bool fused_database_word(std::string_view word) {
  for (const FieldWord& f : kFieldWords)
    if (f.word == word) return f.fused;
  return false;
}

FieldMatch key_field(std::span<const std::string> words) {
  if (words.empty()) return {};
  for (const Phrase& p : kPhrases) {
    std::size_t n = p.size();
    if (words.size() < n) continue;
    bool match = true;
    for (std::size_t i = 0; i < n && match; ++i) match = words[words.size() - n + i] == p.words[i];
    if (match) return {p.field, n};
  }
  for (const FieldWord& f : kFieldWords)
    if (words.back() == f.word) return {f.field, 1};
  return {};
}

std::vector<std::string> group_words(std::span<const std::string> words, std::size_t field_words) {
  std::vector<std::string> group(words.begin(), words.end() - static_cast<long>(field_words));
  auto earlier_database_word = [&] {
    for (std::size_t i = 0; i + 1 < group.size(); ++i)
      if (databaseish(group[i])) return true;
    return false;
  };
  while (!group.empty()) {
    const std::string& last = group.back();
    bool drop = word_kind(last) == WordKind::connector ||
                (group.size() > 1 && one_of(last, kUserWords)) ||
                (context_word(last) && earlier_database_word());
    if (!drop) break;
    group.pop_back();
  }
  return group;
}

Engine engine_named(std::string_view value) {
  bool postgres = false, other = false;
  std::string token;
  auto judge = [&] {
    if (token.empty()) return;
    if (one_of(token, kPostgresWords) || token.find("postgres") != std::string::npos)
      postgres = true;
    else if (one_of(token, kOtherEngines) || token.starts_with("mysql") ||
             token.starts_with("sqlite") || token.starts_with("mariadb") ||
             token.starts_with("mongo") || token.starts_with("redis") ||
             token.starts_with("oracle") || token.starts_with("mssql") ||
             token.starts_with("sqlserver"))
      other = true;
    token.clear();
  };
  for (char c : value) {
    if (is_alnum(c))
      token.push_back(is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c);
    else
      judge();
  }
  judge();
  if (postgres == other) return Engine::unknown;
  return postgres ? Engine::postgres : Engine::other;
}

std::optional<std::string> environment_label(std::string_view word) {
  for (const auto& [spelling, label] : kEnvironments)
    if (word == spelling) return std::string(label);
  return std::nullopt;
}

bool same_environment(std::string_view label, std::string_view mode) {
  std::string lowered = ascii_lower(mode);
  auto canonical_mode = environment_label(lowered);
  auto canonical_label = environment_label(ascii_lower(label));
  return (canonical_label ? *canonical_label : ascii_lower(label)) ==
         (canonical_mode ? *canonical_mode : lowered);
}

bool unset_value(std::string_view value) {
  for (std::string_view word : {"false"sv, "none"sv, "null"sv, "nil"sv, "~"sv})
    if (iequals(value, word)) return true;
  return false;
}

bool neutral_word(std::string_view word) { return one_of(word, kNeutralWords); }

}  // namespace talvo::core
