#include "core/data_format.hpp"

#include <gtest/gtest.h>

#include <vector>

using namespace talvo::core;

TEST(DataFormat, NamesBothWays) {
  for (DataFormat f : {DataFormat::table, DataFormat::csv, DataFormat::json})
    EXPECT_EQ(parse_format(format_name(f)), f);
  EXPECT_EQ(parse_format("CSV"), std::nullopt);
  EXPECT_EQ(parse_format(""), std::nullopt);
}

TEST(DataFormat, AfterTheCommandWordWins) {
  constexpr auto none = std::nullopt;
  EXPECT_EQ(settle_format(none, none), DataFormat::table);
  EXPECT_EQ(settle_format(DataFormat::csv, none), DataFormat::csv);
  EXPECT_EQ(settle_format(none, DataFormat::json), DataFormat::json);
  EXPECT_EQ(settle_format(DataFormat::csv, DataFormat::json), DataFormat::json);
  EXPECT_EQ(settle_format(DataFormat::json, DataFormat::table), DataFormat::table);
}

TEST(DataFormat, FromRawWords) {
  struct Case {
    std::vector<std::string_view> words;
    std::optional<DataFormat> format;
  };
  const Case cases[] = {
      {{}, std::nullopt},
      {{"--format", "csv", "show", "dbs"}, DataFormat::csv},
      {{"show", "dbs", "--format=json"}, DataFormat::json},
      {{"--format", "csv", "show", "dbs", "--format", "table"}, DataFormat::table},
      {{"--form", "json", "query"}, DataFormat::json},
      {{"--f=csv"}, DataFormat::csv},
      // Not the option, or no format after it.
      {{"-f", "csv"}, std::nullopt},
      {{"--formats", "csv"}, std::nullopt},
      {{"--format", "xml"}, std::nullopt},
      {{"--format", "csv", "--format", "xml"}, DataFormat::csv},
      // A query text is one word, whatever it says.
      {{"query", "-q", "--format csv"}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (auto w : c.words) (shown += w) += ' ';
    EXPECT_EQ(format_in_words(c.words), c.format) << shown;
  }
}
