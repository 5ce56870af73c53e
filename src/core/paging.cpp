#include "core/paging.hpp"

#include <charconv>

namespace talvo::core {
namespace {

std::optional<std::size_t> number(std::optional<std::string_view> text) {
  if (!text || text->empty()) return std::nullopt;
  std::size_t value = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

bool blank(std::string_view s) { return s.find_first_not_of(" \t\n\r\f\v") == std::string_view::npos; }

}  // namespace

Screen screen_size(std::optional<std::string_view> columns, std::optional<std::string_view> lines,
                   Screen reported) {
  Screen screen;
  screen.columns = number(columns).value_or(reported.columns);
  screen.rows = number(lines).value_or(reported.rows);
  if (screen.columns == 0) screen.columns = 80;
  if (screen.rows == 0) screen.rows = 25;
  return screen;
}

std::optional<std::string> pager_for(const PagingFacts& facts, std::size_t width,
                                     std::size_t height, bool more) {
  if (!facts.terminal || facts.term == "dumb") return std::nullopt;
  std::string command = facts.pager ? *facts.pager : std::string(kDefaultPager);
  if (blank(command)) return std::nullopt;
  // The prompt that follows takes a line of the screen too.
  const bool fits = !more && width <= facts.screen.columns && height < facts.screen.rows;
  if (fits) return std::nullopt;
  return command;
}

}  // namespace talvo::core
