#include "core/json.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace talvo::core;

std::string json_of(ValueKind kind, Field text) {
  std::string out;
  append_json_value(out, kind, text);
  return out;
}

TEST(JsonString, EscapesOnlyWhatJsonRequires) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {"tab\tlf\ncr\rbs\bff\f", "\"tab\\tlf\\ncr\\rbs\\bff\\f\""},
      {std::string_view("\x00\x01\x1f", 3), "\"\\u0000\\u0001\\u001f\""},
      {"\x7f/<>", "\"\x7f/<>\""},
      {"Müller 東京 🐘 \u2028", "\"Müller 東京 🐘 \u2028\""},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(json_of({}, text), json) << text;
}

TEST(JsonNumber, ServerTextOrAString) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"0", "0"},
      {"-42", "-42"},
      {"9223372036854775807", "9223372036854775807"},
      {"12345.67890000000000000000", "12345.67890000000000000000"},
      {"1e+16", "1e+16"},
      {"-2.5e-07", "-2.5e-07"},
      {"NaN", "\"NaN\""},
      {"Infinity", "\"Infinity\""},
      {"-Infinity", "\"-Infinity\""},
      {"01", "\"01\""},
      {"1.", "\"1.\""},
      {".5", "\".5\""},
      {"$1.00", "\"$1.00\""},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(json_of({JsonKind::number}, text), json) << text;
}

TEST(JsonValue, ByKind) {
  struct Case {
    ValueKind kind;
    Field text;
    std::string json;
  };
  const Case cases[] = {
      {{JsonKind::number}, std::nullopt, "null"},
      {{}, std::nullopt, "null"},
      {{JsonKind::boolean}, "t", "true"},
      {{JsonKind::boolean}, "f", "false"},
      {{JsonKind::boolean}, "maybe", "\"maybe\""},
      {{JsonKind::json}, "{\"a\": [1, \"x\"]}", "{\"a\": [1, \"x\"]}"},
      {{JsonKind::timestamp}, "2024-01-31 12:00:00+00", "\"2024-01-31T12:00:00+00:00\""},
      {{JsonKind::timestamp}, "2024-01-31 12:00:00.5-03", "\"2024-01-31T12:00:00.5-03:00\""},
      {{JsonKind::timestamp}, "2024-01-31 17:30:00.5+05:30", "\"2024-01-31T17:30:00.5+05:30\""},
      {{JsonKind::timestamp}, "1850-01-01 12:19:32+00:19:32", "\"1850-01-01T12:19:32+00:19:32\""},
      {{JsonKind::timestamp}, "2024-01-31 12:00:00", "\"2024-01-31T12:00:00\""},
      {{JsonKind::timestamp}, "0044-03-15 12:00:00+00 BC", "\"0044-03-15T12:00:00+00:00 BC\""},
      {{JsonKind::timestamp}, "infinity", "\"infinity\""},
      {{JsonKind::timestamp}, "-infinity", "\"-infinity\""},
      {{}, "1 mon 2 days", "\"1 mon 2 days\""},
      {{}, "\\x0001", "\"\\\\x0001\""},
  };
  for (const Case& c : cases) EXPECT_EQ(json_of(c.kind, c.text), c.json) << c.text.value_or("NULL");
}

TEST(JsonValue, Arrays) {
  struct Case {
    ValueKind kind;
    std::string_view text;
    std::string json;
  };
  const ValueKind numbers{JsonKind::number, true}, strings{JsonKind::string, true};
  const Case cases[] = {
      {numbers, "{1,2,NULL}", "[1, 2, null]"},
      {numbers, "{}", "[]"},
      {numbers, "{{1,2},{3,4}}", "[[1, 2], [3, 4]]"},
      {numbers, "[0:1]={5,6}", "[5, 6]"},
      {numbers, "{NaN,-Infinity}", "[\"NaN\", \"-Infinity\"]"},
      {strings, "{a,\"b c\",NULL,\"NULL\",\"x\\\"y\",\"\\\\\",\"\"}",
       "[\"a\", \"b c\", null, \"NULL\", \"x\\\"y\", \"\\\\\", \"\"]"},
      {{JsonKind::json, true}, "{\"{\\\"a\\\": 1}\",\"[]\"}", "[{\"a\": 1}, []]"},
      {{JsonKind::boolean, true}, "{t,f}", "[true, false]"},
      {{JsonKind::timestamp, true}, "{\"2024-01-31 12:00:00+00\"}", "[\"2024-01-31T12:00:00+00:00\"]"},
      // Not an array's text: kept whole.
      {numbers, "{1,2", "\"{1,2\""},
  };
  for (const Case& c : cases) EXPECT_EQ(json_of(c.kind, c.text), c.json) << c.text;
}
