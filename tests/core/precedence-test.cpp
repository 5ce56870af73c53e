#include "core/precedence.hpp"

#include <gtest/gtest.h>

#include <optional>

using namespace talvo::core;

namespace {

constexpr Pick argument{From::argument, {}};
constexpr Pick settings{From::settings, {}};
constexpr Pick file{From::file, {}};
constexpr Pick nothing{From::nothing, {}};
constexpr Pick env(std::string_view v) { return {From::environment, v}; }

Held all() { return {true, true, true, true, true}; }

}  // namespace

TEST(UserVariable, OnlyADeliberateValueCounts) {
  struct Case {
    std::optional<std::string_view> user, login;
    bool deliberate;
  } cases[] = {
      {"alice", "alice", false},  // what a login shell sets
      {"app", "alice", true},     // USER=app talvo ...
      {"", "alice", false},
      {std::nullopt, "alice", false},
      {"app", std::nullopt, true},  // no password entry to compare with
  };
  for (const Case& c : cases)
    EXPECT_EQ(user_is_deliberate(c.user, c.login), c.deliberate)
        << c.user.value_or("(unset)") << " / " << c.login.value_or("(none)");
}

TEST(DbConfig, SettingsBeforeOptionsButThePasswordOption) {
  Held options = all();
  EXPECT_EQ(pick_db_config(std::nullopt, options).host, From::argument);
  DbConfigPicks p = pick_db_config(all(), options);
  EXPECT_EQ(p.host, From::settings);
  EXPECT_EQ(p.port, From::settings);
  EXPECT_EQ(p.user, From::settings);
  EXPECT_EQ(p.password, From::argument);
  // Missing in the settings: the option; no password option: the settings'
  // password, even an empty one.
  p = pick_db_config(Held{}, Held{true, true, true, false, false});
  EXPECT_EQ(p.host, From::argument);
  EXPECT_EQ(p.user, From::argument);
  EXPECT_EQ(p.password, From::settings);
}

TEST(Target, SourcesInRisingPrecedence) {
  struct Case {
    const char* name;
    Held args;
    std::optional<Held> settings, file;
    EnvironmentHeld env;
    TargetPicks want;
  } cases[] = {
      {"arguments only", all(), std::nullopt, std::nullopt, {},
       {argument, argument, argument, argument, argument}},
      {"settings over arguments", all(), all(), std::nullopt, {},
       {settings, settings, settings, settings, settings}},
      {"settings missing a value", Held{true, true, true, true, true},
       Held{false, true, false, true, false}, std::nullopt, {},
       {argument, settings, argument, settings, argument}},
      {"neither: the variable as it is", Held{}, Held{}, std::nullopt, {},
       {env("HOST"), env("PORT"), nothing, env("PASSWORD"), env("DB")}},
      {"a file replaces only what it holds", all(), std::nullopt, Held{false, false, true, false, true}, {},
       {argument, argument, file, argument, file}},
      {"environment last", all(), all(), std::nullopt,
       EnvironmentHeld{true, true, true, true, {false, true, true}},
       {env("HOST"), env("PORT"), env("USER"), env("PASSWORD"), env("DB_NAME")}},
      {"an ambient USER changes nothing", all(), all(), std::nullopt,
       EnvironmentHeld{false, false, false, false, {}},
       {settings, settings, settings, settings, settings}},
  };
  for (const Case& c : cases) {
    TargetPicks got = pick_target(c.args, c.settings, c.file, c.env);
    EXPECT_EQ(got.host, c.want.host) << c.name;
    EXPECT_EQ(got.port, c.want.port) << c.name;
    EXPECT_EQ(got.user, c.want.user) << c.name;
    EXPECT_EQ(got.password, c.want.password) << c.name;
    EXPECT_EQ(got.database, c.want.database) << c.name;
  }
}

TEST(Target, FileEnginesAreComparedExactly) {
  for (const char* yes : {"postgresql", "psql", "django.db.backends.postgresql"})
    EXPECT_TRUE(file_engine_names_postgres(yes)) << yes;
  for (const char* no : {"PostgreSQL", "postgres", "mysql", ""})
    EXPECT_FALSE(file_engine_names_postgres(no)) << no;
}
