// Opening a connection: what every connect of the program shares, whoever
// asks (get_connection, the superuser sessions of create and drop, the new
// role's session of create).
#pragma once

#include "bridge/coroutine.hpp"
#include "pyutil.hpp"
#include "settings/target.hpp"

namespace talvo::db {

// A server that accepts and never answers must not hold a command longer.
inline constexpr int kConnectTimeoutSeconds = 10;

// The keyword arguments of a connect to `t`.
nb::dict connect_arguments(const settings::Target& t);

// asyncpg.connect(**kwargs) with the connection's TLS settings, the
// application_name (PGAPPNAME, else talvo) and the time limit; a server silent past the limit raises TimeoutError saying so.
bridge::Coroutine open_connection(nb::dict kwargs);

}  // namespace talvo::db
