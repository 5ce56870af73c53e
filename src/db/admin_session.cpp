#include "db/admin_session.hpp"

#include <string>

#include "core/terminal.hpp"
#include "output/palette.hpp"
#include "db/connect.hpp"

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
  auto kwargs = [&](const char* database) {
    nb::dict d;
    d["database"] = database;
    d["user"] = arg(args, "user");
    d["host"] = host;
    d["port"] = port;
    d["password"] = arg(args, "passwd");
    return d;
  };
  bool missing = false;
  try {
    co_return co_await open_connection(kwargs(kMaintenanceDatabase));
  } catch (nb::python_error& e) {
    if (!is_ordinary(e) || !names_missing_database(e)) throw;
    missing = true;
  }
  if (missing) co_return co_await open_connection(kwargs(kFallbackDatabase));
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
