// Reading the program's version from a __version__.py file, without Python.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvo::core {

// The value of the first line of the form `version = value`, with blanks,
// then double quotes, then single quotes stripped from its ends. A line must
// start with "version" once stripped (so `__version__ = ...` does not count,
// `version_info = ...` does) and hold exactly one "=".
std::optional<std::string> version_from_text(std::string_view text);

// As above for a file; nullopt when it is missing, not a regular file,
// unreadable or not valid UTF-8.
std::optional<std::string> version_from_file(const std::string& path);

}  // namespace talvo::core
