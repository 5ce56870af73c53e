#include "core/paging.hpp"

#include <gtest/gtest.h>

using namespace talvo::core;

TEST(Paging, ScreenSize) {
  EXPECT_EQ(screen_size({}, {}, {120, 40}).columns, 120u);
  EXPECT_EQ(screen_size("100", "x", {120, 40}).columns, 100u);
  EXPECT_EQ(screen_size("100", "x", {120, 40}).rows, 40u);
  EXPECT_EQ(screen_size("", "-3", {0, 0}).columns, 80u);
  EXPECT_EQ(screen_size("", "-3", {0, 0}).rows, 25u);
}

TEST(Paging, WhenAndWhich) {
  const Screen screen{80, 24};
  struct Case {
    PagingFacts facts;
    std::size_t width, height;
    bool more;
    std::optional<std::string> pager;
  };
  const Case cases[] = {
      {{true, "xterm", {}, screen}, 80, 23, false, std::nullopt},  // fits
      {{true, "xterm", {}, screen}, 80, 24, false, "less -SRXF"},  // one line too tall
      {{true, "xterm", {}, screen}, 81, 3, false, "less -SRXF"},   // too wide
      {{true, "xterm", {}, screen}, 10, 3, true, "less -SRXF"},    // rows still coming
      {{true, "xterm", "most -s", screen}, 81, 3, false, "most -s"},
      {{true, "xterm", "", screen}, 81, 300, false, std::nullopt},   // PAGER= turns it off
      {{true, "xterm", "  ", screen}, 81, 300, false, std::nullopt},
      {{false, "xterm", {}, screen}, 81, 300, false, std::nullopt},  // a file or a pipe
      {{true, "dumb", {}, screen}, 81, 300, false, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pager_for(c.facts, c.width, c.height, c.more), c.pager) << c.width << "x" << c.height;
}
