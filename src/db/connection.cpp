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

void announce(const core::Values& v) {
  using core::Setting;
  // A null password is announced as nothing and handed to the driver as
  // None, so its own password-file lookup applies.
  const core::Value& password = v[Setting::password];
  std::string mask = password.text ? core::mask_password(*password.text) : "";
  print("🔍 Using host=" + visible(settings::as_text(v[Setting::host])) +
            ", user=" + visible(settings::as_text(v[Setting::user])) +
            ", db=" + visible(settings::as_text(v[Setting::database])) + ", passwd=" + mask,
        palette::info);
}

core::Values connect_target(nb::handle host, nb::handle port, nb::handle user,
                            nb::handle password, nb::handle database, bool auto_settings,
                            nb::handle settings_path, nb::handle up, nb::handle down) {
  settings::DiscoveryScope scope;
  core::ConnectInputs in;
  in.arguments = settings::argument_values(host, port, user, password, database, "get_connection");
  in.settings_first = auto_settings;
  if (auto_settings) {
    in.settings = settings::settings_values(routine("parse_django_settings")(
        settings_path, "max_depth_up"_a = up, "max_depth_down"_a = down));
  } else {
    // Without any of these files the arguments alone decide: a project
    // configured through settings.py, or -H/-U/-P/--port, still connects.
    in.connection_file = settings::connection_file_values(up, down, true);
    in.settings = settings::settings_values(self().attr("_settings_cache"));
  }
  core::Environment env = settings::environment_snapshot();
  in.env = &env;
  in.login_name = settings::login_name();
  in.password_file = settings::password_file();
  return core::connect_values(in);
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
  core::Values target = connect_target(host, port_number, user, password, database,
                                       truthy(auto_settings), settings_path, max_depth_up,
                                       max_depth_down);
  // A port from a file or a variable is read as its number before anything
  // is announced.
  settings::as_port(target[core::Setting::port]);
  announce(target);
  return open_connection(std::move(target)).to_python();
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
