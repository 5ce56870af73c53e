#include "core/environment_stage.hpp"

#include <gtest/gtest.h>

using namespace talvo::core;

TEST(EnvironmentStage, UrlThenServiceThenVariables) {
  const std::string services = "# mine\n[shop]\nhost=svc\nport = 6000\ndbname=shopdb\n[other]\nhost=no\n";
  Environment env{{"PGHOST", "pghost"}, {"PGUSER", "pguser"}, {"PGDATABASE", "pgdb"},
                  {"PGSERVICE", "shop"}, {"HOME", "/home/a"}, {"PGSSLMODE", "require"}};
  ASSERT_EQ(service_file_path(env), "/home/a/.pg_service.conf");
  auto found = environment_stage(env, services);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->framework, "PGSERVICE");
  // The service's values win over the variables, which fill the rest.
  EXPECT_EQ(found->endpoint.host, "svc");
  EXPECT_EQ(found->endpoint.port, "6000");
  EXPECT_EQ(found->endpoint.database, "shopdb");
  EXPECT_EQ(found->endpoint.user, "pguser");
  EXPECT_EQ(found->endpoint.tls.sslmode, "require");

  env["DATABASE_URL"] = "postgres://u@urlhost/urldb";
  found = environment_stage(env, services);
  EXPECT_EQ(found->framework, "DATABASE_URL");
  EXPECT_EQ(found->endpoint.host, "urlhost");
  EXPECT_EQ(found->endpoint.port, "6000");

  EXPECT_FALSE(environment_stage(Environment{{"PGSSLMODE", "require"}, {"PGPASSWORD", "x"}}, std::nullopt));
  EXPECT_FALSE(environment_stage(Environment{{"DATABASE_URL", "mysql://h/d"}}, std::nullopt));
  EXPECT_EQ(service_file_path(Environment{{"PGSERVICE", "s"}, {"PGSERVICEFILE", "/etc/s.conf"}}),
            "/etc/s.conf");
  EXPECT_FALSE(service_file_path(Environment{{"HOME", "/h"}}));
}

TEST(PasswordFile, FirstMatchingLine) {
  const std::string text =
      "# comment\n"
      "db.local:5432:shop:app:first\n"
      "*:*:shop:app:second\n"
      "h\\:x:*:*:*:pass\\:word\\\\\r\n"
      "*:*:*:*:last\n";
  struct Case {
    const char *host, *port, *db, *user, *want;
  } cases[] = {
      {"db.local", "5432", "shop", "app", "first"},
      {"other", "5433", "shop", "app", "second"},
      {"h:x", "1", "d", "u", "pass:word\\"},
      {"x", "1", "d", "u", "last"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(password_file_lookup(text, c.host, c.port, c.db, c.user), c.want) << c.host;
  EXPECT_FALSE(password_file_lookup("short:line\n", "short", "line", "", ""));
  EXPECT_EQ(password_file_path(Environment{{"HOME", "/home/a/"}}), "/home/a/.pgpass");
  EXPECT_EQ(password_file_path(Environment{{"PGPASSFILE", "/p"}, {"HOME", "/h"}}), "/p");
  EXPECT_TRUE(password_file_mode_ok(0100600));
  EXPECT_FALSE(password_file_mode_ok(0100640));
  EXPECT_FALSE(password_file_mode_ok(0100604));
}

TEST(ApplicationName, PgAppNameElseTalvo) {
  EXPECT_EQ(application_name({}), "talvo");
  EXPECT_EQ(application_name({{"PGAPPNAME", ""}}), "talvo");
  EXPECT_EQ(application_name({{"PGAPPNAME", "nightly-report"}}), "nightly-report");
}
