// Options the operator typed, as opposed to the defaults the record holds
// where nothing was typed.
#pragma once

namespace talvo::settings {

struct GivenOptions {
  bool host = false, port = false, user = false, password = false, database = false;
  // -ul: the operator's limit replaces the project root as the second
  // look's way up.
  bool up_level = false;
};

}  // namespace talvo::settings
