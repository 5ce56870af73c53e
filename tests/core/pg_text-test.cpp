#include "core/pg_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace talvo::core;

std::vector<std::string> fields_of(std::string_view text) {
  RecordText record;
  if (!record.parse(text)) return {"<not a row>"};
  std::vector<std::string> out;
  for (Field f : record.fields()) out.push_back(f ? "[" + std::string(*f) + "]" : "NULL");
  return out;
}

TEST(RecordText, FieldsAsRecordOutWritesThem) {
  using V = std::vector<std::string>;
  EXPECT_EQ(fields_of("(1,abc)"), (V{"[1]", "[abc]"}));
  EXPECT_EQ(fields_of("(1,,\"\")"), (V{"[1]", "NULL", "[]"}));
  EXPECT_EQ(fields_of("()"), (V{"NULL"}));
  EXPECT_EQ(fields_of("(\"a\"\"b\\\\c\",\"x,y\",\" lead\")"), (V{"[a\"b\\c]", "[x,y]", "[ lead]"}));
  EXPECT_EQ(fields_of("(\"l\nf\",\"{1,2}\",\"(1,\"\"a b\"\")\")"),
            (V{"[l\nf]", "[{1,2}]", "[(1,\"a b\")]"}));
  EXPECT_EQ(fields_of("(\"\\\\x0001\",12:00:00+02)"), (V{"[\\x0001]", "[12:00:00+02]"}));
  EXPECT_EQ(fields_of("1,2"), (V{"<not a row>"}));
  EXPECT_EQ(fields_of("(\"open)"), (V{"<not a row>"}));
}

TEST(DoubleText, ShortestAndSpeltAsTheServerDoes) {
  EXPECT_EQ(double_text(1.5), "1.5");
  EXPECT_EQ(double_text(100.0), "100");
  EXPECT_EQ(double_text(0.1), "0.1");
  EXPECT_EQ(double_text(1e16), "1e+16");
  EXPECT_EQ(double_text(-2.5e-7), "-2.5e-07");
  EXPECT_EQ(double_text(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(double_text(std::numeric_limits<double>::infinity()), "Infinity");
  EXPECT_EQ(double_text(-std::numeric_limits<double>::infinity()), "-Infinity");
}

TEST(ByteaText, HexForm) {
  EXPECT_EQ(bytea_text(""), "\\x");
  EXPECT_EQ(bytea_text(std::string("\x00\x7f\xff", 3)), "\\x007fff");
}

TEST(DateTimeText, IsoDateStyle) {
  DateTimeParts t{2024, 1, 31, 9, 5, 7, 0, std::nullopt};
  EXPECT_EQ(date_text(t), "2024-01-31");
  EXPECT_EQ(time_text(t), "09:05:07");
  EXPECT_EQ(timestamp_text(t), "2024-01-31 09:05:07");
  t.microsecond = 500000;
  t.utc_offset = 0;
  EXPECT_EQ(timestamp_text(t), "2024-01-31 09:05:07.5+00");
  t.microsecond = 123456;
  t.utc_offset = 5 * 3600 + 30 * 60;
  EXPECT_EQ(timestamp_text(t), "2024-01-31 09:05:07.123456+05:30");
  t.microsecond = 10;
  t.utc_offset = -(3 * 3600);
  EXPECT_EQ(time_text(t), "09:05:07.00001-03");
  t.utc_offset = 19 * 60 + 32;
  EXPECT_EQ(time_text(t), "09:05:07.00001+00:19:32");
  EXPECT_EQ(date_text({12, 3, 4, 0, 0, 0, 0, std::nullopt}), "0012-03-04");
}

TEST(DateTimeText, PythonForm) {
  DateTimeParts t{2024, 1, 31, 9, 5, 7, 0, std::nullopt};
  EXPECT_EQ(python_datetime_text(t), "2024-01-31 09:05:07");
  t.microsecond = 500000;
  t.utc_offset = 0;
  EXPECT_EQ(python_datetime_text(t), "2024-01-31 09:05:07.500000+00:00");
  t.microsecond = 10;
  t.utc_offset = -(3 * 3600);
  EXPECT_EQ(python_datetime_text(t), "2024-01-31 09:05:07.000010-03:00");
  t.utc_offset = 19 * 60 + 32;
  EXPECT_EQ(python_datetime_text({1, 1, 1, 0, 0, 0, 0, 19 * 60 + 32}), "0001-01-01 00:00:00+00:19:32");
}
