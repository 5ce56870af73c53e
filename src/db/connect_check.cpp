// connect: a connection with explicit credentials that reports its own
// failure instead of raising it.
#include "bridge/coroutine.hpp"
#include "db/admin_session.hpp"
#include "db/connect.hpp"
#include "db/db.hpp"
#include "output/palette.hpp"
#include "settings/target.hpp"

namespace talvo::db {

namespace {

bridge::Coroutine connect(nb::object database, nb::object user, nb::object password,
                          nb::object host, nb::object port) {
  // Loading the driver is not guarded: that failure is the caller's.
  nb::module_::import_("asyncpg");
  std::optional<nb::python_error> failure;
  try {
    core::Values target =
        settings::argument_values(host, port, user, password, database, "connect");
    nb::object conn = co_await open_connection(settings::with_command_tls(std::move(target)));
    co_return conn;
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    failure.emplace(e);
  }
  if (env_flag("TRACEBACK"))
    print_traceback(*failure);
  else
    fail("❌ Error (new user connection): " + message(*failure));
  co_return nb::none();
}

}  // namespace

void define_connect_check(nb::module_& m) {
  m.def("connect", &connect, "database"_a.none() = "template1", "user"_a.none() = "postgres",
        "password"_a.none() = "", "host"_a.none() = "127.0.0.1", "port"_a.none() = 5432);
}

}  // namespace talvo::db
