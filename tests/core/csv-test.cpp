#include "core/csv.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace talvo::core;

TEST(CsvField, AsCopyWritesIt) {
  struct Case {
    Field value;
    bool only_column;
    std::string written;
  };
  const Case cases[] = {
      {std::nullopt, false, ""},
      {"", false, "\"\""},
      {"plain", false, "plain"},
      {"a,b", false, "\"a,b\""},
      {"say \"hi\"", false, "\"say \"\"hi\"\"\""},
      {"two\nlines", false, "\"two\nlines\""},
      {"cr\rhere", false, "\"cr\rhere\""},
      {" lead and tail ", false, " lead and tail "},
      {"Müller 東京", false, "Müller 東京"},
      {"\\.", true, "\"\\.\""},
      {"\\.", false, "\\."},
  };
  for (const Case& c : cases) {
    std::string out;
    append_csv_field(out, c.value, c.only_column);
    EXPECT_EQ(out, c.written) << c.value.value_or("NULL");
  }
}

std::vector<std::vector<std::string>> read_in_pieces(const std::string& text, std::size_t piece) {
  std::vector<std::vector<std::string>> records;
  CsvReader reader;
  for (std::size_t at = 0; at < text.size(); at += piece) {
    reader.feed(std::string_view(text).substr(at, piece), [&](std::span<const Field> fields) {
      auto& r = records.emplace_back();
      for (Field f : fields) r.push_back(f ? "[" + std::string(*f) + "]" : "NULL");
    });
  }
  EXPECT_FALSE(reader.incomplete());
  return records;
}

TEST(CsvReader, RecordsWhateverThePieces) {
  const std::string text =
      "1,,\"\",plain\n"
      "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"\"\"\"\n"
      ",\n"
      "\"\"\n";
  const std::vector<std::vector<std::string>> expected = {
      {"[1]", "NULL", "[]", "[plain]"},
      {"[a,b]", "[say \"hi\"]", "[two\nlines]", "[\"]"},
      {"NULL", "NULL"},
      {"[]"},
  };
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, text.size()})
    EXPECT_EQ(read_in_pieces(text, piece), expected) << piece;
}

TEST(CsvReader, WritesBackWhatItRead) {
  const std::string text = "x,\"\",,\"a\"\"b\nc\"\n";
  std::string again;
  CsvReader reader;
  reader.feed(text, [&](std::span<const Field> fields) { append_csv_record(again, fields); });
  EXPECT_EQ(again, text);
}
