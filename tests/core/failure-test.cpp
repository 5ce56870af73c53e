#include "core/failure.hpp"

#include <gtest/gtest.h>

using namespace talvo::core;

TEST(PrivilegeFailure, OnlyTheServersInsufficientPrivilege) {
  EXPECT_TRUE(is_privilege_failure("42501"));
  for (const char* state : {"", "42601", "42P01", "28P01", "28000", "3D000", "4250"})
    EXPECT_FALSE(is_privilege_failure(state)) << state;
}

TEST(ErrorText, EveryFieldOnOneLine) {
  EXPECT_EQ(server_error_text("relation \"a\nb\" does not exist", std::nullopt, std::nullopt),
            "relation \"a\\nb\" does not exist");
  EXPECT_EQ(server_error_text("m", "owner of database x", std::nullopt),
            "m\nDETAIL:  owner of database x");
  EXPECT_EQ(server_error_text("m", "", "try\n\x1b[2Jthis"), "m\nHINT:  try\\n\\x1b[2Jthis");
  EXPECT_EQ(error_text("/tmp/proj\n✅ Database 'prod' dropped successfully/.env: line 2"),
            "/tmp/proj\\n✅ Database 'prod' dropped successfully/.env: line 2");
}

TEST(FileErrorText, PlaceAndKindNeverTheLine) {
  EXPECT_EQ(file_error_text("/p/settings.py", 3, "SyntaxError", "invalid syntax"),
            "/p/settings.py: line 3: SyntaxError: invalid syntax");
  EXPECT_EQ(file_error_text("/p/settings.py", 0, "GeneratorExit", ""),
            "/p/settings.py: GeneratorExit");
}
