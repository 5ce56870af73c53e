#include "db/admin_session.hpp"

#include <string>

#include "core/terminal.hpp"
#include "output/palette.hpp"
#include "db/connect.hpp"
#include "settings/target.hpp"

namespace talvo::db {

namespace {

constexpr const char* kInvalidCatalogName = "3D000";

bool names_missing_database(const nb::python_error& e) {
  nb::object state = nb::getattr(e.value(), "sqlstate", nb::none());
  return nb::isinstance<nb::str>(state) && utf8(state) == kInvalidCatalogName;
}

[[noreturn]] void raise(PyObject* type, const std::string& msg) {
  PyErr_SetString(type, msg.c_str());
  throw nb::python_error();
}

}  // namespace


bridge::Coroutine connect_as_superuser(nb::object args, nb::object host, nb::object port) {
  core::Values target = settings::command_target(args, core::Purpose::superuser).values;
  // The command has settled the server it works on (create reads talvo.ini
  // for it).
  core::Source settled{core::Source::Kind::option, "the command's server", {}, 0};
  target[core::Setting::host] = settings::value_of(host, settled);
  target[core::Setting::port] = settings::value_of(port, settled);
  auto on = [&](const char* database) {
    core::Values t = target;
    t[core::Setting::database] = {database, {core::Source::Kind::default_value, "the maintenance database", {}, 0}};
    return t;
  };
  bool missing = false;
  try {
    co_return co_await open_connection(on(kMaintenanceDatabase));
  } catch (nb::python_error& e) {
    if (!is_ordinary(e) || !names_missing_database(e)) throw;
    missing = true;
  }
  if (missing) co_return co_await open_connection(on(kFallbackDatabase));
  co_return nb::none();
}

void print_traceback(const nb::python_error& e) {
  nb::object tprint = routine("tprint");
  if (!tprint.is_none()) {
    tprint(e.value());
    return;
  }
  HandledException handled(e);
  nb::object formatted = nb::module_::import_("traceback").attr("format_exc")();
  nb::module_::import_("builtins").attr("print")(formatted);
}

std::string sql_name(nb::handle name) {
  try {
    return core::quote_identifier(text(name));
  } catch (const core::UnquotableError& e) {
    raise(PyExc_ValueError, e.what());
  }
}

bool name_fits(nb::handle name, const char* kind) {
  const std::string given = text(name);
  if (core::fits_name_limit(given)) return true;
  fail("❌ " + std::string(kind) + " name is " + std::to_string(given.size()) +
       " bytes long; PostgreSQL allows at most " + std::to_string(core::kMaxNameBytes));
  return false;
}

std::string sql_literal(std::string_view value) {
  try {
    return core::quote_literal(value);
  } catch (const core::UnquotableError& e) {
    raise(PyExc_ValueError, e.what());
  }
}

std::string shown(nb::handle name) { return core::visible_text(text(name)); }

HeldConnection::~HeldConnection() {
  if (!conn_.is_valid()) return;
  undo_quietly([&] { conn_.attr("terminate")(); });
}

bridge::Coroutine close_connection(HeldConnection& conn) {
  if (!conn.held()) co_return nb::none();
  bool failed = false;
  try {
    co_await conn.get().attr("close")();
  } catch (const nb::python_error& e) {
    // An interruption leaves the connection held: the holder terminates it.
    if (!is_ordinary(e)) throw;
    failed = true;
  }
  nb::object closed = conn.release();
  if (failed) closed.attr("terminate")();
  co_return nb::none();
}

}  // namespace talvo::db
