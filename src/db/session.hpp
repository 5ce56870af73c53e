// One session on the server: opened, worked in, and closed on every path.
// Reports, the commands that change roles and databases, and completion's
// lookups all hold their connection this way.
#pragma once

#include <functional>

#include "bridge/coroutine.hpp"
#include "pyutil.hpp"

namespace talvo::db {

using SessionWork = std::function<bridge::Coroutine(nb::object conn)>;

// What an interrupted session does with its connection.
enum class OnInterrupt : unsigned char {
  close,      // closes it, so the server cancels the statement at once
  terminate,  // drops it at once: a deadline is up, nothing more may wait
};

// Awaits `connecting` (nothing more happens when it gives None: whoever
// connected has said why), awaits `work` on the connection, then closes it
// and gives `work`'s result. An error from `work`, ordinary or an
// interruption (Ctrl-C, a cancellation), is raised again once the
// connection is closed, so a running statement is cancelled and no session
// is left on the server; when the coroutine itself is being closed, or the
// close fails, the connection is terminated instead, which awaits nothing.
bridge::Coroutine in_session(nb::object connecting, SessionWork work,
                             OnInterrupt on_interrupt = OnInterrupt::close);

}  // namespace talvo::db
