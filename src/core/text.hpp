// Plain text helpers of the core.
#pragma once

#include <string_view>

namespace talvo::core {

bool is_valid_utf8(std::string_view s);

}  // namespace talvo::core
