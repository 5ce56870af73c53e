#include "core/version_file.hpp"

#include <gtest/gtest.h>

#include "core/text.hpp"

using talvo::core::version_from_text;

TEST(VersionFromText, TakesFirstQualifyingLine) {
  EXPECT_EQ(version_from_text("version = \"1.4.2\"\n"), "1.4.2");
  EXPECT_EQ(version_from_text("  version='3.0'  \n"), "3.0");
  EXPECT_EQ(version_from_text("version_info = 7\n"), "7");
  EXPECT_EQ(version_from_text("version = \"'x'\"\n"), "x");
}

TEST(VersionFromText, SkipsLinesThatDoNotQualify) {
  EXPECT_EQ(version_from_text("__version__ = '9'\n"), std::nullopt);
  EXPECT_EQ(version_from_text("version == 3\nversion = 4\n"), "4");
  EXPECT_EQ(version_from_text("# version = 1\nname = 2\n"), std::nullopt);
  EXPECT_EQ(version_from_text(""), std::nullopt);
}

TEST(VersionFromText, LastLineWithoutLineEnd) {
  EXPECT_EQ(version_from_text("a = 1\nversion = 5"), "5");
}

TEST(VersionFromFile, MissingFileHasNoVersion) {
  EXPECT_EQ(talvo::core::version_from_file("/nonexistent/__version__.py"), std::nullopt);
  EXPECT_EQ(talvo::core::version_from_file("/"), std::nullopt);
}

TEST(Utf8, RejectsMalformedSequences) {
  using talvo::core::is_valid_utf8;
  EXPECT_TRUE(is_valid_utf8("plain ascii"));
  EXPECT_TRUE(is_valid_utf8("caf\xc3\xa9 \xf0\x9f\x90\x9e"));
  EXPECT_FALSE(is_valid_utf8("\xff"));
  EXPECT_FALSE(is_valid_utf8("\xc3"));        // truncated
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));    // overlong
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));  // surrogate
}
