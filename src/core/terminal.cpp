#include "core/terminal.hpp"

#include <cstddef>

namespace talvo::core {

namespace {

// The length of the valid UTF-8 sequence starting at `at`, or 0.
std::size_t sequence_length(std::string_view s, std::size_t at) {
  const auto lead = static_cast<unsigned char>(s[at]);
  if (lead < 0x80) return 1;
  std::size_t extra;
  unsigned code, min;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, code = lead & 0x1Fu, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, code = lead & 0x0Fu, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, code = lead & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - at <= extra) return 0;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(s[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return extra + 1;
}

void append_hex_escape(std::string& out, unsigned value) {
  constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[(value >> 4) & 0xF];
  out += kDigits[value & 0xF];
}

void append_control(std::string& out, unsigned code, LineBreaks line_breaks) {
  switch (code) {
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n':
      out += line_breaks == LineBreaks::keep ? "\n" : "\\n";
      return;
    default: append_hex_escape(out, code);
  }
}

}  // namespace

bool is_visible(std::string_view utf8, LineBreaks line_breaks) {
  std::size_t at = 0;
  while (at < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[at]);
    if (byte >= 0x20 && byte < 0x7F) {
      ++at;
      continue;
    }
    if (byte == '\n' && line_breaks == LineBreaks::keep) {
      ++at;
      continue;
    }
    const std::size_t length = sequence_length(utf8, at);
    if (length <= 1) return false;  // a control character, or no UTF-8
    if (byte == 0xC2 && static_cast<unsigned char>(utf8[at + 1]) < 0xA0) return false;
    at += length;
  }
  return true;
}

std::string visible_text(std::string_view utf8, LineBreaks line_breaks) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[at]);
    const std::size_t length = sequence_length(utf8, at);
    if (length == 0) {
      append_hex_escape(out, byte);
      at += 1;
    } else if (byte < 0x20 || byte == 0x7F) {
      append_control(out, byte, line_breaks);
      at += 1;
    } else if (byte == 0xC2 && static_cast<unsigned char>(utf8[at + 1]) < 0xA0) {
      // U+0080..U+009F: the C1 controls, CSI (U+009B) among them.
      append_hex_escape(out, static_cast<unsigned char>(utf8[at + 1]));
      at += 2;
    } else {
      out.append(utf8, at, length);
      at += length;
    }
  }
  return out;
}

}  // namespace talvo::core
