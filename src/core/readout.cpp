#include "core/readout.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

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

std::string mask_url_passwords(std::string_view text) {
  std::string out;
  std::size_t at = 0;
  while (true) {
    std::size_t scheme_end = text.find("://", at);
    if (scheme_end == std::string_view::npos) break;
    std::size_t authority = scheme_end + 3;
    std::size_t end = text.find_first_of("/?# \t\n'\"", authority);
    if (end == std::string_view::npos) end = text.size();
    std::size_t at_sign = text.rfind('@', end);
    std::size_t colon = at_sign == std::string_view::npos || at_sign < authority
                            ? std::string_view::npos
                            : text.find(':', authority);
    if (colon != std::string_view::npos && colon < at_sign) {
      out.append(text.substr(at, colon + 1 - at));
      out.append(mask_password(text.substr(colon + 1, at_sign - colon - 1)));
      at = at_sign;
    } else {
      out.append(text.substr(at, end - at));
      at = end;
    }
  }
  out.append(text.substr(at));
  return out;
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
