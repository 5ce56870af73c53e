#include "core/terminal.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using talvo::core::LineBreaks;
using talvo::core::visible_text;

TEST(VisibleText, Table) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"Müller 東京 🐘", "Müller 東京 🐘"},
      {"back\\slash [/] :smile:", "back\\slash [/] :smile:"},
      // C0: three by name, the rest in hex.
      {"a\tb\rc\nd", "a\\tb\\rc\\nd"},
      {"\x1b[2J\x1b]0;PWNED\x07", "\\x1b[2J\\x1b]0;PWNED\\x07"},
      {std::string("\0\x01\x08\x0b\x0c\x1f", 6), "\\x00\\x01\\x08\\x0b\\x0c\\x1f"},
      {" ~", " ~"},
      // DEL, and the C1 range U+0080..U+009F; U+00A0 is no control.
      {"\x7f", "\\x7f"},
      {"\xc2\x80\xc2\x9b" "31m\xc2\x9f", "\\x80\\x9b31m\\x9f"},
      {"\xc2\xa0\xc2\xbf", "\xc2\xa0\xc2\xbf"},
      // Bytes that are not UTF-8 come out as hex, so the result is UTF-8.
      {"\x9b" "2J", "\\x9b2J"},
      {"a\xff" "b\xc3", "a\\xffb\\xc3"},
      {"\xc0\xaf", "\\xc0\\xaf"},          // overlong
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // a UTF-16 surrogate
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(visible_text(text), shown) << text;
    EXPECT_EQ(talvo::core::is_visible(text), text == shown) << text;
  }
}

TEST(VisibleText, LineFeedsKeptOnlyWhenAsked) {
  EXPECT_EQ(visible_text("one\ntwo\r\n", LineBreaks::keep), "one\ntwo\\r\n");
  EXPECT_EQ(visible_text("one\ntwo\r\n", LineBreaks::escape), "one\\ntwo\\r\\n");
  EXPECT_EQ(visible_text("\x1b\n", LineBreaks::keep), "\\x1b\n");
  EXPECT_TRUE(talvo::core::is_visible("one\ntwo", LineBreaks::keep));
  EXPECT_FALSE(talvo::core::is_visible("one\ntwo", LineBreaks::escape));
}

TEST(VisibleText, ShownTextIsShownUnchanged) {
  const std::string shown = visible_text("\x1b[1m\r\n\xc2\x9b\xff");
  EXPECT_EQ(visible_text(shown), shown);
}
