// Whether the command printed an error line; main ends it with status 1
// then, so a script can tell failure from success.
#include "pyutil.hpp"

namespace talvo {
namespace {

bool failure_noted = false;

}  // namespace

void note_failure() { failure_noted = true; }
bool command_failed() { return failure_noted; }
void reset_outcome() { failure_noted = false; }

void fail(std::string_view msg, const char* color, bool bold) {
  print(msg, color, bold);
  note_failure();
}

}  // namespace talvo
