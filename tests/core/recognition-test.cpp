#include "core/recognition.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

using namespace talvo::core;

namespace {

using Keys = std::initializer_list<std::pair<const char*, const char*>>;

std::vector<KeyValue> doc(Keys keys, const char* file = "settings") {
  std::vector<KeyValue> out;
  std::uint32_t line = 0;
  for (const auto& [k, v] : keys) out.push_back({k, v, file, ++line});
  return out;
}

std::string show(const std::optional<std::string>& v) { return v ? *v : "-"; }

struct Case {
  const char* name;
  std::vector<KeyValue> settings;
  // host, port, user, password, database, and the key the database came
  // from; all "-" where nothing may be recognised.
  const char *host, *port, *user, *password, *database, *database_key;
  const char* mode = "development";
};

}  // namespace

TEST(Recognition, KeysAndValuesByMeaning) {
  const Case cases[] = {
      {"generic DB_* without an engine key",
       doc({{"APP_PORT", "3000"}, {"DB_HOST", "db"}, {"DB_USER", "app"}, {"DB_NAME", "shop"}}),
       "db", "-", "app", "-", "shop", "DB_NAME"},
      {"Strapi", doc({{"DATABASE_CLIENT", "postgres"}, {"DATABASE_HOST", "h"}, {"DATABASE_PORT", "5432"},
                      {"DATABASE_NAME", "strapi"}, {"DATABASE_USERNAME", "strapi"}, {"DATABASE_PASSWORD", "pw"}}),
       "h", "5432", "strapi", "pw", "strapi", "DATABASE_NAME"},
      {"Directus on SQLite", doc({{"DB_CLIENT", "sqlite3"}, {"DB_FILENAME", "./data.db"}, {"DB_DATABASE", "x"}}),
       "-", "-", "-", "-", "-", "-"},
      {"libpq string under DATABASE_URL",
       doc({{"DATABASE_URL", "host=h port=5433 dbname=shop user=app"}}), "h", "5433", "app", "-", "shop",
       "DATABASE_URL"},
      {"Npgsql connection string",
       doc({{"ConnectionStrings.DefaultConnection", "Host=h;Database=shop;Username=app;Password=pw"},
            {"ConnectionStrings.Redis", "localhost:6379"}}),
       "h", "-", "app", "pw", "shop", "ConnectionStrings.DefaultConnection"},
      {"SQL Server's connection string",
       doc({{"ConnectionStrings.DefaultConnection", "Server=.;Database=shop;Trusted_Connection=True"}}),
       "-", "-", "-", "-", "-", "-"},
      {"Server= needs a section naming PostgreSQL",
       doc({{"ConnectionStrings.Postgres", "Server=h;Database=shop;User Id=app"}}), "h", "-", "app", "-",
       "shop", "ConnectionStrings.Postgres"},
      {"Temporal's address with its port, beside the other keys",
       doc({{"persistence.datastores.pg.sql.pluginName", "postgres12"},
            {"persistence.datastores.pg.sql.databaseName", "temporal"},
            {"persistence.datastores.pg.sql.connectAddr", "db:6543"},
            {"persistence.datastores.pg.sql.user", "temporal"}}),
       "db", "6543", "temporal", "-", "temporal", "persistence.datastores.pg.sql.databaseName"},
      {"a script's section per engine is a template's menu",
       doc({{"mysql.connection.host", "localhost"}, {"mysql.connection.database", "strapi"},
            {"postgres.connection.host", "localhost"}, {"postgres.connection.database", "strapi"},
            {"postgres.connection.user", "strapi"}},
           "config/database.js"),
       "-", "-", "-", "-", "-", "-"},
      {"the same sections in a data file",
       doc({{"mysql.host", "h"}, {"mysql.database", "legacy"}, {"postgres.host", "h"},
            {"postgres.database", "billing"}, {"postgres.user", "b"}},
           "config.yaml"),
       "h", "-", "b", "-", "billing", "postgres.database"},
      {"Mattermost, one level deeper",
       doc({{"ServiceSettings.SiteURL", "http://localhost:8065"}, {"SqlSettings.DriverName", "postgres"},
            {"SqlSettings.DataSource", "postgres://mm:pw@h/mattermost?sslmode=disable"}}),
       "h", "-", "mm", "pw", "mattermost", "SqlSettings.DataSource"},
      {"a flat config.yml", doc({{"db_name", "shop"}, {"db_user", "app"}, {"db_password", "pw"},
                                 {"db_host", "h"}, {"db_port", "5432"}}),
       "h", "5432", "app", "pw", "shop", "db_name"},
      {"JDBC URL with its siblings (Liquibase)",
       doc({{"changeLogFile", "db/changelog.xml"}, {"url", "jdbc:postgresql://h:5432/shop"},
            {"username", "app"}, {"password", "pw"}}),
       "h", "5432", "app", "pw", "shop", "url"},
      {"a URL's host and port stand; keys fill the rest",
       doc({{"quarkus.datasource.db-kind", "postgresql"}, {"quarkus.datasource.username", "app"},
            {"quarkus.datasource.port", "9999"}, {"quarkus.datasource.jdbc.url", "jdbc:postgresql://h/shop"}}),
       "h", "-", "app", "-", "shop", "quarkus.datasource.jdbc.url"},
      {"the mode's section, over the base section",
       doc({{"quarkus.datasource.username", "app"}, {"quarkus.datasource.jdbc.url", "jdbc:postgresql://prod/shop"},
            {"%dev.quarkus.datasource.jdbc.url", "jdbc:postgresql://dev/shop_dev"},
            {"%test.quarkus.datasource.jdbc.url", "jdbc:postgresql://test/shop_test"}}),
       "dev", "-", "app", "-", "shop_dev", "%dev.quarkus.datasource.jdbc.url"},
      {"Sequelize, keyed by environment",
       doc({{"development.username", "app"}, {"development.database", "shop_dev"}, {"development.host", "h"},
            {"development.dialect", "postgres"}, {"test.database", "shop_test"}, {"test.username", "app"},
            {"production.use_env_variable", "DATABASE_URL"}}),
       "h", "-", "app", "-", "shop_dev", "development.database"},
      {"Sequelize on MySQL", doc({{"development.database", "d"}, {"development.dialect", "mysql"}}),
       "-", "-", "-", "-", "-", "-"},
      {"another mode reads another section",
       doc({{"development.database", "shop_dev"}, {"development.username", "app"},
            {"production.database", "shop"}, {"production.username", "app"}}),
       "-", "-", "app", "-", "shop", "production.database", "production"},
      {"a MySQL section is skipped, the PostgreSQL one read",
       doc({{"mysql.host", "m"}, {"mysql.database", "legacy"}, {"mysql.user", "root"},
            {"postgres.host", "p"}, {"postgres.database", "shop"}, {"postgres.user", "app"}}),
       "p", "-", "app", "-", "shop", "postgres.database"},
      {"TEST_DATABASE_URL is a test-mode decoy",
       doc({{"TEST_DATABASE_URL", "postgres://u@h/shop_test"}, {"DATABASE_URL", "postgres://u@h/shop"}}),
       "h", "-", "u", "-", "shop", "DATABASE_URL"},
      {"the main URL before a shadow one",
       doc({{"SHADOW_DATABASE_URL", "postgres://u@h/shadow"}, {"DATABASE_URL", "postgres://u@h/shop"}}),
       "h", "-", "u", "-", "shop", "DATABASE_URL"},
      {"a plain PORT is the application's",
       doc({{"PORT", "3000"}, {"HOST", "0.0.0.0"}, {"PGHOST", "h"}, {"PGDATABASE", "shop"}, {"PGUSER", "u"}}),
       "h", "-", "u", "-", "shop", "PGDATABASE"},
      {"Keycloak: db names the engine, not the database",
       doc({{"db", "postgres"}, {"db-username", "kc"}, {"db-password", "pw"},
            {"db-url", "jdbc:postgresql://h/keycloak"}}),
       "h", "-", "kc", "pw", "keycloak", "db-url"},
      {"Synapse: the driver's name is no database name",
       doc({{"database.name", "psycopg2"}, {"database.args.user", "synapse"}, {"database.args.dbname", "synapse"},
            {"database.args.host", "h"}, {"database.args.cp_min", "5"}}),
       "h", "-", "synapse", "-", "synapse", "database.args.dbname"},
      {"Kong: database = postgres selects the pg_* keys; the read-only replica is apart",
       doc({{"database", "postgres"}, {"pg_host", "h"}, {"pg_user", "kong"}, {"pg_database", "kong"},
            {"pg_ro_host", "replica"}}),
       "h", "-", "kong", "-", "kong", "pg_database"},
      {"Odoo writes False for what it leaves to libpq",
       doc({{"options.db_host", "False"}, {"options.db_port", "False"}, {"options.db_user", "odoo"},
            {"options.db_name", "odoo"}}),
       "-", "-", "odoo", "-", "odoo", "options.db_name"},
      {"Gitea's host:port", doc({{"database.DB_TYPE", "postgres"}, {"database.HOST", "g:5433"}, {"database.NAME", "gitea"}}),
       "g", "5433", "-", "-", "gitea", "database.NAME"},
      {"an unresolved reference is not a value",
       doc({{"DB_HOST", "${DB_HOST}"}, {"DB_NAME", "shop"}, {"DB_USER", "{{ env_var('U') }}"}}),
       "-", "-", "-", "-", "shop", "DB_NAME"},
      {"nothing about a database", doc({{"name", "my-app"}, {"database", "d"}, {"port", "3000"}}),
       "-", "-", "-", "-", "-", "-"},
      {"a key that names the password file is not the password",
       doc({{"POSTGRES_PASSWORD_FILE", "/run/secrets/pw"}, {"POSTGRES_DB", "shop"}, {"POSTGRES_USER", "u"}}),
       "-", "-", "u", "-", "shop", "POSTGRES_DB"},
  };
  for (const Case& c : cases) {
    RecognitionOptions options;
    options.mode = c.mode;
    auto best = best_candidate(recognise_settings(c.settings, options));
    if (std::string(c.database) == "-") {
      EXPECT_FALSE(best) << c.name << ": found " << (best ? show(best->found.endpoint.database) : "");
      continue;
    }
    ASSERT_TRUE(best) << c.name;
    const Endpoint& e = best->found.endpoint;
    EXPECT_EQ(show(e.host), c.host) << c.name;
    EXPECT_EQ(show(e.port), c.port) << c.name;
    EXPECT_EQ(show(e.user), c.user) << c.name;
    EXPECT_EQ(show(e.password), c.password) << c.name;
    EXPECT_EQ(show(e.database), c.database) << c.name;
    ASSERT_TRUE(best->origins.database) << c.name;
    EXPECT_EQ(best->origins.database->key, c.database_key) << c.name;
  }
}

TEST(Recognition, EveryValueSaysWhereItWasWritten) {
  auto settings = doc({{"DB_HOST", "h"}, {"DB_NAME", "shop"}}, ".env");
  settings.push_back({"DB_PASSWORD", "pw", ".env.local", 7});
  auto best = best_candidate(recognise_settings(settings, {}));
  ASSERT_TRUE(best);
  const Origins& o = best->origins;
  EXPECT_EQ(o.host->file, ".env");
  EXPECT_EQ(o.host->line, 1u);
  EXPECT_EQ(o.password->file, ".env.local");
  EXPECT_EQ(o.password->key, "DB_PASSWORD");
  EXPECT_EQ(o.password->line, 7u);
  EXPECT_FALSE(o.user);
}

TEST(Recognition, Ranking) {
  auto with = [](int strength, std::size_t distance, int mode, int unknown, std::size_t file, int kind,
                 std::size_t position) {
    Candidate c;
    c.strength = strength;
    c.distance = distance;
    c.mode_rank = mode;
    c.unknown_words = unknown;
    c.file_order = file;
    c.kind = kind;
    c.position = position;
    return c;
  };
  struct {
    const char* why;
    Candidate first, second;
  } cases[] = {
      {"a URL or complete set before scattered keys, even farther away", with(0, 3, 1, 2, 5, 1, 9),
       with(1, 0, 0, 0, 0, 0, 0)},
      {"nearer directories first", with(0, 0, 1, 3, 9, 1, 9), with(0, 1, 0, 0, 0, 0, 0)},
      {"the mode's section before one naming none", with(0, 0, 0, 2, 9, 1, 9), with(0, 0, 1, 0, 0, 0, 0)},
      {"fewer application words", with(0, 0, 1, 0, 9, 1, 9), with(0, 0, 1, 1, 0, 0, 0)},
      {"the file's place in its directory", with(0, 0, 1, 0, 0, 1, 9), with(0, 0, 1, 0, 1, 0, 0)},
      {"a whole value before keys of the same file", with(0, 0, 1, 0, 0, 0, 9), with(0, 0, 1, 0, 0, 1, 0)},
      {"then the place in the file", with(0, 0, 1, 0, 0, 0, 1), with(0, 0, 1, 0, 0, 0, 2)},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(ranks_before(c.first, c.second)) << c.why;
    EXPECT_FALSE(ranks_before(c.second, c.first)) << c.why;
  }
  EXPECT_EQ(file_environment("config.development.json"), "development");
  EXPECT_EQ(file_environment("appsettings.Production.json"), "production");
  EXPECT_EQ(file_environment("config.json"), "");
  EXPECT_EQ(file_environment("production.ini"), "production");
  EXPECT_EQ(file_environment("contest.json"), "");
}
