// Which form a command's result takes: a table for people, or CSV or JSON for
// programs. Chosen with --format, before or after the command word.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace talvo::core {

enum class DataFormat { table, csv, json };

// In the order of DataFormat; the grammar offers them in this order too.
inline constexpr std::string_view kFormatNames[] = {"table", "csv", "json"};

std::optional<DataFormat> parse_format(std::string_view name);
std::string_view format_name(DataFormat format);

// A format given after the command word wins over one given before it, as a
// command's own --debug does; neither means a table.
DataFormat settle_format(std::optional<DataFormat> before_command,
                         std::optional<DataFormat> after_command);

// The format the raw argument words ask for, read before the grammar has seen
// them: the last --format, in any spelling the grammar accepts ("--format csv",
// "--format=csv", or an abbreviation down to "--f"). The last one is the one
// that wins, since a command's own option comes after the command word.
std::optional<DataFormat> format_in_words(std::span<const std::string_view> words);

}  // namespace talvo::core
