#include "core/completion.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

using namespace talvo::core;
using Words = std::vector<std::string_view>;

TEST(CompletionRequest, OnlyTheWholeLineWithAKnownShell) {
  struct Case {
    Words words;
    std::optional<std::string_view> shell;
  } cases[] = {
      {{"--completion", "bash"}, "bash"},
      {{"--completion", "zsh"}, "zsh"},
      {{"--completion=fish"}, "fish"},
      {{"--completion", "tcsh"}, std::nullopt},
      {{"--completion="}, std::nullopt},
      {{"--completion"}, std::nullopt},
      {{"--completionbash"}, std::nullopt},
      {{"--completion", "bash", "show"}, std::nullopt},
      {{"-H", "x", "--completion", "bash"}, std::nullopt},
      {{"show", "--completion", "bash"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(completion_request(c.words), c.shell) << c.words.size();
}

TEST(ValueCompletion, ByCommandAndDestination) {
  using enum ValueCompletion;
  struct Case {
    std::string_view command, dest;
    bool has_choices;
    ValueCompletion expected;
  } cases[] = {
      {"", "CONFIG_FILE", false, files},
      {"", "hostname", false, nothing},
      {"", "completion", true, grammar},
      {"show tables", "database", false, databases},
      {"describe", "database", false, databases},
      {"drop database", "database", false, databases},
      {"create", "database", false, nothing},
      {"create", "username", false, nothing},
      {"create", "CONFIG", false, nothing},
      {"describe", "table", false, tables},
      {"show size", "table", false, tables},
      {"drop user", "username", false, roles},
      {"query", "query", false, nothing},
      {"show indexes", "CONFIG_FILE", false, nothing},
  };
  for (const Case& c : cases)
    EXPECT_EQ(value_completion(c.command, c.dest, c.has_choices), c.expected)
        << c.command << " " << c.dest;
  EXPECT_TRUE(is_live(databases) && is_live(tables) && is_live(roles));
  EXPECT_FALSE(is_live(files) || is_live(grammar) || is_live(nothing));
}

TEST(TableDatabase, TheLineBeforeDiscovery) {
  using O = std::optional<std::string_view>;
  struct Case {
    O on_line, discovered, expected;
  } cases[] = {
      {"shop", "app", "shop"},
      {std::nullopt, "app", "app"},
      {"", "app", "app"},
      {"shop", std::nullopt, "shop"},
      {std::nullopt, "", std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(table_database(c.on_line, c.discovered), c.expected);
}

TEST(OfferableName, NoControlCharacters) {
  EXPECT_TRUE(offerable_name("orders"));
  EXPECT_TRUE(offerable_name("My Table"));
  EXPECT_TRUE(offerable_name("caf\xc3\xa9"));
  EXPECT_FALSE(offerable_name(""));
  EXPECT_FALSE(offerable_name("two\nlines"));
  EXPECT_FALSE(offerable_name("tab\there"));
  EXPECT_FALSE(offerable_name("v\x0btab"));
  EXPECT_FALSE(offerable_name("del\x7f"));
}

TEST(Completion, NeedsNoQuoting) {
  EXPECT_TRUE(needs_no_quoting("orders_2024"));
  EXPECT_TRUE(needs_no_quoting("caf\xc3\xa9-x.y@z=1/2"));
  for (const char* word : {"My Table", "a:b", "it's", "say\"hi\"", "x$y", "a*", "back\\slash",
                           "(p)", "a;b", "a|b", "a&b", "a!b", "a`b", "a?b", "[a]", "{a}", "a<b>"})
    EXPECT_FALSE(needs_no_quoting(word)) << word;
}
