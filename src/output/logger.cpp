// The logger factory: the colour-logging component when it is there and
// willing, otherwise the standard library's logger taught the program's extra
// severities and the colour hint.
#include <string>
#include <string_view>

#include <nanobind/stl/string_view.h>

#include "output/output.hpp"

namespace talvo::output {
namespace {

// Severities the program logs at besides the standard library's, placed in
// syslog order: notice between info and warning, alert and emergency above
// critical.
constexpr struct {
  const char* name;
  int value;
} kExtraLevels[] = {{"NOTICE", 25}, {"ALERT", 55}, {"EMERGENCY", 60}};

// The standard logger's methods reject unknown keywords, so every severity
// is wrapped to drop the colour hint. The class derives from the logger's
// own class and replaces it in place, so the object stays the standard
// logger of that name (level, handlers and propagation untouched).
constexpr const char* kPlainLoggerSource = R"PY(
def plain_logger_class(base, notice, alert, emergency):
    def severity(level):
        def log(self, msg, *args, color=None, **kwargs):
            if self.isEnabledFor(level):
                kwargs["stacklevel"] = kwargs.get("stacklevel", 1) + 1
                self._log(level, msg, args, **kwargs)
        return log

    def log(self, level, msg, *args, color=None, **kwargs):
        base.log(self, level, msg, *args, **kwargs)

    def exception(self, msg, *args, color=None, exc_info=True, **kwargs):
        base.exception(self, msg, *args, exc_info=exc_info, **kwargs)

    names = {"debug": 10, "info": 20, "notice": notice, "warning": 30, "warn": 30,
             "error": 40, "critical": 50, "fatal": 50, "alert": alert,
             "emergency": emergency}
    body = {name: severity(level) for name, level in names.items()}
    body.update(log=log, exception=exception, _talvo_plain=True)
    return type("Plain" + base.__name__, (base,), body)
)PY";


nb::object plain_logger(nb::handle logging, nb::handle name, nb::handle level) {
  for (const auto& extra : kExtraLevels) {
    // A name registered by someone else (the colour component, say) is kept.
    std::string current = text(logging.attr("getLevelName")(extra.value));
    if (current.starts_with("Level ")) logging.attr("addLevelName")(extra.value, extra.name);
  }
  logging.attr("basicConfig")("level"_a = level);
  nb::object log = logging.attr("getLogger")(name);
  nb::object cls = nb::borrow(reinterpret_cast<PyObject*>(Py_TYPE(log.ptr())));
  if (!nb::hasattr(cls, "_talvo_plain")) {
    nb::dict scope;
    nb::module_::import_("builtins").attr("exec")(kPlainLoggerSource, scope);
    nb::object make = scope["plain_logger_class"];
    log.attr("__class__") = make(cls, kExtraLevels[0].value, kExtraLevels[1].value,
                                 kExtraLevels[2].value);
  }
  return log;
}

// The colour path; an empty result means "use the plain logger".
nb::object colour_logger(nb::handle module, nb::object name, nb::handle level) {
  nb::object setup, printer;
  try {
    nb::module_ component = nb::module_::import_("talvo.colorlog");
    setup = component.attr("setup_logging");
    printer = component.attr("print_exception");
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    return {};
  }
  module.attr("tprint") = printer;

  if (nb::len(name) > 0 && nb::cast<std::string_view>(name) == "__main__") name = nb::str("talvo");

  nb::object result;
  try {
    result = setup("name"_a = name, "level"_a = level);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    if (!e.matches(PyExc_TypeError)) return {};
    try {
      result = setup();
    } catch (nb::python_error& again) {
      if (!is_ordinary(again)) throw;
      return {};
    }
  }
  // A component that hands back nothing would leave the program without a
  // logger; the plain one is better than None.
  if (result.is_none()) return {};
  return result;
}

[[noreturn]] void type_error(const char* what) {
  PyErr_SetString(PyExc_TypeError, what);
  throw nb::python_error();
}

}  // namespace

void define_logger_factory(nb::module_& m) {
  // Borrowed on purpose: the factory runs while the module is still being
  // initialised (not yet importable by name), and the module outlives every
  // call made through its own attribute.
  nb::handle module = m;
  m.def(
      "get_logger",
      [module](nb::object name, nb::object level, bool prefer_rich, bool force_plain) {
        if (!nb::isinstance<nb::str>(name)) type_error("name must be a str");
        if (!level.is_none() &&
            (!nb::isinstance<nb::int_>(level) || nb::isinstance<nb::bool_>(level)))
          type_error("level must be an int or None");

        nb::module_ logging = nb::module_::import_("logging");
        if (level.is_none())
          level = logging.attr(env_flag("DEBUG") ? "DEBUG" : "INFO");

        if (force_plain || env_flag("FORCE_PLAIN_LOG") || !prefer_rich)
          return plain_logger(logging, name, level);
        nb::object log = colour_logger(module, name, level);
        return log.is_valid() ? log : plain_logger(logging, name, level);
      },
      "name"_a.none() = "talvo", "level"_a.none() = nb::none(), "prefer_rich"_a = true,
      "force_plain"_a = false);
}

}  // namespace talvo::output
