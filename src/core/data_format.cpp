#include "core/data_format.hpp"

#include <iterator>

namespace talvo::core {
namespace {

constexpr std::string_view kOption = "--format";
// argparse takes any unambiguous start of a long option; "--f" is the
// shortest no other option shares.
constexpr std::size_t kShortestAbbreviation = 3;

bool names_the_option(std::string_view word) {
  return word.size() >= kShortestAbbreviation && kOption.starts_with(word);
}

}  // namespace

std::optional<DataFormat> parse_format(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kFormatNames); ++i)
    if (kFormatNames[i] == name) return static_cast<DataFormat>(i);
  return std::nullopt;
}

std::string_view format_name(DataFormat format) {
  return kFormatNames[static_cast<std::size_t>(format)];
}

DataFormat settle_format(std::optional<DataFormat> before_command,
                         std::optional<DataFormat> after_command) {
  if (after_command) return *after_command;
  return before_command.value_or(DataFormat::table);
}

std::optional<DataFormat> format_in_words(std::span<const std::string_view> words) {
  std::optional<DataFormat> found;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string_view word = words[i];
    std::optional<DataFormat> named;
    if (auto eq = word.find('='); eq != std::string_view::npos) {
      if (names_the_option(word.substr(0, eq))) named = parse_format(word.substr(eq + 1));
    } else if (names_the_option(word) && i + 1 < words.size()) {
      named = parse_format(words[++i]);
    }
    if (named) found = named;
  }
  return found;
}

}  // namespace talvo::core
