#include "core/text.hpp"

namespace talvo::core {

bool is_valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t extra;
    unsigned min;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { extra = 1; min = 0x80; c &= 0x1F; }
    else if ((c & 0xF0) == 0xE0) { extra = 2; min = 0x800; c &= 0x0F; }
    else if ((c & 0xF8) == 0xF0) { extra = 3; min = 0x10000; c &= 0x07; }
    else return false;
    if (i + extra >= s.size()) return false;
    unsigned cp = c;
    for (size_t k = 1; k <= extra; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and values past U+10FFFF are invalid.
    if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace talvo::core
