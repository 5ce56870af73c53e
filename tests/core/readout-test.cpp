#include "core/readout.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace talvo::core;

TEST(FormatGigabytes, MatchesPythonPercentTwoF) {
  struct Case { std::int64_t bytes; const char* shown; };
  const Case cases[] = {
      {0, "0.00"},
      {1610612736LL + 536870912LL, "2.00"},  // 1.5 GiB + 0.5 GiB
      {134217728, "0.12"},                    // exactly 0.125: ties go to even
      {402653184, "0.38"},                    // exactly 0.375
      {5368709, "0.00"},                      // just under 0.005
      {5368710, "0.01"},                      // just over 0.005
      {1073741823, "1.00"},
      {1000000000000000LL, "931322.57"},
      {9223372036854775807LL, "8589934592.00"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_gigabytes(c.bytes), c.shown) << c.bytes;
}

TEST(MaskPassword, OneStarPerCharacter) {
  EXPECT_EQ(mask_password(""), "");
  EXPECT_EQ(mask_password("secret12"), "********");
  EXPECT_EQ(mask_password("pässwörd"), "********");  // multi-byte letters count once
  EXPECT_EQ(mask_password("🔑"), "*");
}

TEST(DangerousKeyword, SubstringsInOrder) {
  EXPECT_EQ(find_dangerous_keyword("SELECT 1"), std::nullopt);
  EXPECT_EQ(find_dangerous_keyword(""), std::nullopt);
  EXPECT_EQ(find_dangerous_keyword("SELECT 'DROPPED'"), "DROP");
  EXPECT_EQ(find_dangerous_keyword("SELECT LAST_UPDATED FROM T"), "UPDATE");
  EXPECT_EQ(find_dangerous_keyword("SELECT CREATED_AT FROM T"), "CREATE");
  // The list order decides, not the position in the text.
  EXPECT_EQ(find_dangerous_keyword("UPDATE T SET A = 1; DROP TABLE T"), "DROP");
  EXPECT_EQ(find_dangerous_keyword("-- DELETE\nSELECT 1"), "DELETE");
  // Upper-casing is the caller's: lower case words are not seen here.
  EXPECT_EQ(find_dangerous_keyword("drop table t"), std::nullopt);
}

TEST(DisplayLimit, NoneAndZeroMeanHundred) {
  EXPECT_EQ(display_limit(std::nullopt), 100);
  EXPECT_EQ(display_limit(0), 100);
  EXPECT_EQ(display_limit(5), 5);
  EXPECT_EQ(display_limit(-2), -2);
}

TEST(RowsShown, FollowsSliceRules) {
  struct Case { std::int64_t available, limit, shown; };
  const Case cases[] = {
      {150, 100, 100}, {100, 100, 100}, {3, 5, 3}, {10, -2, 8},
      {2, -2, 0},      {1, -5, 0},      {0, 100, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(rows_shown(c.available, c.limit), c.shown) << c.available << " " << c.limit;
}

TEST(RowLimit, TablesAlwaysHaveOneDataFormatsWhenGiven) {
  struct Case { DataFormat format; std::optional<std::int64_t> given, limit; };
  const Case cases[] = {
      {DataFormat::table, std::nullopt, 100}, {DataFormat::table, 0, 100},
      {DataFormat::table, 7, 7},              {DataFormat::table, -2, -2},
      {DataFormat::csv, std::nullopt, std::nullopt}, {DataFormat::json, std::nullopt, std::nullopt},
      {DataFormat::csv, 0, 100},              {DataFormat::json, 5, 5},
      {DataFormat::csv, -3, -3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(row_limit(c.format, c.given), c.limit) << format_name(c.format) << " " << c.given.value_or(-999);
}

TEST(RowWindow, FirstRowsOrAllButTheLast) {
  EXPECT_EQ(row_window(std::nullopt), (RowWindow{std::nullopt, 0}));
  EXPECT_EQ(row_window(100), (RowWindow{100, 0}));
  EXPECT_EQ(row_window(0), (RowWindow{0, 0}));
  EXPECT_EQ(row_window(-2), (RowWindow{std::nullopt, 2}));
  // Negating the most negative limit would overflow.
  EXPECT_EQ(row_window(std::numeric_limits<std::int64_t>::min()),
            (RowWindow{std::nullopt, std::numeric_limits<std::int64_t>::max()}));
}

TEST(ParseLimit, WhatIntReadsWithinSixtyFourBits) {
  struct Case { const char* text; std::optional<std::int64_t> value; };
  const Case cases[] = {
      {"5", 5}, {"-2", -2}, {"+7", 7}, {"0", 0}, {"-0", 0}, {"007", 7}, {" 12\n", 12},
      {"1_000", 1000},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", std::nullopt}, {"-9223372036854775809", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt}, {"-", std::nullopt}, {"1.5", std::nullopt}, {"0x10", std::nullopt},
      {"_1", std::nullopt}, {"1_", std::nullopt}, {"1__0", std::nullopt}, {"1 2", std::nullopt},
      {"--1", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_limit(c.text), c.value) << c.text;
}

TEST(RowsLeftOut, OnlyWhenALimitCutsSomething) {
  struct Case { std::int64_t total; std::optional<std::int64_t> limit; bool left_out; };
  const Case cases[] = {
      {150, 100, true}, {100, 100, false}, {3, 5, false}, {0, 100, false},
      {150, std::nullopt, false},
      // As rows[:-2] is announced: "Showing -2 of 150 rows".
      {150, -2, true}, {1, -5, true}, {0, -2, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(rows_left_out(c.total, c.limit), c.left_out) << c.total << " " << c.limit.value_or(-999);
}

TEST(TagCount, LastWordOfTheTag) {
  EXPECT_EQ(tag_count("MOVE 42"), 42);
  EXPECT_EQ(tag_count("COPY 0"), 0);
  EXPECT_EQ(tag_count("INSERT 0 3"), 3);
  EXPECT_EQ(tag_count("MOVE"), std::nullopt);
  EXPECT_EQ(tag_count("MOVE x"), std::nullopt);
  EXPECT_EQ(tag_count(""), std::nullopt);
}

TEST(FormatTimestamp, PadsEveryField) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 31;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(format_timestamp(t), "20240131_140509");
}

TEST(Secrets, KeysAndPasswordsHoweverWritten) {
  for (const char* key : {"password", "POSTGRES_PASSWORD", "DB_PASS", "passwd", "MB_DB_PASS",
                          "db_pwd", "SECRET_KEY", "api_token"})
    EXPECT_TRUE(talvo::core::is_secret_key(key)) << key;
  for (const char* key : {"user", "DB_HOST", "port", "database_url", ""})
    EXPECT_FALSE(talvo::core::is_secret_key(key)) << key;

  struct {
    const char *text, *shown;
  } cases[] = {
      {"postgres://app:s3cret@h:5432/d", "postgres://app:******@h:5432/d"},
      {"{'DATABASE_URL': 'postgresql://u:p%21@h/d', 'X': 'http://a/b'}",
       "{'DATABASE_URL': 'postgresql://u:****@h/d', 'X': 'http://a/b'}"},
      {"postgres://u@h/d", "postgres://u@h/d"},
      {"no url here: a@b", "no url here: a@b"},
      {"a://x:1@h b://y:22@k", "a://x:*@h b://y:**@k"},
      // Raw characters that end an authority elsewhere.
      {"postgresql://u:a/b#c?d@h:5432/db", "postgresql://u:*******@h:5432/db"},
      {"postgresql://u:it's \"x\" y@h/db", "postgresql://u:**********@h/db"},
      {"postgresql://u:p@ss@h/db", "postgresql://u:****@h/db"},
      // Settings: libpq keyword/value strings, ADO.NET and JDBC, URL queries.
      {"host=h port=5432 password=s3cret dbname=x", "host=h port=5432 password=****** dbname=x"},
      {"host=h password = 'a b\\'c' user=u", "host=h password = '******' user=u"},
      {"password=last", "password=****"},
      {"password=a b c", "password=*****"},
      {"Server=h;Port=5432;User Id=u;Password=p;w d;Database=x;",
       "Server=h;Port=5432;User Id=u;Password=*****;Database=x;"},
      {"Server=h;PWD=\"a;\"\"b\";Database=x", "Server=h;PWD=\"*****\";Database=x"},
      {"jdbc:postgresql://h/d?user=u&password=p&ssl=true", "jdbc:postgresql://h/d?user=u&password=*&ssl=true"},
      {"POSTGRES_PASSWORD=x1 POSTGRES_USER=u", "POSTGRES_PASSWORD=** POSTGRES_USER=u"},
      {"user=u dbname=d", "user=u dbname=d"},
      {"postgresql://u:pw@h/d?password=q", "postgresql://u:**@h/d?password=*"},
  };
  for (const auto& c : cases) EXPECT_EQ(talvo::core::mask_secrets(c.text), c.shown) << c.text;
}
