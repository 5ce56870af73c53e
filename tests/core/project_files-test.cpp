#include "core/project_files.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "core/search.hpp"

using namespace talvo::core;

namespace {

using Entries = std::initializer_list<std::pair<const char*, Node>>;

Node m(Entries entries) {
  Node n = Node::map();
  for (const auto& [k, v] : entries) n.add(k, v);
  return n;
}
Node t(const char* s) { return Node::text(s); }
Node num(const char* s) { return Node::number(s); }
Node l(std::initializer_list<Node> items) {
  Node n = Node::list();
  n.items.assign(items);
  return n;
}

struct Want {
  const char* framework;
  const char *host, *port, *user, *password, *database;
};

std::string show(const std::optional<std::string>& v) { return v ? *v : "(none)"; }

void expect(const std::optional<Found>& got, const Want& want, const std::string& name) {
  if (want.framework == nullptr) {
    EXPECT_FALSE(got) << name << ": found " << (got ? got->framework : "");
    return;
  }
  ASSERT_TRUE(got) << name;
  auto eq = [&](const std::optional<std::string>& v, const char* w, const char* what) {
    EXPECT_EQ(show(v), w ? w : "(none)") << name << ": " << what;
  };
  EXPECT_EQ(got->framework, want.framework) << name;
  eq(got->endpoint.host, want.host, "host");
  eq(got->endpoint.port, want.port, "port");
  eq(got->endpoint.user, want.user, "user");
  eq(got->endpoint.password, want.password, "password");
  eq(got->endpoint.database, want.database, "database");
}

struct Case {
  const char* name;
  Reader reader;
  Node document;
  Want want;
};

}  // namespace

TEST(ProjectFiles, Recognisers) {
  const Environment env{{"RAILS_ENV", "production"}, {"DB_HOST", "envhost"}};
  const Case cases[] = {
      {"Compose .env: the database defaults to the user", Reader::dotenv,
       m({{"POSTGRES_USER", t("app")}, {"POSTGRES_PASSWORD", t("pw")}}),
       {"POSTGRES_* variables", nullptr, nullptr, "app", "pw", "app"}},
      {"image with only a password: postgres", Reader::dotenv, m({{"POSTGRES_PASSWORD", t("pw")}}),
       {"POSTGRES_* variables", nullptr, nullptr, nullptr, "pw", "postgres"}},
      {"FastAPI's POSTGRES_SERVER", Reader::dotenv,
       m({{"POSTGRES_SERVER", t("db")}, {"POSTGRES_DB", t("d")}}),
       {"POSTGRES_* variables", "db", nullptr, nullptr, nullptr, "d"}},
      {"URL keys before variables", Reader::dotenv,
       m({{"POSTGRES_DB", t("x")}, {"PG_URL", t("postgres://u@h/urldb")}}),
       {"PG_URL", "h", nullptr, "u", nullptr, "urldb"}},
      {"a URL without host does not stand alone", Reader::dotenv,
       m({{"DATABASE_URL", t("postgres:///d")}}), {}},
      {"Laravel", Reader::dotenv,
       m({{"DB_CONNECTION", t("pgsql")}, {"DB_HOST", t("h")}, {"DB_PORT", t("5433")},
          {"DB_DATABASE", t("d")}, {"DB_USERNAME", t("u")}, {"DB_PASSWORD", t("p")}}),
       {"Laravel", "h", "5433", "u", "p", "d"}},
      {"Laravel on MySQL", Reader::dotenv,
       m({{"DB_CONNECTION", t("mysql")}, {"DB_DATABASE", t("d")}}), {}},
      {"Keycloak's JDBC URL", Reader::dotenv,
       m({{"KC_DB", t("postgres")}, {"KC_DB_URL", t("jdbc:postgresql://kc:5432/keycloak")},
          {"KC_DB_USERNAME", t("u")}}),
       {"Keycloak", "kc", "5432", "u", nullptr, "keycloak"}},
      {"n8n needs its DB_TYPE", Reader::dotenv, m({{"DB_POSTGRESDB_DATABASE", t("n")}}), {}},
      {"Bitnami", Reader::dotenv,
       m({{"POSTGRESQL_USERNAME", t("u")}, {"POSTGRESQL_DATABASE", t("d")},
          {"POSTGRESQL_PORT_NUMBER", t("not a port")}}),
       {"Bitnami POSTGRESQL_* variables", nullptr, nullptr, "u", nullptr, "d"}},
      {"nothing of ours", Reader::dotenv, m({{"SECRET_KEY", t("x")}, {"DEBUG", t("1")}}), {}},
      {"Django psycopg2 and PostGIS", Reader::django,
       m({{"sqlite", m({{"ENGINE", t("django.db.backends.sqlite3")}, {"NAME", t("db.sqlite3")}})},
          {"geo", m({{"ENGINE", t("django.contrib.gis.db.backends.postgis")}, {"NAME", t("geo")},
                     {"USER", t("")}, {"user", t("u")}, {"PORT", num("5433")}})}}),
       {"Django", nullptr, "5433", "u", nullptr, "geo"}},
      {"Rails: RAILS_ENV's section, merged", Reader::rails,
       m({{"development", m({{"adapter", t("postgresql")}, {"database", t("dev")}})},
          {"production", m({{"adapter", t("postgresql")}, {"database", t("prod")},
                            {"password", t("<%= ENV['PW'] %>")}, {"host", t("ph")}})}}),
       {"Rails", "ph", nullptr, nullptr, nullptr, "prod"}},
      {"Rails on sqlite", Reader::rails,
       m({{"production", m({{"adapter", t("sqlite3")}, {"database", t("db/p.sqlite3")}})}}), {}},
      {"Rails with several databases", Reader::rails,
       m({{"production", m({{"primary", m({{"adapter", t("postgresql")}, {"database", t("main")}})},
                            {"cache", m({{"database", t("cache")}})}})}}),
       {"Rails", nullptr, nullptr, nullptr, nullptr, "main"}},
      {"Spring YAML with placeholders", Reader::spring,
       m({{"spring", m({{"datasource", m({{"url", t("jdbc:postgresql://${DB_HOST:localhost}/${DB_NAME:shop}")},
                                          {"username", t("${DB_USER}")}, {"password", t("pw")}})}})}}),
       {"Spring Boot", "envhost", nullptr, nullptr, "pw", "shop"}},
      {"Spring properties on MySQL", Reader::spring,
       m({{"spring.datasource.url", t("jdbc:mysql://h/d")}}), {}},
      {"config.json nested under db", Reader::config,
       m({{"name", t("my-app")}, {"db", m({{"HOST", t("h")}, {"port", num("5432")}, {"name", t("d")}})}}),
       {"config file", "h", "5432", nullptr, nullptr, "d"}},
      {"flat config.json says nothing without an engine", Reader::config,
       m({{"name", t("my-app")}, {"database", t("d")}, {"port", num("3000")}}), {}},
      {"flat ormconfig.json", Reader::config,
       m({{"type", t("postgres")}, {"database", t("d")}, {"username", t("u")}}),
       {"config file", nullptr, nullptr, "u", nullptr, "d"}},
      {"config on another engine", Reader::config,
       m({{"database", m({{"dialect", t("mysql")}, {"name", t("d")}})}}), {}},
      {"Gitea host:port", Reader::ini,
       m({{"APP_NAME", t("x")}, {"database", m({{"DB_TYPE", t("postgres")}, {"HOST", t("g:5433")},
                                               {"NAME", t("gitea")}, {"PASSWD", t("p")}})}}),
       {"INI [database]", "g", "5433", nullptr, "p", "gitea"}},
      {"Grafana on sqlite", Reader::ini,
       m({{"database", m({{"type", t("sqlite3")}, {"name", t("grafana")}})}}), {}},
      {"Odoo's False", Reader::ini,
       m({{"options", m({{"db_host", t("False")}, {"db_name", t("odoo")}, {"db_user", t("odoo")}})}}),
       {"Odoo", nullptr, nullptr, "odoo", nullptr, "odoo"}},
      {"INI lines before any section", Reader::ini, m({{"PGDATABASE", t("d")}}),
       {"PG* variables", nullptr, nullptr, nullptr, nullptr, "d"}},
  };
  for (const Case& c : cases) expect(recognise(c.reader, c.document, env), c.want, c.name);
}

TEST(ProjectFiles, ComposeServices) {
  const Environment env{{"PW", "from-env"}, {"PORT_DB", "5433"}, {"EMPTY", ""}};
  auto compose = [](Node db) { return m({{"services", m({{"web", m({{"image", t("node:20")}})}, {"db", db}})}}); };
  const Case cases[] = {
      {"published port, variables interpolated, image defaults", Reader::compose,
       compose(m({{"image", t("postgres:16-alpine")},
                  {"ports", l({t("127.0.0.1:${PORT_DB}:5432/tcp")})},
                  {"environment", m({{"POSTGRES_PASSWORD", t("${PW}")}})}})),
       {"Docker Compose", "127.0.0.1", "5433", "postgres", "from-env", "postgres"}},
      {"list environment, long port syntax", Reader::compose,
       compose(m({{"image", t("postgis/postgis")},
                  {"ports", l({m({{"target", num("5432")}, {"published", t("6000")}})})},
                  {"environment", l({t("POSTGRES_USER=app"), t("POSTGRES_DB=${EMPTY:-shop}")})}})),
       {"Docker Compose", nullptr, "6000", "app", nullptr, "shop"}},
      {"nothing published: not reachable from here", Reader::compose,
       compose(m({{"image", t("postgres")}, {"ports", l({t("5432")})}})), {}},
      {"no PostgreSQL service", Reader::compose,
       compose(m({{"image", t("mysql:8")}, {"ports", l({t("3306:3306")})}})), {}},
  };
  for (const Case& c : cases) expect(recognise(c.reader, c.document, env), c.want, c.name);

  struct {
    const char *in, *out;
  } interpolations[] = {
      {"${PW}", "from-env"},       {"$PW-x", "from-env-x"}, {"${NOPE:-d}", "d"},
      {"${EMPTY:-d}", "d"},        {"${EMPTY-d}", ""},      {"$$PW", "$PW"},
      {"a${NOPE}b", "ab"},         {"${unclosed", "${unclosed"},
  };
  for (const auto& c : interpolations) EXPECT_EQ(compose_interpolate(c.in, env), c.out) << c.in;
}

TEST(ProjectFiles, ReadersOfANamedFile) {
  struct {
    const char* name;
    std::vector<Reader> readers;
    Format format;
  } cases[] = {
      {"mysite/settings.py", {Reader::django}, Format::python},
      {"config/database.yml", {Reader::rails, Reader::config}, Format::yaml},
      {"application-prod.properties", {Reader::spring}, Format::properties},
      {"app.ini", {Reader::ini}, Format::ini},
      {"odoo.conf", {Reader::ini}, Format::ini},
      {"prod.env", {Reader::dotenv}, Format::dotenv},
      {".env.local", {Reader::dotenv}, Format::dotenv},
      {"config.JSON", {Reader::config, Reader::dotenv}, Format::json},
      {"deploy/docker-compose.prod.yml", {Reader::compose}, Format::yaml},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readers_for(c.name), c.readers) << c.name;
    EXPECT_EQ(format_for(c.name), c.format) << c.name;
  }
}

namespace {

// A tree of directories and files, listed without a real filesystem; a link
// stands for the directory it names.
class Tree final : public FileSystem {
 public:
  Tree(std::map<std::string, std::vector<std::string>> dirs,
       std::map<std::string, std::string> links = {})
      : dirs_(std::move(dirs)), links_(std::move(links)) {}
  int stat(const std::string& given, FileKind& kind) override {
    std::string path = resolve(given);
    if (dirs_.count(path)) return kind = FileKind::directory, 0;
    auto slash = path.rfind('/');
    auto it = dirs_.find(path.substr(0, slash == 0 ? 1 : slash));
    if (it == dirs_.end()) return ENOENT;
    for (const std::string& name : it->second)
      if (name == path.substr(slash + 1)) return kind = FileKind::regular, 0;
    return ENOENT;
  }
  int identify(const std::string& given, FileId& id) override {
    auto it = dirs_.find(resolve(given));
    if (it == dirs_.end()) return ENOENT;
    id = {1, static_cast<std::uint64_t>(std::distance(dirs_.begin(), it)) + 1};
    return 0;
  }
  int list(const std::string& given, std::vector<DirEntry>& entries) override {
    std::string path = resolve(given);
    auto it = dirs_.find(path);
    if (it == dirs_.end()) return ENOENT;
    for (const std::string& name : it->second) {
      std::string child = path + "/" + name;
      bool link = links_.count(child) > 0;
      bool dir = dirs_.count(child) > 0;
      entries.push_back({name, link ? EntryType::symlink : dir ? EntryType::directory
                                                                : EntryType::regular});
    }
    return 0;
  }

 private:
  std::string resolve(std::string path) const {
    for (int hops = 0; hops < 40; ++hops) {
      bool changed = false;
      for (const auto& [link, target] : links_) {
        if (path == link || path.rfind(link + "/", 0) == 0) {
          path = target + path.substr(link.size());
          changed = true;
        }
      }
      if (!changed) break;
    }
    return path;
  }

  std::map<std::string, std::vector<std::string>> dirs_;
  std::map<std::string, std::string> links_;
};

}  // namespace

TEST(ProjectFiles, DirectoriesNearestFirst) {
  // "/w/p/zeta/loop" is a link back to "/w/p": listed as a directory of
  // the same identity, it adds nothing.
  Tree fs({{"/w", {"p", "q"}},
           {"/w/p", {"zeta", "alpha", "node_modules", ".env"}},
           {"/w/p/zeta", {"deep", "loop"}},
           {"/w/p/zeta/deep", {}},
           {"/w/p/alpha", {}},
           {"/w/p/node_modules", {}},
           {"/w/q", {}}},
          {{"/w/p/zeta/loop", "/w/p"}});
  ListingCache cache(fs);
  using V = std::vector<std::string>;
  EXPECT_EQ(project_directories(cache, "/w/p", 0, 0), V{"/w/p"});
  EXPECT_EQ(project_directories(cache, "/w/p", 0, 2),
            (V{"/w/p", "/w/p/alpha", "/w/p/zeta", "/w/p/zeta/deep"}));
  EXPECT_EQ(project_directories(cache, "/w/p", 0, 1000000).size(), 4u);
  // Up: the parent and its other subdirectories come after the start's own.
  EXPECT_EQ(project_directories(cache, "/w/p", 1, 1),
            (V{"/w/p", "/w/p/alpha", "/w/p/zeta", "/w", "/w/q"}));
}

TEST(ProjectFiles, HintSaysWhereItLooked) {
  std::string hint = nothing_found_hint("/home/a/shop", 1, 2, "");
  EXPECT_NE(hint.find(" in /home/a/shop, 2 levels below, 2 levels above (-dl 2, -ul 1)"),
            std::string::npos)
      << hint;
  EXPECT_NE(hint.find("--debug"), std::string::npos);
  EXPECT_EQ(hint.find(" -d "), std::string::npos);
  EXPECT_EQ(nothing_found_hint("/x", 0, 0, "").find("below"), std::string::npos);
  EXPECT_EQ(nothing_found_hint("/x", 0, 1, "prod.env").rfind("💡 Read prod.env as named", 0), 0u);
}
