// Text from the server, from settings files and from the command line as it
// is shown on a terminal, where a control character is a command to the
// terminal rather than text.
#pragma once

#include <string>
#include <string_view>

namespace talvo::core {

enum class LineBreaks {
  keep,    // table cells and multi-line messages: a line feed still ends a line
  escape,  // names inside a message or title: one line whatever they hold
};

// `utf8` with every control character written the way Python writes it in a
// string literal: "\t", "\n" (unless kept) and "\r" by name, every other C0
// control, DEL and the C1 controls U+0080..U+009F as "\x" and two lower-case
// hex digits. A byte that is not part of valid UTF-8 is written the same way,
// so the result is always valid UTF-8. Backslashes are left alone.
std::string visible_text(std::string_view utf8, LineBreaks line_breaks = LineBreaks::escape);

// Whether visible_text would give `utf8` back unchanged.
bool is_visible(std::string_view utf8, LineBreaks line_breaks = LineBreaks::escape);

}  // namespace talvo::core
