// Small helpers shared by the binding layer: how routines reach each other,
// the module-wide logger, and Python's text form and truthiness.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "core/terminal.hpp"
#include "output/palette.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace talvo {

// Routines and module-wide values are looked up on the module at call time,
// so a replacement set on the module by a caller (or a test) is the one used.
// Never cache the result in static storage: it would outlive the interpreter.
inline nb::module_ self() { return nb::module_::import_("talvo.talvo"); }
inline nb::object routine(const char* name) { return self().attr(name); }
inline nb::object logger() { return self().attr("logger"); }

// args.<name>, or None when the parsed command does not define it.
inline nb::object arg(nb::handle args, const char* name) {
  return nb::getattr(args, name, nb::none());
}

// The UTF-8 bytes of a text as the program hands them on: the surrogate
// escapes of a file name or variable that is not valid UTF-8 become the
// bytes they stand for, as os.fsencode makes them.
inline std::string utf8(nb::handle s) {
  nb::object bytes = nb::steal(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogateescape"));
  if (!bytes.is_valid()) throw nb::python_error();
  return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

// str(x): the text form used in every message and log line. What cannot be
// UTF-8 (a name with a stray byte) shows as a backslash escape.
inline std::string text(nb::handle h) {
  nb::str s(h);
  nb::object bytes = nb::steal(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "backslashreplace"));
  if (!bytes.is_valid()) throw nb::python_error();
  return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

// str(x) as a message shows a path or name: on one line, every control
// character visible.
inline std::string visible(nb::handle h) { return core::visible_text(text(h)); }

inline bool truthy(nb::handle h) {
  int r = PyObject_IsTrue(h.ptr());
  if (r < 0) throw nb::python_error();
  return r == 1;
}

// Ordinary errors derive from Exception; SystemExit, KeyboardInterrupt,
// GeneratorExit and asyncio.CancelledError do not and must pass through.
inline bool is_ordinary(const nb::python_error& e) { return e.matches(PyExc_Exception); }

// The error's message text, without formatting a traceback (what() does that,
// and it is expensive). Every control character is visible, the line break
// too: a name or path inside the message cannot start a line of its own. A
// server error keeps its DETAIL and HINT lines, each a line of its own.
inline std::string message(const nb::python_error& e) {
  nb::handle value = e.value();
  nb::object args = nb::getattr(value, "args", nb::none());
  if (!nb::getattr(value, "sqlstate", nb::none()).is_none() && nb::isinstance<nb::tuple>(args) &&
      nb::len(args) > 0 && nb::isinstance<nb::str>(args[0])) {
    auto field = [&](const char* name) -> std::optional<std::string> {
      nb::object v = nb::getattr(value, name, nb::none());
      if (!nb::isinstance<nb::str>(v)) return std::nullopt;
      return text(v);
    };
    return core::server_error_text(text(args[0]), field("detail"), field("hint"));
  }
  return core::error_text(text(value));
}

// logger.<level>(msg) and logger.<level>(msg, color=...).
inline void log(const char* level, std::string_view msg) {
  logger().attr(level)(nb::str(msg.data(), msg.size()));
}
inline void log(const char* level, std::string_view msg, const char* color) {
  logger().attr(level)(nb::str(msg.data(), msg.size()), "color"_a = color);
}

// rich_print through the module, as every message of the program is printed.
inline void print(std::string_view msg, const char* color = "#FFFFFF", bool bold = false,
                  const char* end = "\n") {
  routine("rich_print")(nb::str(msg.data(), msg.size()), "color"_a = color, "bold"_a = bold,
                        "end"_a = end);
}

// Ends the process with `status`, the Python way: SystemExit, so every
// cleanup on the way out still runs.
[[noreturn]] inline void exit_process(int status) {
  PyErr_SetObject(PyExc_SystemExit, nb::int_(status).ptr());
  throw nb::python_error();
}

// An environment switch: its value, lower-cased, is "1", "true" or "yes".
inline bool env_flag(const char* name) {
  nb::object value = nb::module_::import_("os").attr("environ").attr("get")(name, "");
  std::string v = text(nb::str(value).attr("lower")());
  return v == "1" || v == "true" || v == "yes";
}

// While alive, `e` is the exception being handled (sys.exc_info()), with
// its traceback, so printers that look for it (traceback.format_exc,
// logger.exception, rich's print_exception) find it as they would inside a
// Python except block. A C++ catch block is no Python exception handler.
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

// Runs `undo` from a destructor, which may run while a Python error is on
// its way out: that error stays pending, and whatever `undo` raises is
// dropped, since a destructor cannot report it.
template <class Undo>
void undo_quietly(Undo&& undo) noexcept {
  PyObject *type, *value, *trace;
  PyErr_Fetch(&type, &value, &trace);
  try {
    undo();
  } catch (...) {
  }
  PyErr_Clear();
  PyErr_Restore(type, value, trace);
}

// An error line: printed like any message, and the command then ends with
// status 1 (main reads the outcome when the command is over).
void fail(std::string_view msg, const char* color = palette::error, bool bold = true);
void note_failure();
bool command_failed();
void reset_outcome();

}  // namespace talvo
