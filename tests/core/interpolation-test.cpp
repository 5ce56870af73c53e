#include "core/interpolation.hpp"

#include <gtest/gtest.h>

#include <map>

#include "core/document_rules.hpp"
#include "core/env_layers.hpp"

using namespace talvo::core;

namespace {

Lookup from(const std::map<std::string, std::string, std::less<>>& values) {
  return [values](std::string_view name) -> std::optional<std::string> {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

const char* kUnknown = "(unknown)";

}  // namespace

TEST(Interpolation, ReferencesDefaultsAndNesting) {
  Lookup env = from({{"PW", "s3cret"}, {"HOST", "db"}, {"EMPTY", ""}, {"INNER", "${HOST}:5432"},
                     {"SPRING_DATASOURCE_PASSWORD", "relaxed"}});
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"${PW}", "s3cret"},
      {"${NOPE:-fallback}", "fallback"},
      {"${NOPE:fallback}", "fallback"},        // Spring's form
      {"${EMPTY:-d}", "d"},
      {"jdbc:postgresql://${HOST:localhost}/shop", "jdbc:postgresql://db/shop"},
      {"${INNER}", "db:5432"},                 // a value refers on
      {"${NOPE:-${HOST}}", "db"},              // a default refers on
      {"${spring.datasource.password}", "relaxed"},
      {"${NOPE}", kUnknown},                   // nothing to go by
      {"${unclosed", kUnknown},
      {"no references", "no references"},
  };
  for (const auto& c : cases) {
    Budget budget(expansion_budget(100));
    auto got = interpolate(c.in, env, budget);
    EXPECT_EQ(got ? *got : kUnknown, std::string(c.out)) << c.in;
    EXPECT_FALSE(budget.exceeded()) << c.in;
  }
}

TEST(Interpolation, ANestedReferenceBombRunsOutOfBudget) {
  // Each level doubles the one below: 30 levels would be a gigabyte.
  std::map<std::string, std::string, std::less<>> values{{"V0", "0123456789abcdef"}};
  std::size_t file_bytes = 0;
  for (int i = 1; i <= 30; ++i) {
    std::string below = "${V" + std::to_string(i - 1) + "}";
    values["V" + std::to_string(i)] = below + below;
    file_bytes += 16;
  }
  Budget budget(expansion_budget(file_bytes));
  EXPECT_FALSE(interpolate("${V30}", from(values), budget));
  EXPECT_TRUE(budget.exceeded());
  EXPECT_LT(expansion_budget(1024), std::size_t{1} << 20);  // a kilobyte stays below a megabyte
}

TEST(Interpolation, RailsErbForms) {
  Lookup env = from({{"DB_HOST", "db"}, {"DB_PASSWORD", "pw"}});
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"<%= ENV[\"DB_HOST\"] %>", "db"},
      {"<%= ENV['DB_HOST'] %>", "db"},
      {"<%= ENV['NOPE'] %>", ""},  // nil prints as nothing
      {"<%= ENV.fetch(\"NOPE\") { \"localhost\" } %>", "localhost"},
      {"<%= ENV.fetch('NOPE') { 5 } %>", "5"},
      {"<%= ENV.fetch(\"NOPE\", \"local\") %>", "local"},
      {"<%= ENV.fetch(\"DB_PASSWORD\", \"x\") %>", "pw"},
      {"<%= ENV[\"NOPE\"] || \"d\" %>", "d"},
      {"shop_<%= ENV['DB_HOST'] %>", "shop_db"},
      {"<%= ENV.fetch(\"NOPE\") %>", kUnknown},  // Rails stops with KeyError
      {"<%= Rails.application.credentials.db %>", kUnknown},
      {"<% x = 1 %>", kUnknown},
  };
  for (const auto& c : cases) {
    Budget budget(expansion_budget(100));
    auto got = erb_value(c.in, env, budget);
    EXPECT_EQ(got ? *got : kUnknown, std::string(c.out)) << c.in;
  }
}

TEST(EnvLayers, ModeLayersAndDecoys) {
  EXPECT_EQ(env_mode({}), "development");
  EXPECT_EQ(env_mode({{"NODE_ENV", "production"}, {"RAILS_ENV", "test"}}), "production");
  EXPECT_EQ(env_mode({{"APP_ENV", ""}, {"FLASK_ENV", "staging"}}), "staging");
  EXPECT_EQ(env_mode({{"ENVIRONMENT", "qa"}}), "qa");
  using V = std::vector<std::string>;
  EXPECT_EQ(env_layer_files("development"),
            (V{".env", ".env.local", ".env.development", ".env.development.local"}));
  EXPECT_EQ(env_layer_files("test"), (V{".env", ".env.test", ".env.test.local"}));

  for (const char* decoy : {".env.example", ".env.sample", ".env.dist", ".env.template",
                            ".env.test", "config.example.json", "database.yml.sample",
                            "app-example.ini", ".env.local.example"})
    EXPECT_TRUE(decoy_file(decoy, "development")) << decoy;
  for (const char* real : {".env", ".env.local", "config.json", "testing.ini", "contest.yml"})
    EXPECT_FALSE(decoy_file(real, "development")) << real;
  EXPECT_FALSE(decoy_file(".env.test", "test"));

  // .env.local overrides .env key by key, in .env's place.
  auto merged = merge_layers({{{"A", "1", ".env", 1}, {"B", "2", ".env", 2}},
                              {{"C", "3", ".env.local", 1}, {"A", "9", ".env.local", 2}}});
  ASSERT_EQ(merged.size(), 3u);
  EXPECT_EQ(merged[0].key, "A");
  EXPECT_EQ(merged[0].value, "9");
  EXPECT_EQ(merged[0].file, ".env.local");
  EXPECT_EQ(merged[0].line, 2u);
  EXPECT_EQ(merged[2].key, "C");
}

TEST(DocumentRules, ProfilesEnvironmentsAndSettingsModules) {
  std::vector<KeyValue> base{{"spring.profiles.active", "dev, local", "application.properties", 3}};
  using V = std::vector<std::string>;
  EXPECT_EQ(spring_profiles(base, {}), (V{"dev", "local"}));
  EXPECT_EQ(spring_profiles(base, {{"SPRING_PROFILES_ACTIVE", "prod"}}), V{"prod"});
  EXPECT_EQ(spring_profiles({}, {}), V{});
  V dev{"dev"};
  EXPECT_EQ(spring_profile_files("src/main/resources/application.yml", dev),
            (V{"src/main/resources/application-dev.properties", "src/main/resources/application-dev.yml",
               "src/main/resources/application-dev.yaml"}));
  EXPECT_EQ(dotnet_environment({}), "Development");
  EXPECT_EQ(dotnet_environment({{"DOTNET_ENVIRONMENT", "Staging"}}), "Staging");
  EXPECT_EQ(dotnet_environment_file("appsettings.json", "Development"), "appsettings.Development.json");
  EXPECT_EQ(django_settings_files("import os\n\ndef main():\n    os.environ.setdefault("
                                  "'DJANGO_SETTINGS_MODULE', 'config.settings.local')\n"),
            (V{"config/settings/local.py", "config/settings/local/__init__.py"}));
  EXPECT_EQ(django_settings_files("os.environ.setdefault(\"DJANGO_SETTINGS_MODULE\", \"mysite.settings\")"),
            (V{"mysite/settings.py", "mysite/settings/__init__.py"}));
  EXPECT_EQ(django_settings_files("print('no settings here')"), V{});
}
