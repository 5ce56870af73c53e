// Progress while the program waits on the server: a spinner with the
// elapsed time and what is being waited for ("connecting to
// 127.0.0.1:5432", "running query"), drawn with rich on standard error.
// It shows only on a terminal, only once a wait passes half a second, never
// with NO_COLOR or TERM=dumb nor while the output is data for other programs
// (csv, json), and it is erased before anything else prints.
#pragma once

#include <string>

#include "bridge/coroutine.hpp"
#include "pyutil.hpp"

namespace talvo::output {

// Awaits `awaitable` and gives its result, with the spinner for `what`
// while it takes long.
bridge::Coroutine waiting(std::string what, nb::object awaitable);

}  // namespace talvo::output
