// Command lines printed for the operator to copy into a POSIX shell.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace talvo::core {

// `word` as one shell word meaning exactly `word`: unchanged when it is made
// only of ASCII letters, digits and @%+=:,./-_ (as Python's shlex.quote
// decides), '' when empty, and otherwise in single quotes, where nothing is
// special but the single quote itself, written as '"'"'.
std::string shell_quote(std::string_view word);

// The words quoted and joined with single spaces.
std::string shell_line(std::span<const std::string> words);

}  // namespace talvo::core
