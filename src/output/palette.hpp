// The colours of the program's messages, by kind. Every message of a kind
// uses the same one, so they are named once here.
#pragma once

namespace talvo::palette {

inline constexpr const char* error = "#FF4500";
inline constexpr const char* warning = "#FFFF00";  // warnings, empty results, questions, hints
inline constexpr const char* info = "#00CED1";
inline constexpr const char* success = "#00FF7F";

}  // namespace talvo::palette
