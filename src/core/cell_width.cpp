#include "core/cell_width.hpp"

#include <algorithm>
#include <iterator>

namespace talvo::core {
namespace {

struct CodeRange {
  char32_t first, last;
};

#include "core/cell_width_data.inc"

bool listed(const CodeRange* begin, const CodeRange* end, char32_t code) {
  const CodeRange* at =
      std::upper_bound(begin, end, code, [](char32_t c, const CodeRange& r) { return c < r.first; });
  return at != begin && code <= std::prev(at)->last;
}

template <std::size_t N>
bool listed(const CodeRange (&ranges)[N], char32_t code) {
  return listed(ranges, ranges + N, code);
}

constexpr char32_t kJoiner = 0x200D;
constexpr char32_t kEmojiSelector = 0xFE0F;
constexpr char32_t kNotDecoded = 0xFFFFFFFF;

// The code point at `at` and the length of its sequence; an invalid byte
// reads as kNotDecoded, one byte long.
char32_t decode(std::string_view s, std::size_t at, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(s[at]);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t extra;
  char32_t code;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, code = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, code = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, code = lead & 0x07u;
  } else {
    return kNotDecoded;
  }
  if (s.size() - at <= extra) return kNotDecoded;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(s[at + k]);
    if ((next & 0xC0) != 0x80) return kNotDecoded;
    code = (code << 6) | (next & 0x3Fu);
  }
  length = extra + 1;
  return code;
}

// Where the code point that starts at `at` ends (`at` at the end of `s`).
std::size_t past_code_point(std::string_view s, std::size_t at) {
  if (at >= s.size()) return at;
  std::size_t length;
  decode(s, at, length);
  return at + length;
}

// One character as it is drawn: where its bytes start and end, and its cells.
struct Character {
  std::size_t begin, end;
  std::size_t cells;
};

// Calls `each` with every character of `s` in turn, built as terminals
// build them from code points. When `measuring`, a joiner that opens the
// text joins the code point after it as well, which then takes no cell;
// when cutting, it is a character of its own.
template <class Each>
void characters(std::string_view s, bool measuring, Each&& each) {
  bool open = false;  // `current` has begun and may still grow
  Character current{0, 0, 0};
  // The last code point that was measured, while a selector may still widen it.
  char32_t widenable = 0;
  std::size_t at = 0;
  while (at < s.size()) {
    std::size_t length;
    const char32_t code = decode(s, at, length);
    const std::size_t next = at + length;
    if (code == kJoiner || code == kEmojiSelector) {
      if (!open) {
        current = {at, next, 0};
        open = true;
        if (code == kJoiner && measuring) current.end = past_code_point(s, next);
      } else if (code == kJoiner) {
        // The joined code point belongs to the character, unmeasured.
        current.end = past_code_point(s, next);
      } else {
        current.end = next;
        if (widenable != 0 && listed(kWideWithEmojiSelector, widenable)) {
          ++current.cells;
          widenable = 0;
        }
      }
      at = current.end;
      continue;
    }
    const int cells = code == kNotDecoded ? 1 : code_point_cells(code);
    if (cells > 0) {
      if (open) each(current);
      current = {at, next, static_cast<std::size_t>(cells)};
      open = true;
      widenable = code == kNotDecoded ? 0 : code;
    } else if (open) {
      current.end = next;
    } else {
      current = {at, next, 0};
      open = true;
    }
    at = next;
  }
  if (open) each(current);
}

}  // namespace

int code_point_cells(char32_t code) {
  if ((code != 0 && code < 0x20) || (code >= 0x7F && code < 0xA0)) return 0;
  if (code < 0x300) return code == 0 ? 0 : 1;
  if (listed(kZeroWidth, code)) return 0;
  if (listed(kDoubleWidth, code)) return 2;
  return 1;
}

std::size_t cell_width(std::string_view utf8) {
  std::size_t plain = 0;
  while (plain < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[plain]);
    if (c < 0x20 || c >= 0x7F) break;
    ++plain;
  }
  if (plain == utf8.size()) return plain;
  std::size_t total = 0;
  characters(utf8, true, [&](const Character& c) { total += c.cells; });
  return total;
}

std::vector<std::string_view> fold_cells(std::string_view utf8, std::size_t width) {
  std::vector<std::string_view> pieces;
  std::size_t begin = 0, cells = 0;
  characters(utf8, false, [&](const Character& c) {
    if (cells + c.cells > width) {
      pieces.push_back(utf8.substr(begin, c.begin - begin));
      begin = c.begin;
      cells = 0;
    }
    cells += c.cells;
  });
  if (cells > 0) pieces.push_back(utf8.substr(begin));
  return pieces;
}

}  // namespace talvo::core
