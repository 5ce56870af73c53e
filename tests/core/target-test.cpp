#include "core/target.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>

using namespace talvo::core;

namespace {

using S = Setting;

Source option(const char* word) { return {Source::Kind::option, word, {}, 0}; }
Source fallback(const char* what) { return {Source::Kind::default_value, what, {}, 0}; }
Source in_file(const char* path, const char* key) { return {Source::Kind::file, path, key, 0}; }

// The options as a parsed record holds them: -H, --port and -U have
// defaults; `typed` lists what the operator typed.
Options options(std::initializer_list<std::pair<S, const char*>> typed = {}) {
  Options o;
  o.values[S::host] = {"127.0.0.1", fallback("-H/--hostname")};
  o.values[S::port] = {"5432", fallback("--port")};
  o.values[S::user] = {"postgres", fallback("-U/--user")};
  for (auto [s, value] : typed) {
    o.values[s] = {value, option(std::string(setting_name(s)).c_str())};
    o.typed[static_cast<std::size_t>(s)] = true;
  }
  return o;
}

Values file(const char* path, std::initializer_list<std::tuple<S, const char*, const char*>> keys) {
  Values v;
  for (auto [s, value, key] : keys) v[s] = {value, in_file(path, key)};
  return v;
}

// "value <- source" for the five connection values, then the TLS mode.
std::string summary(const Target& t) {
  std::string out;
  for (S s : {S::host, S::port, S::user, S::password, S::database, S::sslmode}) {
    const Value& v = t.values[s];
    out += std::string(setting_name(s)) + "=" + v.text.value_or("None") + " <- " +
           describe(v.source) + "\n";
  }
  return out + (t.database_found ? "found" : "not found");
}

const Values kEnv = file("/p/.env", {{S::host, "db.internal", "POSTGRES_HOST"},
                                     {S::port, "5433", "POSTGRES_PORT"},
                                     {S::user, "app", "POSTGRES_USER"},
                                     {S::password, "s3cret", "POSTGRES_PASSWORD"},
                                     {S::database, "shop", "POSTGRES_DB"}});

const Values kNoDatabase = file("/p/.env", {{S::host, "db.internal", "POSTGRES_HOST"},
                                            {S::user, "app", "POSTGRES_USER"}});

Gathered gathered(Options o, std::optional<Values> settings = std::nullopt) {
  Gathered g;
  g.options = std::move(o);
  g.settings = std::move(settings);
  return g;
}

}  // namespace

TEST(Target, EveryPrecedenceFromOneTable) {
  struct Case {
    const char* name;
    Gathered g;
    const char* want;
  };
  auto with = [](Gathered g, auto&& change) {
    change(g);
    return g;
  };
  Gathered none = gathered(options());
  Gathered env_file = gathered(options(), kEnv);
  Case cases[] = {
      {"nothing found: the defaults, and no database", none,
       "host=127.0.0.1 <- default: -H/--hostname\nport=5432 <- default: --port\n"
       "user=postgres <- default: -U/--user\npassword=None <- not set\n"
       "database=None <- not set\nsslmode=None <- not set\nnot found"},
      {"the first look's settings win over -H, --port and -d, the password option over theirs",
       with(gathered(options({{S::host, "10.0.0.5"}, {S::port, "6000"}, {S::password, "typed"},
                              {S::database, "other"}}),
                     kEnv),
            [](Gathered&) {}),
       "host=db.internal <- file /p/.env, key POSTGRES_HOST\n"
       "port=5433 <- file /p/.env, key POSTGRES_PORT\n"
       "user=app <- file /p/.env, key POSTGRES_USER\npassword=typed <- option password\n"
       "database=shop <- file /p/.env, key POSTGRES_DB\nsslmode=None <- not set\nfound"},
      {"a later look leaves what was typed",
       with(gathered(options({{S::host, "10.0.0.5"}, {S::database, "other"}}), kEnv),
            [](Gathered& g) { g.settings_from_first_look = false; }),
       "host=10.0.0.5 <- option host\nport=5433 <- file /p/.env, key POSTGRES_PORT\n"
       "user=app <- file /p/.env, key POSTGRES_USER\n"
       "password=s3cret <- file /p/.env, key POSTGRES_PASSWORD\n"
       "database=other <- option database\nsslmode=None <- not set\nfound"},
      {"the environment over everything, DATABASE first of the three",
       with(env_file,
            [](Gathered& g) {
              g.env = {{"HOST", "h.env"}, {"PORT", "7000"}, {"USER", "envrole"},
                       {"PASSWORD", "envpw"}, {"DB_NAME", "second"}, {"DATABASE", "first"}};
              g.login_name = "alice";
            }),
       "host=h.env <- environment HOST\nport=7000 <- environment PORT\n"
       "user=envrole <- environment USER\npassword=envpw <- environment PASSWORD\n"
       "database=first <- environment DATABASE\nsslmode=None <- not set\nfound"},
      {"an ambient USER is the login, not a role; empty variables count for nothing",
       with(env_file,
            [](Gathered& g) {
              g.env = {{"USER", "alice"}, {"HOST", ""}, {"DATABASE", ""}};
              g.login_name = "alice";
            }),
       "host=db.internal <- file /p/.env, key POSTGRES_HOST\n"
       "port=5433 <- file /p/.env, key POSTGRES_PORT\n"
       "user=app <- file /p/.env, key POSTGRES_USER\n"
       "password=s3cret <- file /p/.env, key POSTGRES_PASSWORD\n"
       "database=shop <- file /p/.env, key POSTGRES_DB\nsslmode=None <- not set\nfound"},
      {"the connect's own file replaces only what it holds",
       with(gathered(options({{S::database, "shop"}})),
            [](Gathered& g) {
              g.connection_file = file("/p/.env", {{S::user, "fileuser", "USER"}, {S::database, "filedb", "NAME"}});
            }),
       "host=127.0.0.1 <- default: -H/--hostname\nport=5432 <- default: --port\n"
       "user=fileuser <- file /p/.env, key USER\npassword=None <- not set\n"
       "database=filedb <- file /p/.env, key NAME\nsslmode=None <- not set\nfound"},
      {"no database written anywhere is none found",
       gathered(options(), kNoDatabase),
       "host=db.internal <- file /p/.env, key POSTGRES_HOST\nport=5432 <- default: --port\n"
       "user=app <- file /p/.env, key POSTGRES_USER\npassword=None <- not set\n"
       "database=None <- not set\nsslmode=None <- not set\nnot found"},
      {"a report on the server connects to the maintenance database",
       with(gathered(options(), kNoDatabase), [](Gathered& g) { g.purpose = Purpose::maintenance; }),
       "host=db.internal <- file /p/.env, key POSTGRES_HOST\nport=5432 <- default: --port\n"
       "user=app <- file /p/.env, key POSTGRES_USER\npassword=None <- not set\n"
       "database=postgres <- default: the maintenance database\nsslmode=None <- not set\nnot found"},
      {"the superuser: the options' user and password, the record's host; no variable applies",
       with(gathered(options({{S::password, "su"}}), kEnv),
            [](Gathered& g) {
              g.purpose = Purpose::superuser;
              g.env = {{"HOST", "h.env"}, {"USER", "envrole"}};
            }),
       "host=db.internal <- file /p/.env, key POSTGRES_HOST\n"
       "port=5433 <- file /p/.env, key POSTGRES_PORT\n"
       "user=postgres <- default: -U/--user\npassword=su <- option password\n"
       "database=postgres <- default: the maintenance database\nsslmode=None <- not set\nfound"},
      {"the superuser without -P: the discovered password, then $PASSWORD",
       with(gathered(options(), kNoDatabase),
            [](Gathered& g) {
              g.purpose = Purpose::superuser;
              g.env = {{"PASSWORD", "envpw"}};
            }),
       "host=db.internal <- file /p/.env, key POSTGRES_HOST\nport=5432 <- default: --port\n"
       "user=postgres <- default: -U/--user\npassword=envpw <- environment PASSWORD\n"
       "database=postgres <- default: the maintenance database\nsslmode=None <- not set\nnot found"},
      {"the password file when nothing gave a password, for the server actually used",
       with(gathered(options(), kNoDatabase),
            [](Gathered& g) {
              g.purpose = Purpose::maintenance;
              g.password_file = PasswordFile{"/home/a/.pgpass",
                                             "other:*:*:*:no\ndb.internal:5432:postgres:app:fromfile\n"};
            }),
       "host=db.internal <- file /p/.env, key POSTGRES_HOST\nport=5432 <- default: --port\n"
       "user=app <- file /p/.env, key POSTGRES_USER\n"
       "password=fromfile <- password file /home/a/.pgpass\n"
       "database=postgres <- default: the maintenance database\nsslmode=None <- not set\nnot found"},
  };
  for (const Case& c : cases) EXPECT_EQ(summary(resolve_target(c.g)), c.want) << c.name;
}

TEST(Target, TlsFromTheSettingsElseThePgsslVariables) {
  Values with_tls = kEnv;
  with_tls[S::sslmode] = {"verify-full", {Source::Kind::file, "/p/.env", "DATABASE_URL", 2}};
  Gathered g = gathered(options(), with_tls);
  g.env = {{"PGSSLMODE", "require"}, {"PGSSLROOTCERT", "/ca.pem"}};
  Target t = resolve_target(g);
  EXPECT_EQ(t.values[S::sslmode].text, "verify-full");
  EXPECT_EQ(describe(t.values[S::sslmode].source), "file /p/.env, key DATABASE_URL, line 2");
  EXPECT_EQ(t.values[S::sslrootcert].text, "/ca.pem");
  EXPECT_EQ(describe(t.values[S::sslrootcert].source), "environment PGSSLROOTCERT");
  EXPECT_FALSE(t.values[S::sslcert].text);

  g.settings.reset();
  EXPECT_EQ(resolve_target(g).values[S::sslmode].text, "require");
}

TEST(Target, AnInferredDatabaseIsNoNameFound) {
  Found found;
  found.path = "/p/.env";
  found.endpoint.user = "app";
  found.endpoint.database = "app";  // the image names the database after the user
  found.database_inferred = true;
  found.sources[static_cast<std::size_t>(S::user)] = in_file("/p/.env", "POSTGRES_USER");
  Values v = values_of(found);
  EXPECT_FALSE(v[S::database].text);
  EXPECT_EQ(describe(v[S::user].source), "file /p/.env, key POSTGRES_USER");
  EXPECT_FALSE(resolve_target(gathered(options(), v)).database_found);

  found.path.clear();  // the environment stage
  found.framework = "PG* variables";
  found.sources = {};
  EXPECT_EQ(describe(values_of(found)[S::user].source), "environment PG* variables");
}

TEST(Target, GetConnectionWithItsOwnSettingsInFront) {
  Environment env{{"PORT", "7000"}, {"DB", "fromdb"}};
  ConnectInputs in;
  in.arguments[S::host] = {"arg-host", option("host")};
  in.arguments[S::user] = {"arg-user", option("user")};
  in.settings = file("/p/.env", {{S::user, "s-user", "USER"}});
  in.settings_first = true;
  in.env = &env;
  Values v = connect_values(in);
  EXPECT_EQ(v[S::host].text, "arg-host");
  EXPECT_EQ(v[S::port].text, "7000");
  EXPECT_EQ(v[S::user].text, "s-user");
  EXPECT_EQ(v[S::database].text, "fromdb");
  EXPECT_EQ(describe(v[S::database].source), "environment DB");
}

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
