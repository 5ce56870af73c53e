// drop_user: removes one role after its name is typed again.
#include "bridge/coroutine.hpp"
#include "db/admin_session.hpp"
#include "db/session.hpp"
#include "db/db.hpp"
#include "output/palette.hpp"

namespace talvo::db {

namespace {

bridge::Coroutine drop_role(nb::object conn, nb::object username, std::string name) {
  co_await conn.attr("execute")("DROP USER IF EXISTS " + name);
  print("✅ User '" + shown(username) + "' dropped successfully", palette::success, true);
  co_return nb::none();
}

bridge::Coroutine drop_user(nb::object args) {
  bridge::Traced<> username = arg(args, "username");
  if (!truthy(username)) {
    fail("❌ Username required. Use -u/--username");
    co_return nb::none();
  }
  if (!name_fits(username, "User")) co_return nb::none();
  // Two blanks after the sign, unlike the database warning: the text as it
  // has always been.
  print("⚠️  WARNING: You are about to DROP user '" + shown(username) + "'", palette::error, true);
  print("❓ Type the username to confirm: ", palette::warning, true, "");
  bridge::Traced<> confirmation = read_line().attr("strip")();
  if (!confirmation.equal(username)) {
    fail("❌ Username mismatch. Aborted.");
    co_return nb::none();
  }

  try {
    const std::string name = sql_name(username);
    co_await in_session(connect_as_superuser(args, arg(args, "hostname"), arg(args, "port")).to_python(),
                        [&](nb::object conn) { return drop_role(std::move(conn), username, name); });
  } catch (const nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    fail("❌ Error dropping user [1]: " + message(e));
  }
  co_return nb::none();
}

}  // namespace

void define_drop_user(nb::module_& m) { m.def("drop_user", &drop_user, "args"_a); }

}  // namespace talvo::db
