#include "core/readout.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <vector>

namespace talvo::core {

std::string format_gigabytes(std::int64_t bytes) {
  // Dividing by a power of two is exact, so converting first and dividing
  // after gives the same double as a correctly rounded integer division.
  double gib = static_cast<double>(bytes) / 1073741824.0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", gib);
  return buf;
}

std::string mask_password(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return std::string(n, '*');
}

bool is_secret_key(std::string_view key) {
  std::string lower(key);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (std::string_view word : {"pass", "pwd", "secret", "token"})
    if (lower.find(word) != std::string::npos) return true;
  return false;
}

namespace {

struct Span {
  std::size_t begin, end;
};

bool is_key_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// URL passwords: userinfo is what precedes the last "@" of the URL's
// stretch of text, which ends where the next URL begins.
void url_password_spans(std::string_view text, std::vector<Span>& spans) {
  std::size_t at = text.find("://");
  while (at != std::string_view::npos) {
    const std::size_t start = at + 3;
    const std::size_t next = text.find("://", start);
    const std::size_t stretch_end = next == std::string_view::npos ? text.size() : next;
    const std::size_t at_sign = text.rfind('@', stretch_end == 0 ? 0 : stretch_end - 1);
    if (at_sign != std::string_view::npos && at_sign >= start) {
      const std::size_t colon = text.find(':', start);
      if (colon != std::string_view::npos && colon < at_sign) spans.push_back({colon + 1, at_sign});
    }
    at = next;
  }
}

// Whether a further "key=" (or nothing at all) follows `at`.
bool setting_follows(std::string_view text, std::size_t at) {
  while (at < text.size() && is_blank(text[at])) ++at;
  if (at == text.size()) return true;
  std::size_t key_end = at;
  while (key_end < text.size() && (is_key_char(text[key_end]) || text[key_end] == ' ')) ++key_end;
  return key_end > at && key_end < text.size() && text[key_end] == '=';
}

// The end of a quoted value that opens at `quote`: a doubled quote or a
// backslash-escaped one stands for itself.
std::size_t closing_quote(std::string_view text, std::size_t quote) {
  const char q = text[quote];
  for (std::size_t i = quote + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == q) {
      if (i + 1 < text.size() && text[i + 1] == q) {
        ++i;
      } else {
        return i;
      }
    }
  }
  return text.size();
}

std::size_t bare_value_end(std::string_view text, std::size_t start) {
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == ';' || c == '&' || is_blank(c) || c == '\n') && setting_follows(text, i + 1)) return i;
  }
  return text.size();
}

void setting_password_spans(std::string_view text, std::vector<Span>& spans) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (!is_key_char(text[i]) || (i > 0 && is_key_char(text[i - 1]))) {
      ++i;
      continue;
    }
    std::size_t key_end = i;
    while (key_end < text.size() && is_key_char(text[key_end])) ++key_end;
    std::size_t eq = key_end;
    while (eq < text.size() && is_blank(text[eq])) ++eq;
    if (eq == text.size() || text[eq] != '=' || !is_secret_key(text.substr(i, key_end - i))) {
      i = key_end;
      continue;
    }
    std::size_t value = eq + 1;
    while (value < text.size() && is_blank(text[value])) ++value;
    if (value < text.size() && (text[value] == '\'' || text[value] == '"')) {
      const std::size_t close = closing_quote(text, value);
      spans.push_back({value + 1, close});
      i = close + 1;
    } else {
      const std::size_t end = bare_value_end(text, value);
      spans.push_back({value, end});
      i = end;
    }
  }
}

}  // namespace

std::string mask_secrets(std::string_view text) {
  std::vector<Span> spans;
  url_password_spans(text, spans);
  setting_password_spans(text, spans);
  std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.begin < b.begin; });
  std::string out;
  std::size_t at = 0;
  for (Span s : spans) {
    s.begin = std::max(s.begin, at);
    if (s.end <= s.begin) continue;
    out.append(text.substr(at, s.begin - at));
    out.append(mask_password(text.substr(s.begin, s.end - s.begin)));
    at = s.end;
  }
  out.append(text.substr(at));
  return out;
}

std::optional<std::int64_t> parse_limit(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Counted towards the negative side, which holds one more value.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  bool digit_before = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '_' && digit_before && i + 1 < text.size() && text[i + 1] != '_') continue;
    if (c < '0' || c > '9') return std::nullopt;
    const int d = c - '0';
    if (value < (kMin + d) / 10) return std::nullopt;
    value = value * 10 - d;
    digit_before = true;
  }
  if (!digit_before) return std::nullopt;
  if (negative) return value;
  if (value == kMin) return std::nullopt;
  return -value;
}

std::optional<std::string_view> find_dangerous_keyword(std::string_view upper_text) {
  for (std::string_view word : kDangerousKeywords) {
    if (upper_text.find(word) != std::string_view::npos) return word;
  }
  return std::nullopt;
}

std::int64_t display_limit(std::optional<std::int64_t> limit) {
  if (!limit || *limit == 0) return 100;
  return *limit;
}

std::int64_t rows_shown(std::int64_t available, std::int64_t limit) {
  if (limit >= 0) return std::min(available, limit);
  return std::max<std::int64_t>(0, available + limit);
}

std::optional<std::int64_t> row_limit(DataFormat format, std::optional<std::int64_t> given) {
  if (format != DataFormat::table && !given) return std::nullopt;
  return display_limit(given);
}

RowWindow row_window(std::optional<std::int64_t> limit) {
  if (!limit) return {};
  if (*limit >= 0) return {*limit, 0};
  if (*limit == std::numeric_limits<std::int64_t>::min())
    return {std::nullopt, std::numeric_limits<std::int64_t>::max()};
  return {std::nullopt, -*limit};
}

bool rows_left_out(std::int64_t total, std::optional<std::int64_t> limit) {
  return limit && total > 0 && total > *limit;
}

std::optional<std::int64_t> tag_count(std::string_view command_tag) {
  std::size_t space = command_tag.rfind(' ');
  std::string_view digits = command_tag.substr(space == std::string_view::npos ? 0 : space + 1);
  std::int64_t count = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return count;
}

std::string format_timestamp(const std::tm& local_time) {
  char buf[32];
  std::size_t n = std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &local_time);
  return std::string(buf, n);
}

}  // namespace talvo::core
