// `talvo --where`: a target as the operator reads it, a line per value with
// where it came from, or as one JSON object for scripts. A password is
// never shown, not even its length: only whether it is set and from where.
#pragma once

#include <string>

#include "core/target.hpp"

namespace talvo::core {

std::string where_text(const Target& t);
std::string where_json(const Target& t);

}  // namespace talvo::core
