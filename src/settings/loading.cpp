// Executing a Django settings file as a throwaway module.
#include "settings/settings.hpp"

namespace talvo::settings {
namespace {

// Not entered in sys.modules: every call runs the file anew, and nothing
// else can import it by name.
nb::object load_settings_from_path(nb::object path) {
  nb::module_ util = nb::module_::import_("importlib.util");
  nb::object module_location = util.attr("spec_from_file_location")("settings_module", path);
  if (module_location.is_none()) {
    // A name such as "settings.py.bak" has no loader; say so instead of
    // failing later on None.
    std::string msg = "cannot load settings from " + text(path) + ": not a Python source file";
    PyErr_SetString(PyExc_ImportError, msg.c_str());
    throw nb::python_error();
  }
  nb::object module = util.attr("module_from_spec")(module_location);
  // Reading a project's settings writes nothing into the project: no
  // __pycache__ for the file itself nor for the modules it imports.
  nb::module_ sys = nb::module_::import_("sys");
  nb::object kept = sys.attr("dont_write_bytecode");
  sys.attr("dont_write_bytecode") = true;
  try {
    module_location.attr("loader").attr("exec_module")(module);
  } catch (...) {
    sys.attr("dont_write_bytecode") = kept;
    throw;
  }
  sys.attr("dont_write_bytecode") = kept;
  return module;
}

}  // namespace

void define_loading(nb::module_& m) {
  m.def("load_settings_from_path", &load_settings_from_path, "path"_a,
        "Dynamically import a settings.py file");
}

}  // namespace talvo::settings
