// Long output on a terminal goes through a pager, as psql and git send it:
// $PAGER, or `less` when none is set; an empty PAGER turns it off. Output
// that fits the screen, output to a file or a pipe, and a dumb terminal
// never see one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::core {

inline constexpr std::string_view kDefaultPager = "less -SRXF";
// LESS for the pager when the environment sets none: raw colour codes,
// long lines cut rather than folded, no screen clearing, and no paging of
// what fits.
inline constexpr std::string_view kLessOptions = "FRSX";

struct Screen {
  std::size_t columns = 0;
  std::size_t rows = 0;
};

// The terminal's size: COLUMNS and LINES where they are numbers, else what
// the terminal reports, else 80 by 25.
Screen screen_size(std::optional<std::string_view> columns, std::optional<std::string_view> lines,
                   Screen reported);

struct PagingFacts {
  bool terminal = false;              // standard output is a terminal
  std::string term;                   // TERM
  std::optional<std::string> pager;   // PAGER; nullopt when unset
  Screen screen;
};

// The pager command for output `width` cells wide and `height` lines tall
// (`more`: further lines still to come), or nullopt when it is written
// straight out.
std::optional<std::string> pager_for(const PagingFacts& facts, std::size_t width,
                                     std::size_t height, bool more);

}  // namespace talvo::core
