// Opening a connection: what every connect of the program shares, whoever
// asks (get_connection, the superuser sessions of create and drop, the new
// role's session of create).
#pragma once

#include "bridge/coroutine.hpp"
#include "pyutil.hpp"
#include "core/target.hpp"

namespace talvo::db {

// A server that accepts and never answers must not hold a command longer.
inline constexpr int kConnectTimeoutSeconds = 10;

// asyncpg.connect to `target`, TLS settings included, with the
// application_name (PGAPPNAME, else talvo) and the time limit; a server
// silent past the limit raises TimeoutError saying so.
bridge::Coroutine open_connection(core::Values target);

}  // namespace talvo::db
