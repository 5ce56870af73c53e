// drop_database: removes one database after its name is typed again,
// ending the other clients' connections to it first.
#include "bridge/coroutine.hpp"
#include "db/admin_session.hpp"
#include "db/session.hpp"
#include "db/db.hpp"
#include "output/output.hpp"
#include "output/waiting.hpp"
#include "output/palette.hpp"

namespace talvo::db {

namespace {

constexpr const char* kCountOthersSql =
    "SELECT count(*) FROM pg_stat_activity WHERE datname = $1 AND pid <> pg_backend_pid()";

constexpr const char* kTerminateOthersSql =
    "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
    "WHERE datname = $1 AND pid <> pg_backend_pid()";

// Other clients' sessions end first: the server waits for them to go
// before it drops.
bridge::Coroutine drop(nb::object conn, nb::object database, std::string name) {
  nb::object others = co_await conn.attr("fetchval")(kCountOthersSql, database);
  co_await conn.attr("execute")(kTerminateOthersSql, database);
  std::string waiting_for = truthy(others) ? "ending " + text(others) + " sessions of '" +
                                                 shown(database) + "'"
                                           : "dropping '" + shown(database) + "'";
  co_await output::waiting(waiting_for, conn.attr("execute")("DROP DATABASE IF EXISTS " + name));
  print("✅ Database '" + shown(database) + "' dropped successfully", palette::success, true);
  co_return nb::none();
}

bridge::Coroutine drop_database(nb::object args) {
  if (!settle_database(args, DatabaseName::required)) co_return nb::none();
  bridge::Traced<> database = arg(args, "database");
  if (!name_fits(database, "Database")) co_return nb::none();
  print("⚠️ WARNING: You are about to DROP database '" + shown(database) + "'", "#FFE713", true);
  print("❓ Type the database name to confirm: ", "#19CDFF", true, "");
  bridge::Traced<> confirmation = read_line().attr("strip")();
  if (!confirmation.equal(database)) {
    fail("❌ Database name mismatch. Aborted.", "#FF0008");
    co_return nb::none();
  }

  try {
    // The blanks line the colons up, as these lines have always looked.
    log("notice", "database : postgres");
    log("notice", "user     : " + text(arg(args, "user")));
    log("notice", "password : " + output::masked_text(arg(args, "passwd")));
    log("notice", "host     : " + text(arg(args, "hostname")));
    log("notice", "port     : " + text(arg(args, "port")));
    const std::string name = sql_name(database);
    co_await in_session(connect_as_superuser(args, arg(args, "hostname"), arg(args, "port")).to_python(),
                        [&](nb::object conn) { return drop(std::move(conn), database, name); });
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    fail("❌ Error dropping database [0]: " + message(e));
    if (env_flag("TRACEBACK")) output::print_exception(e);
  }
  co_return nb::none();
}

}  // namespace

void define_drop_database(nb::module_& m) { m.def("drop_database", &drop_database, "args"_a); }

}  // namespace talvo::db
