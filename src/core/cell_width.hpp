// How many terminal cells a text takes: wide East Asian characters and
// emoji two, combining marks and other zero-width characters none. Tables
// line their columns up by this measure, so it follows the one terminals use.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace talvo::core {

// The cells one code point takes (0, 1 or 2); control characters take none.
int code_point_cells(char32_t code);

// The cells a UTF-8 text takes. A zero-width joiner joins the next code
// point into the character before it (whose width stands for the whole
// sequence); a VARIATION SELECTOR-16 widens a one-cell character that has a
// two-cell emoji form. A byte that is not part of valid UTF-8 takes one cell.
std::size_t cell_width(std::string_view utf8);

// `utf8` cut into pieces of at most `width` cells each, between characters
// (a character with its combining marks and joined code points is never
// split). A character wider than `width` starts a piece of its own.
std::vector<std::string_view> fold_cells(std::string_view utf8, std::size_t width);

}  // namespace talvo::core
