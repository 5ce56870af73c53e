// create_user_db: a login role with its password and privileges, and a
// database that belongs to it.
#include <string>

#include "bridge/coroutine.hpp"
#include "db/admin_session.hpp"
#include "db/db.hpp"
#include "db/role_password.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"

namespace talvo::db {

namespace {

constexpr const char* kDatabaseExistsSql = "SELECT 1 FROM pg_database WHERE datname = $1";
constexpr const char* kRolePrivileges = " WITH LOGIN CREATEDB REPLICATION BYPASSRLS";
constexpr const char* kExitAnswers[] = {"x", "q", "exit", "quit"};

// The inputs as the handler settles them, and the address both connections use.
struct NewRole {
  nb::object username = nb::str("");
  nb::object password = nb::str("");
  nb::object database = nb::str("");
  nb::object host;
  nb::object port;
  // Where the new role's session goes: the database the superuser's session
  // found to be the maintenance database.
  nb::object maintenance = nb::str(kMaintenanceDatabase);
};

int trace(const NewRole& r, const bridge::Visit& visit) {
  return visit(r.username, r.password, r.database, r.host, r.port, r.maintenance);
}

std::string summary(const NewRole& r) {
  return "username: " + text(r.username) + ", password: " + (truthy(r.password) ? "*****" : "") +
         ", database: " + text(r.database) + ", HOST: " + text(r.host) +
         ", PORT: " + text(r.port);
}

nb::object ini_config() {
  nb::object os_path = nb::module_::import_("os").attr("path");
  nb::object here = os_path.attr("dirname")(self().attr("__file__"));
  nb::object path = os_path.attr("join")(here, "talvo.ini");
  return nb::module_::import_("talvo.iniconfig").attr("IniConfig")(path);
}

nb::object parse_settings(nb::handle args, nb::handle path) {
  return routine("parse_django_settings")(path, "max_depth_up"_a = arg(args, "up_level"),
                                          "max_depth_down"_a = arg(args, "down_level"));
}

nb::object entry(nb::handle settings, const char* key) { return settings.attr("get")(key); }

// Cases B and C take the same values from a settings dictionary.
void take_from_settings(NewRole& r, nb::handle settings) {
  r.username = entry(settings, "username");
  r.password = entry(settings, "password");
  r.database = entry(settings, "database");
  if (nb::object host = entry(settings, "host"); truthy(host)) r.host = host;
  if (nb::object port = entry(settings, "port"); truthy(port)) r.port = port;
}

// A single positional word naming a settings.py file, or a directory that
// holds one.
nb::object settings_from_path(nb::handle args, nb::handle path, nb::object current) {
  nb::object os_path = nb::module_::import_("os").attr("path");
  if (truthy(os_path.attr("isfile")(path)) && truthy(nb::str(path).attr("endswith")("settings.py")))
    return parse_settings(args, path);
  if (truthy(os_path.attr("isdir")(path))) {
    nb::object settings_path = os_path.attr("join")(path, "settings.py");
    if (truthy(os_path.attr("isfile")(settings_path))) return parse_settings(args, settings_path);
  }
  return current;
}

void fill_if_empty(nb::object& value, nb::handle option, nb::handle settings, const char* key) {
  if (truthy(value)) return;
  if (truthy(option))
    value = nb::borrow(option);
  else if (truthy(settings))
    value = entry(settings, key);
}

void write_back_if_empty(nb::handle args, const char* name, nb::handle value) {
  if (!truthy(arg(args, name))) nb::setattr(args, name, value);
}


// The positional words for the log: the second is the new role's password.
nb::object masked_words(nb::handle words) {
  if (!nb::isinstance<nb::list>(words) || nb::len(words) < 2) return nb::borrow(words);
  nb::list copy(words);
  std::string stars = output::masked_text(copy[1]);
  copy[1] = nb::str(stars.data(), stars.size());
  return copy;
}

void print_inputs(const NewRole& r) {
  print("🕵🏿 USERNAME: " + shown(r.username), palette::info, true);
  print("🔑 PASSWORD: *****", palette::warning, true);
  print("🧰 DATABASE: " + shown(r.database), palette::success, true);
  print("👻 HOSTNAME: " + shown(r.host), "#FFFFFF");
  print("🚢 PORT: " + shown(r.port), "#FFFFFF");
}

// The role step, over the superuser connection. The role's password goes
// out in the stored form the server asks for, never in clear.
bridge::Coroutine start(nb::object args, NewRole& role) {
  log("info", "args.user: " + text(arg(args, "user")));
  log("info", "args.password: " + output::masked_text(arg(args, "password")));
  log("info", "HOST: " + text(role.host));
  log("info", "PORT: " + text(role.port));

  bridge::Traced<> asyncpg = nb::module_::import_("asyncpg");
  HeldConnection held;
  bridge::Traced<std::optional<nb::python_error>> failure;
  try {
    held.hold(co_await connect_as_superuser(args, role.host, role.port));
    bridge::Traced<> conn = held.get();
    const std::string name = sql_name(role.username);
    bridge::Traced<> session = co_await conn.attr("fetchrow")(
        "SELECT current_setting('password_encryption'), current_database()");
    std::string encryption = text(session[0]);
    role.maintenance = session[1];
    // The role is stored under the name as given, so that is the md5 salt.
    std::string literal =
        sql_literal(role_password_verifier(role.password, encryption, text(role.username)));
    try {
      co_await conn.attr("execute")("CREATE USER " + name + " WITH PASSWORD " + literal);
      print("✅ User '" + shown(role.username) + "' created", palette::success, true);
    } catch (const nb::python_error& e) {
      if (!e.matches(asyncpg.attr("DuplicateObjectError"))) throw;
      print("⚠️ User '" + shown(role.username) + "' already exists", palette::warning, true);
    }
    co_await conn.attr("execute")("ALTER USER " + name + kRolePrivileges);
    print("✅ User '" + shown(role.username) + "' updated with privileges", palette::success, true);
    co_await close_connection(held);
    print("🔒 Logged out from postgres superuser", palette::info);
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    failure.emplace(e);
  }
  if (failure) {
    co_await close_connection(held);
    throw *failure;
  }
  co_return nb::none();
}

void report_role_failure(nb::handle args, const nb::python_error& e) {
  nb::object user = arg(args, "user");
  if (e.matches(nb::module_::import_("asyncpg").attr("InvalidPasswordError"))) {
    fail("❌ Invalid PostgreSQL password");
    ask_password(user);
    return;
  }
  // The trace when asked for, then the line, which ends the command with
  // status 1 either way.
  if (env_flag("TRACEBACK")) {
    output::print_exception(e);
    fail("❌ Error (superuser connection): " + message(e));
    return;
  }
  fail("❌ Error (superuser connection): " + message(e));
  std::string answer;
  while (answer.empty()) answer = text(ask_password(user, " [q/x/quit/exit for exit]: "));
  for (const char* word : kExitAnswers) {
    if (answer == word) {
      // Spelled as this line has always been printed.
      fail("❌ exit/quit without password user '" + shown(user) + "' nedded !");
      break;
    }
  }
}

// The database exists: drop and recreate it only on a typed "y".
bridge::Coroutine offer_recreate(nb::object conn, const NewRole& role, const std::string& db) {
  const std::string name = shown(role.database);
  print("⚠️ Database '" + name + "' already exists.", palette::warning, true);
  print("❓ Drop and recreate '" + name + "'? [y/N]: ", palette::warning, true, "");
  std::string choice = text(read_line().attr("strip")().attr("lower")());
  if (choice != "y") {
    print("⏭️ Skipping database creation", palette::warning, true);
    co_return nb::none();
  }
  try {
    co_await conn.attr("execute")("DROP DATABASE " + db);
    print("🗑️ Database '" + name + "' dropped", palette::error, true);
    co_await conn.attr("execute")("CREATE DATABASE " + db);
    print("✅ Database '" + name + "' recreated", palette::success, true);
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    fail("❌ Error: " + message(e));
  }
  co_return nb::none();
}

bridge::Coroutine create_database(nb::object conn, const NewRole& role, const std::string& db) {
  try {
    co_await conn.attr("execute")("CREATE DATABASE " + db);
    print("✅ Database '" + shown(role.database) + "' created", palette::success, true);
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e) || message(e).find("already exists") == std::string::npos) throw;
    print("⚠️ Database '" + shown(role.database) + "' already exists", palette::warning, true);
  }
  co_return nb::none();
}

// The database step, over a connection as the new role, so the role owns
// what it creates. The session stays off template1, the template every
// CREATE DATABASE copies: while anyone is connected to it, the server
// refuses them all.
bridge::Coroutine database_step(const NewRole& role) {
  log("warning", "username = " + text(role.username));
  log("warning", "password = " + output::masked_text(role.password));
  log("warning", "HOST = " + text(role.host));
  log("warning", "PORT = " + text(role.port));

  HeldConnection held;
  bridge::Traced<std::optional<nb::python_error>> failure;
  try {
    bridge::Traced<> conn = co_await routine("connect")("database"_a = role.maintenance,
                                                        "user"_a = role.username,
                                                        "password"_a = role.password,
                                                        "host"_a = role.host, "port"_a = role.port);
    if (conn.is_none()) {
      fail("❌ Error (Failed connect to database server)");
      co_return nb::none();
    }
    held.hold(conn);
    bridge::Traced<> exists = co_await conn.attr("fetchval")(kDatabaseExistsSql, role.database);
    const std::string db = sql_name(role.database);
    if (truthy(exists))
      co_await offer_recreate(conn, role, db);
    else
      co_await create_database(conn, role, db);
    co_await close_connection(held);
    print("🔒 Logged out from new user session", palette::info);
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    failure.emplace(e);
  }
  if (!failure) co_return nb::none();
  co_await close_connection(held);
  if (env_flag("TRACEBACK")) print_traceback(*failure);
  fail("❌ Error (new user connection): " + message(*failure));
  co_return nb::none();
}

// The three inputs and the address, from positional words, options, the
// discovered settings and talvo.ini, in that precedence; the process ends
// when an input is still missing.
NewRole gather_inputs(nb::handle args) {
  nb::object config = ini_config();
  nb::object words = arg(args, "CONFIG");
  const size_t count = truthy(words) ? nb::len(words) : 0;
  log("notice", "args.CONFIG: " + text(masked_words(words)));
  log("notice", "LEN args.CONFIG: " + std::to_string(count));
  log("notice", "args.up_level: " + text(arg(args, "up_level")));
  log("notice", "args.down_level: " + text(arg(args, "down_level")));
  if (count > 0) {
    nb::setattr(args, "up_level", nb::int_(0));
    nb::setattr(args, "down_level", nb::int_(0));
  }
  nb::object db_config = parse_settings(args, arg(args, "CONFIG_FILE"));
  nb::object ini_host = config.attr("get_config")("server", "host");
  nb::object ini_port = config.attr("get_config")("server", "port");
  log("debug", "db_config: " + text(output::masked(db_config)));
  log("debug", "config.get_config('server', 'host'): " + text(ini_host));

  NewRole role;
  nb::object port_option = arg(args, "port");
  role.port = truthy(ini_port)      ? ini_port
              : truthy(port_option) ? port_option
                                    : self().attr("DEFAULT_PORT");
  role.host = truthy(ini_host) ? ini_host : arg(args, "hostname");

  nb::object username = arg(args, "username"), password = arg(args, "password"),
             database = arg(args, "database");
  if (count == 3) {
    role.username = words[0];
    role.password = words[1];
    role.database = words[2];
    log("debug", summary(role));
  } else if (!truthy(username) && !truthy(password) && !truthy(database)) {
    if (truthy(db_config)) take_from_settings(role, db_config);
  } else if (count == 1) {
    db_config = settings_from_path(args, words[0], db_config);
    if (truthy(db_config)) take_from_settings(role, db_config);
  }

  log("debug", summary(role));
  fill_if_empty(role.username, username, db_config, "username");
  fill_if_empty(role.password, password, db_config, "password");
  fill_if_empty(role.database, database, db_config, "database");
  log("debug", summary(role));
  write_back_if_empty(args, "password", role.password);
  write_back_if_empty(args, "user", role.username);
  write_back_if_empty(args, "database", role.database);
  log("debug", summary(role));
  if (!truthy(role.username) || !truthy(role.password) || !truthy(role.database)) {
    fail("❌ Missing required info (username, password, database)");
    exit_process(1);
  }
  return role;
}

bridge::Coroutine create_user_db(nb::object args) {
  bridge::Traced<NewRole> role = gather_inputs(args);
  if (!name_fits(role.username, "User") || !name_fits(role.database, "Database"))
    co_return nb::none();
  print_inputs(role);

  std::optional<nb::python_error> role_failure;
  try {
    co_await start(args, role);
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    role_failure.emplace(e);
  }
  if (role_failure) {
    report_role_failure(args, *role_failure);
    co_return nb::none();
  }
  co_await database_step(role);
  co_return nb::none();
}

}  // namespace

void define_provisioning(nb::module_& m) { m.def("create_user_db", &create_user_db, "args"_a); }

}  // namespace talvo::db
