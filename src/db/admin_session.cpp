#include "db/admin_session.hpp"

#include <unistd.h>

#include <string>

#include "core/terminal.hpp"
#include "output/palette.hpp"
#include "settings/environment.hpp"

namespace talvo::db {

namespace {

[[noreturn]] void raise(PyObject* type, const std::string& msg) {
  PyErr_SetString(type, msg.c_str());
  throw nb::python_error();
}

// Sets the exception that sys.exc_info() reports for as long as it lives, so
// printers that look for "the exception being handled" find it.
class HandledException {
 public:
  explicit HandledException(const nb::python_error& e) : previous_(PyErr_GetHandledException()) {
    nb::object value = nb::borrow(e.value());
    nb::object trace = nb::borrow(e.traceback());
    if (trace.is_valid() && !trace.is_none()) PyException_SetTraceback(value.ptr(), trace.ptr());
    PyErr_SetHandledException(value.ptr());
  }
  HandledException(const HandledException&) = delete;
  HandledException& operator=(const HandledException&) = delete;
  ~HandledException() {
    PyErr_SetHandledException(previous_);
    Py_XDECREF(previous_);
  }

 private:
  PyObject* previous_;
};

}  // namespace


nb::object connect_as_superuser(nb::handle args, nb::handle host, nb::handle port) {
  nb::object asyncpg = nb::module_::import_("asyncpg");
  nb::dict kwargs;
  kwargs["database"] = "postgres";
  kwargs["user"] = arg(args, "user");
  kwargs["host"] = host;
  kwargs["port"] = port;
  kwargs["password"] = arg(args, "passwd");
  settings::add_tls_arguments(kwargs);
  return asyncpg.attr("connect")(**kwargs);
}

bool traceback_requested() {
  nb::object environ = nb::module_::import_("os").attr("environ");
  std::string value = text(environ.attr("get")("TRACEBACK", "0").attr("lower")());
  return value == "1" || value == "true" || value == "yes";
}

void print_exception_of(const nb::python_error& e) {
  HandledException handled(e);
  routine("print_exception")();
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
  // May run while a Python error is being raised; keep it out of the way.
  PyObject *type, *value, *trace;
  PyErr_Fetch(&type, &value, &trace);
  try {
    conn_.attr("terminate")();
  } catch (...) {
  }
  PyErr_Clear();
  PyErr_Restore(type, value, trace);
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
