// How failures are judged and told: which server errors a superuser password
// can cure, and error texts as the program prints them, one line per field
// and every control character visible, so no value inside a message can
// start a line of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvo::core {

// insufficient_privilege: a role lacks a right the server checks (permission
// denied, must be superuser, must be owner). Only the server's own verdict
// counts; a local file the program cannot read says "permission denied"
// too, and no password cures that.
inline constexpr std::string_view kInsufficientPrivilege = "42501";

bool is_privilege_failure(std::string_view sqlstate);

// A server error's message with its DETAIL and HINT lines, as psql shows
// them; each field on one line whatever it holds.
std::string server_error_text(std::string_view message, std::optional<std::string_view> detail,
                              std::optional<std::string_view> hint);

// Any other error's text, on one line.
std::string error_text(std::string_view message);

// An error of a settings file the program read: where it is and what kind it
// is, never the text of the line, which may hold a password.
// "/p/settings.py: line 3: SyntaxError: invalid syntax"; a line of 0 is
// left out, and so is an empty detail.
std::string file_error_text(std::string_view path, long line, std::string_view kind,
                            std::string_view detail);

}  // namespace talvo::core
