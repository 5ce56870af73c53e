#include "core/origins.hpp"

#include <gtest/gtest.h>

using namespace talvo::core;

TEST(KeyLine, WholeKeysThenPartByPart) {
  struct Case {
    const char* text;
    const char* key;
    int line;
  } cases[] = {
      {"# db\nPOSTGRES_HOST=db\nPOSTGRES_HOST_X=no\n", "POSTGRES_HOST", 2},
      {"export DB_USER=app\n", "DB_USER", 1},
      {"spring.datasource.url=jdbc:postgresql://h/db\n", "spring.datasource.url", 1},
      {"{\n  \"database\": {\n    \"host\": \"h\"\n  }\n}\n", "database.host", 3},
      {"default: &d\n  host: x\nproduction:\n  <<: *d\n  host: y\n", "production.host", 5},
      {"[server]\nhost = a\n[database]\nHOST = b:5432\n", "database.HOST", 4},
      {"DB_HOSTNAME=x\n", "DB_HOST", 0},
      {"", "anything", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(key_line(c.text, c.key), c.line) << c.key;
}

TEST(LocateSources, TheEntryThatHoldsEachValue) {
  Node doc = Node::map();
  doc.add("APP_NAME", Node::text("shop"));
  doc.add("DATABASE_URL", Node::text("postgresql://app@db:5432/shop"));
  Node& db = doc.add("database", Node::map());
  db.add("user", Node::text("app"));
  Found found;
  found.path = "/p/config.yml";
  found.endpoint.user = "app";
  found.endpoint.database = "shop";
  found.endpoint.host = "db";
  found.endpoint.password = "from-a-default";
  found.sources[static_cast<std::size_t>(Setting::host)] = {Source::Kind::environment, "DB_HOST", {}, 0};
  locate_sources(doc, found);
  auto key = [&](Setting s) { return found.sources[static_cast<std::size_t>(s)].key; };
  EXPECT_EQ(key(Setting::user), "database.user");      // the value itself
  EXPECT_EQ(key(Setting::database), "DATABASE_URL");   // not the unrelated APP_NAME
  EXPECT_EQ(found.sources[static_cast<std::size_t>(Setting::host)].where, "DB_HOST");  // already known
  EXPECT_EQ(key(Setting::password), "");               // nothing holds it
}
