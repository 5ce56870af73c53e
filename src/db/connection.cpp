// get_connection: the one way the read-only commands open their connection.
// Where it goes is settled by the settings subsystem; here the arguments are
// checked, the choice announced (the password masked) and the connection
// opened, or the program ended with status 1.
#include <string>

#include "core/readout.hpp"
#include "db/connect.hpp"
#include "db/db.hpp"
#include "db/report.hpp"
#include "output/palette.hpp"
#include "settings/environment.hpp"
#include "settings/scope.hpp"
#include "settings/target.hpp"

namespace talvo::db {
namespace {

void require_text(nb::handle value, const char* name) {
  if (value.is_none() || nb::isinstance<nb::str>(value)) return;
  std::string msg = std::string(name) + " must be a str or None, not " +
                    nb::cast<std::string>(nb::type_name(value.type()));
  throw nb::type_error(msg.c_str());
}

void require_integer(nb::handle value, const char* name) {
  if (PyLong_Check(value.ptr())) return;
  std::string msg = std::string(name) + " must be an int, not " +
                    nb::cast<std::string>(nb::type_name(value.type()));
  throw nb::type_error(msg.c_str());
}

nb::object checked_port(nb::handle value) {
  if (value.is_none() || PyLong_Check(value.ptr())) return nb::borrow(value);
  if (nb::isinstance<nb::str>(value)) {
    try {
      return nb::module_::import_("builtins").attr("int")(value);
    } catch (nb::python_error& e) {
      if (!e.matches(PyExc_ValueError)) throw;
    }
  }
  std::string msg = "port must be an int, a decimal str or None, not " +
                    nb::cast<std::string>(nb::type_name(value.type()));
  throw nb::type_error(msg.c_str());
}

void announce(const settings::Target& t) {
  // A null password is announced as nothing and handed to the driver as
  // None, so its own password-file lookup applies.
  std::string mask = t.password.is_none() ? "" : core::mask_password(text(t.password));
  print("🔍 Using host=" + visible(t.host) + ", user=" + visible(t.user) + ", db=" + visible(t.database) +
            ", passwd=" + mask,
        palette::info);
}

nb::object connect_call(const settings::Target& t) {
  return open_connection(connect_arguments(t)).to_python();
}


// Everything before the connect itself, kept out of the coroutine so that
// none of it stays in the frame while the connect is awaited.
nb::object start_connect(nb::object host, nb::object port, nb::object user, nb::object password,
                         nb::object database, nb::object auto_settings, nb::object settings_path,
                         nb::object max_depth_up, nb::object max_depth_down) {
  require_text(host, "host");
  nb::object port_number = checked_port(port);
  require_text(user, "user");
  require_text(password, "password");
  require_text(database, "database");
  require_integer(max_depth_up, "max_depth_up");
  require_integer(max_depth_down, "max_depth_down");

  // Loaded before anything is announced: a missing driver is the caller's.
  nb::module_::import_("asyncpg");
  settings::Target t;
  {
    settings::DiscoveryScope scope;
    t = settings::resolve_target({host, port_number, user, password, database},
                                 truthy(auto_settings), settings_path, max_depth_up,
                                 max_depth_down);
  }
  announce(t);
  return connect_call(t);
}

bridge::Coroutine get_connection(nb::object host, nb::object port, nb::object user,
                                 nb::object password, nb::object database,
                                 nb::object auto_settings, nb::object settings_path,
                                 nb::object max_depth_up, nb::object max_depth_down) {
  nb::object connecting = start_connect(host, port, user, password, database, auto_settings,
                                        settings_path, max_depth_up, max_depth_down);
  nb::object conn;
  bool failed = false;
  try {
    conn = co_await std::move(connecting);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    fail("❌ Connection failed: " + message(e));
    failed = true;
  }
  if (failed) exit_process(1);
  co_return conn;
}

}  // namespace

void define_connection(nb::module_& m) {
  m.def("get_connection", &get_connection, "host"_a.none(), "port"_a.none(), "user"_a.none(),
        "password"_a.none(), "database"_a.none() = "postgres", "auto_settings"_a.none() = true,
        "settings_path"_a.none() = nb::none(), "max_depth_up"_a.none() = 0,
        "max_depth_down"_a.none() = 1);
}

}  // namespace talvo::db
