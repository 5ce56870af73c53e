// Which key of a settings document wrote each value a reader took from it,
// for the readers that only say which file: --where names the key.
#pragma once

#include <string>

#include "core/document.hpp"
#include "core/endpoint.hpp"

namespace talvo::core {

// For each value of `found` whose source is not set yet: the first entry of
// `document` (by dotted key, in document order) whose value is that value,
// else the first whose value holds it (a URL, a connection string). A value
// no entry holds (a default, something interpolated) keeps the file alone.
void locate_sources(const Node& document, Found& found);

// The line of `file_text` where `dotted_key` is written, 0 when it cannot
// be told: the key's last part at the start of a line (after blanks and an
// `export `), followed by `=`, `:` or a blank, after the lines of its
// earlier parts.
int key_line(std::string_view file_text, std::string_view dotted_key);

}  // namespace talvo::core
