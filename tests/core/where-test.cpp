#include "core/where.hpp"

#include <gtest/gtest.h>

#include "core/routes.hpp"

using namespace talvo::core;

namespace {

Target sample() {
  Target t;
  t.values[Setting::host] = {"db.internal", {Source::Kind::file, "/p/.env", "DB_HOST", 3}};
  t.values[Setting::port] = {"5433", {Source::Kind::default_value, "--port's default", {}, 0}, true};
  t.values[Setting::user] = {"app\x1b[2J", {Source::Kind::environment, "PGUSER", {}, 0}};
  t.values[Setting::password] = {"s3cret", {Source::Kind::password_file, "/h/.pgpass", {}, 0}};
  t.database_found = false;
  return t;
}

}  // namespace

TEST(Where, ALinePerValueAndNeverThePassword) {
  EXPECT_EQ(where_text(sample()),
            "host      db.internal  file /p/.env, key DB_HOST, line 3\n"
            "port      5433         default: --port's default\n"
            "user      app\\x1b[2J   environment PGUSER\n"
            "database  not set\n"
            "password  set          password file /h/.pgpass\n"
            "sslmode   not set\n");
}

TEST(Where, OneJsonObject) {
  Target t = sample();
  t.values[Setting::sslrootcert] = {"/ca.pem", {Source::Kind::environment, "PGSSLROOTCERT", {}, 0}};
  EXPECT_EQ(where_json(t),
            "{\"host\": {\"value\": \"db.internal\", \"source\": \"file /p/.env, key DB_HOST, line 3\"}, "
            "\"port\": {\"value\": 5433, \"source\": \"default: --port's default\"}, "
            "\"user\": {\"value\": \"app\\\\x1b[2J\", \"source\": \"environment PGUSER\"}, "
            "\"database\": {\"value\": null, \"source\": null}, "
            "\"password\": {\"set\": true, \"source\": \"password file /h/.pgpass\"}, "
            "\"sslmode\": {\"value\": null, \"source\": null}, "
            "\"sslrootcert\": {\"value\": \"/ca.pem\", \"source\": \"environment PGSSLROOTCERT\"}}\n");
}

TEST(Routes, EveryCommandWordHasOneRow) {
  struct Case {
    const char* command;
    const char* word;
    const char* handler;
    Purpose purpose;
    DatabaseName database;
  } cases[] = {
      {"show", "dbs", "show_databases", Purpose::maintenance, DatabaseName::not_used},
      {"show", "size", "show_size", Purpose::database, DatabaseName::optional},
      {"query", "", "execute_query", Purpose::database, DatabaseName::required},
      {"query", "ignored", "execute_query", Purpose::database, DatabaseName::required},
      {"drop", "database", "drop_database", Purpose::superuser, DatabaseName::required},
      {"drop", "user", "drop_user", Purpose::superuser, DatabaseName::not_used},
  };
  for (const Case& c : cases) {
    auto r = find_route(c.command, c.word);
    ASSERT_TRUE(r) << c.command << " " << c.word;
    EXPECT_STREQ(r->handler, c.handler);
    EXPECT_EQ(r->purpose, c.purpose) << c.handler;
    EXPECT_EQ(r->database, c.database) << c.handler;
  }
  EXPECT_FALSE(find_route("show", "tablez"));
  EXPECT_FALSE(find_route("drop", ""));
  EXPECT_FALSE(find_route("shows", ""));
}
