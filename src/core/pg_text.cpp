#include "core/pg_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace talvo::core {

bool RecordText::parse(std::string_view text) {
  spans_.clear();
  owned_.clear();
  fields_.clear();
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  std::size_t i = 1;
  const std::size_t end = text.size() - 1;
  for (;;) {
    if (i < end && text[i] == '"') {
      // Quoted: copied out, since doubled quotes and backslashes are undone.
      std::size_t start = owned_.size();
      ++i;
      for (;;) {
        if (i >= end) return false;
        char c = text[i++];
        if (c == '"' && i < end && text[i] == '"') {
          ++i;
        } else if (c == '"') {
          break;
        } else if (c == '\\') {
          if (i >= end) return false;
          c = text[i++];
        }
        owned_.push_back(c);
      }
      spans_.push_back({false, true, start, owned_.size() - start});
    } else {
      std::size_t start = i;
      while (i < end && text[i] != ',') ++i;
      spans_.push_back({i == start, false, start, i - start});
    }
    if (i == end) break;
    if (text[i] != ',') return false;
    ++i;
  }
  fields_.reserve(spans_.size());
  for (const Span& s : spans_) {
    if (s.null) {
      fields_.emplace_back(std::nullopt);
    } else {
      std::string_view from = s.owned ? std::string_view(owned_) : text;
      fields_.emplace_back(from.substr(s.start, s.size));
    }
  }
  return true;
}

std::string double_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char buf[32];
  auto [end, error] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, end);
}

std::string bytea_text(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "\\x";
  out.reserve(2 + bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xf]);
  }
  return out;
}

namespace {

void append_padded(std::string& out, int value, int width) {
  if (value < 0) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out.append(buf, static_cast<std::size_t>(n));
    return;
  }
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int pad = n; pad < width; ++pad) out.push_back('0');
  while (n > 0) out.push_back(digits[--n]);
}

void append_time(std::string& out, const DateTimeParts& t) {
  append_padded(out, t.hour, 2);
  out.push_back(':');
  append_padded(out, t.minute, 2);
  out.push_back(':');
  append_padded(out, t.second, 2);
  if (t.microsecond != 0) {
    std::string fraction;
    append_padded(fraction, t.microsecond, 6);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    out.push_back('.');
    out += fraction;
  }
  if (!t.utc_offset) return;
  int offset = *t.utc_offset;
  out.push_back(offset < 0 ? '-' : '+');
  offset = std::abs(offset);
  append_padded(out, offset / 3600, 2);
  if (offset % 3600 != 0) {
    out.push_back(':');
    append_padded(out, offset % 3600 / 60, 2);
  }
  if (offset % 60 != 0) {
    out.push_back(':');
    append_padded(out, offset % 60, 2);
  }
}

}  // namespace

std::string date_text(const DateTimeParts& t) {
  std::string out;
  append_padded(out, t.year, 4);
  out.push_back('-');
  append_padded(out, t.month, 2);
  out.push_back('-');
  append_padded(out, t.day, 2);
  return out;
}

std::string time_text(const DateTimeParts& t) {
  std::string out;
  append_time(out, t);
  return out;
}

std::string timestamp_text(const DateTimeParts& t) {
  std::string out = date_text(t);
  out.push_back(' ');
  append_time(out, t);
  return out;
}

std::string python_datetime_text(const DateTimeParts& t) {
  std::string out = date_text(t);
  out.push_back(' ');
  append_padded(out, t.hour, 2);
  out.push_back(':');
  append_padded(out, t.minute, 2);
  out.push_back(':');
  append_padded(out, t.second, 2);
  if (t.microsecond != 0) {
    out.push_back('.');
    append_padded(out, t.microsecond, 6);
  }
  if (!t.utc_offset) return out;
  int offset = *t.utc_offset;
  out.push_back(offset < 0 ? '-' : '+');
  offset = std::abs(offset);
  append_padded(out, offset / 3600, 2);
  out.push_back(':');
  append_padded(out, offset % 3600 / 60, 2);
  if (offset % 60 != 0) {
    out.push_back(':');
    append_padded(out, offset % 60, 2);
  }
  return out;
}

}  // namespace talvo::core
