// get_connection: the one way the read-only commands open their connection.
// Sources in rising precedence: the arguments, one settings source, the
// process environment.
#include <initializer_list>
#include <string>

#include "core/readout.hpp"
#include "db/db.hpp"
#include "db/report.hpp"
#include "settings/scope.hpp"
#include "output/palette.hpp"

namespace talvo::db {
namespace {

constexpr const char* kConfigNames[] = {".env", ".json", ".yaml"};
constexpr const char* kEngineKeys[] = {"engine", "ENGINE", "TYPE", "type"};
constexpr const char* kPostgresEngines[] = {"django.db.backends.postgresql", "postgresql", "psql"};

// Keys of a matching settings file, each list in the order it is consulted.
constexpr const char* kUserKeys[] = {"USER", "user", "username", "USERNAME"};
constexpr const char* kPasswordKeys[] = {"PASSWORD", "password", "pass", "PASS"};
constexpr const char* kDatabaseKeys[] = {"NAME",   "name",   "db",      "DB",
                                         "dbname", "DBNAME", "db_name", "DB_NAME"};
constexpr const char* kHostKeys[] = {"HOST", "host", "hostname"};
constexpr const char* kPortKeys[] = {"PORT", "port"};
constexpr const char* kDatabaseVariables[] = {"DATABASE", "DB_NAME", "DB"};

constexpr int kConnectTimeoutSeconds = 10;

struct Target {
  nb::object host, port, user, password, database;
};

int trace(const Target& t, const bridge::Visit& visit) {
  return visit(t.host, t.port, t.user, t.password, t.database);
}

nb::object getenv(const char* name) { return nb::module_::import_("os").attr("getenv")(name); }

// A login shell sets USER to the login name, which names an account of this
// machine, not a database role. USER counts only when it says something else,
// that is when someone set it on purpose.
nb::object deliberate_user() {
  nb::object user = getenv("USER");
  if (!truthy(user)) return user;
  try {
    nb::object os = nb::module_::import_("os");
    nb::object entry = nb::module_::import_("pwd").attr("getpwuid")(os.attr("geteuid")());
    if (user.equal(entry.attr("pw_name"))) return nb::none();
  } catch (nb::python_error& e) {
    if (!e.matches(PyExc_KeyError)) throw;  // no password entry: no login name to compare
  }
  return user;
}

// The first non-empty candidate, or the last one as it is.
nb::object first_nonempty(std::initializer_list<nb::object> candidates) {
  nb::object last = nb::none();
  for (const nb::object& c : candidates) {
    if (truthy(c)) return c;
    last = c;
  }
  return last;
}

template <std::size_t N>
nb::object lookup_first(nb::handle cfg, const char* const (&keys)[N]) {
  nb::object get = cfg.attr("get");
  nb::object found = nb::none();
  for (const char* key : keys) {
    found = get(key);
    if (truthy(found)) return found;
  }
  return found;
}

// A port is an integer or None, never a text; a decimal text is its number.
nb::object as_port(nb::handle value) {
  if (value.is_none()) return nb::none();
  if (nb::isinstance<nb::str>(value) && !truthy(value)) return nb::none();
  if (PyLong_Check(value.ptr())) return nb::borrow(value);
  return nb::module_::import_("builtins").attr("int")(value);
}

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

void apply_settings(Target& t, nb::handle settings) {
  nb::object get = settings.attr("get");
  t.host = first_nonempty({get("host"), t.host, getenv("HOST")});
  t.port = as_port(first_nonempty({get("port"), t.port, getenv("PORT")}));
  t.user = first_nonempty({get("username"), t.user, deliberate_user()});
  t.password = first_nonempty({get("password"), t.password, getenv("PASSWORD")});
  nb::object database = first_nonempty({get("database"), t.database});
  if (!truthy(database))
    database = first_nonempty({getenv("DATABASE"), getenv("DB_NAME"), getenv("DB")});
  t.database = database;
}

nb::object find_config_file(nb::handle max_depth_up, nb::handle max_depth_down) {
  nb::object find = routine("find_settings_recursive");
  nb::object path = nb::none();
  for (const char* name : kConfigNames) {
    path = find("filename"_a = name, "max_depth_up"_a = max_depth_up,
                "max_depth_down"_a = max_depth_down);
    if (truthy(path)) break;
  }
  return path;
}

bool names_postgres(nb::handle value) {
  if (!nb::isinstance<nb::str>(value)) return false;
  auto v = nb::cast<std::string>(value);
  for (const char* engine : kPostgresEngines)
    if (v == engine) return true;
  return false;
}

void apply_config_file(Target& t, nb::handle path) {
  nb::object cfg = nb::module_::import_("talvo.envloader").attr("load_env")(path);
  nb::object get = cfg.attr("get");
  for (const char* key : kEngineKeys) {
    if (!names_postgres(get(key))) continue;
    print("📄 Found config at: " + text(path), palette::info);
    t.user = lookup_first(cfg, kUserKeys);
    t.password = lookup_first(cfg, kPasswordKeys);
    t.database = lookup_first(cfg, kDatabaseKeys);
    t.host = lookup_first(cfg, kHostKeys);
    t.port = as_port(lookup_first(cfg, kPortKeys));
  }
}

void apply_environment(Target& t) {
  if (nb::object v = getenv("HOST"); truthy(v)) t.host = v;
  if (nb::object v = getenv("PORT"); truthy(v)) t.port = as_port(v);
  if (nb::object v = deliberate_user(); truthy(v)) t.user = v;
  if (nb::object v = getenv("PASSWORD"); truthy(v)) t.password = v;
  for (const char* name : kDatabaseVariables) {
    if (nb::object v = getenv(name); truthy(v)) {
      t.database = v;
      break;
    }
  }
}

void announce(const Target& t) {
  // A null password is announced as nothing and handed to the driver as
  // None, so its own password-file lookup applies.
  std::string mask = t.password.is_none() ? "" : core::mask_password(text(t.password));
  print("🔍 Using host=" + text(t.host) + ", user=" + text(t.user) + ", db=" + text(t.database) +
            ", passwd=" + mask,
        palette::info);
}

[[noreturn]] void exit_with_status_one() {
  nb::object status = nb::int_(1);
  PyErr_SetObject(PyExc_SystemExit, status.ptr());
  throw nb::python_error();
}

bridge::Coroutine get_connection(nb::object host, nb::object port, nb::object user,
                                 nb::object password, nb::object database,
                                 nb::object auto_settings, nb::object settings_path,
                                 nb::object max_depth_up, nb::object max_depth_down) {
  require_text(host, "host");
  bridge::Traced<> port_number = checked_port(port);
  require_text(user, "user");
  require_text(password, "password");
  require_text(database, "database");
  require_integer(max_depth_up, "max_depth_up");
  require_integer(max_depth_down, "max_depth_down");

  bridge::Traced<> asyncpg = nb::module_::import_("asyncpg");
  bridge::Traced<Target> t = Target{host, port_number, user, password, database};
  {
    settings::DiscoveryScope scope;
    if (truthy(auto_settings)) {
      nb::object settings = routine("parse_django_settings")(
          settings_path, "max_depth_up"_a = max_depth_up, "max_depth_down"_a = max_depth_down);
      if (truthy(settings)) apply_settings(t, settings);
    } else {
      // Without any of these files the arguments alone decide: a project
      // configured through settings.py, or -H/-U/-P/--port, still connects.
      nb::object path = find_config_file(max_depth_up, max_depth_down);
      if (truthy(path) && truthy(nb::module_::import_("os.path").attr("isfile")(path)))
        apply_config_file(t, path);
    }
  }
  apply_environment(t);
  announce(t);

  nb::object conn;
  bool failed = false;
  try {
    conn = co_await asyncpg.attr("connect")(
        "database"_a = t.database, "user"_a = t.user, "password"_a = t.password,
        "host"_a = t.host, "port"_a = t.port,
        "timeout"_a = kConnectTimeoutSeconds);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    print("❌ Connection failed: " + message(e), palette::error, true);
    failed = true;
  }
  if (failed) exit_with_status_one();
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
