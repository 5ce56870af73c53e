// The settings file searches and the config file lookup.
#include <cerrno>
#include <climits>
#include <optional>
#include <string>

#include "core/search.hpp"
#include "settings/paths.hpp"
#include "settings/scope.hpp"
#include "settings/settings.hpp"

namespace talvo::settings {
namespace {

// The names tried by the config file lookup, in this order.
constexpr const char* kConfigNames[] = {".env", ".json", ".yaml"};

// logger.<level>(prefix + str(value)), built as Python text so that path
// texts with escaped bytes pass through unchanged.
void log_value(const char* level, const char* prefix, nb::handle value) {
  nb::str line = nb::steal<nb::str>(PyUnicode_Concat(nb::str(prefix).ptr(), nb::str(value).ptr()));
  if (!line.is_valid()) throw nb::python_error();
  logger().attr(level)(line);
}

long long depth_limit(nb::handle value, const char* name) {
  PyObject* index = PyNumber_Index(value.ptr());
  if (index == nullptr) {
    PyErr_Clear();
    throw nb::type_error((std::string(name) + " must be an integer").c_str());
  }
  int overflow = 0;
  long long limit = PyLong_AsLongLongAndOverflow(index, &overflow);
  Py_DECREF(index);
  if (overflow != 0) return overflow > 0 ? LLONG_MAX - 1 : LLONG_MIN;
  // The walk adds one per level; keep that addition in range.
  return limit == LLONG_MAX ? LLONG_MAX - 1 : limit;
}

[[noreturn]] void raise_file_test_error(const core::FileTestError& e) {
  nb::str filename = fs_text(e.path());
  errno = e.error();
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.ptr());
  throw nb::python_error();
}

class LoggingObserver final : public core::SearchObserver {
 public:
  void down_result(int phase, const std::optional<std::string>& result) override {
    log_value("notice", phase == 0 ? "search down result [0]: " : "search down result [1]: ",
              optional_text(result));
  }
  void ancestors(const std::string& current, const std::string& parent) override {
    log_value("debug", "current: ", fs_text(current));
    log_value("debug", "current.parent: ", fs_text(parent));
  }
};

nb::object find_settings_recursive(nb::object start_path, nb::object max_depth_up,
                                   nb::object max_depth_down, nb::object filename) {
  log_value("warning", "max_depth_up: ", max_depth_up);
  log_value("warning", "max_depth_down: ", max_depth_down);
  log_value("warning", "start_path: ", start_path);

  nb::module_ os = nb::module_::import_("os");
  nb::object given = start_path.is_none() ? os.attr("getcwd")() : start_path;
  nb::object resolved = os.attr("path").attr("realpath")(given);
  std::string start = fs_bytes(resolved);
  log_value("warning", "start_path: ", fs_text(start));

  long long up = depth_limit(max_depth_up, "max_depth_up");
  long long down = depth_limit(max_depth_down, "max_depth_down");
  std::string name = fs_bytes(filename);
  LoggingObserver observer;
  try {
    return optional_text(with_cache([&](core::ListingCache& cache) {
      return core::find_upward(cache, start, up, down, name, observer);
    }));
  } catch (const core::FileTestError& e) {
    raise_file_test_error(e);
  }
}

nb::object find_settings_recursive1(nb::object start_path, nb::object max_depth,
                                    nb::object filename) {
  nb::object given =
      start_path.is_none() ? nb::module_::import_("os").attr("getcwd")() : start_path;
  std::string path = fs_bytes(given);
  long long limit = depth_limit(max_depth, "max_depth");
  std::string name = fs_bytes(filename);
  return optional_text(with_cache([&](core::ListingCache& cache) {
    return core::search_directory(cache, path, limit, name);
  }));
}

nb::object find_any_config(nb::object start_path, nb::object max_depth_up,
                           nb::object max_depth_down) {
  DiscoveryScope scope;
  for (const char* ext : kConfigNames) {
    nb::object path = routine("find_settings_recursive")(
        start_path, "filename"_a = ext, "max_depth_up"_a = max_depth_up,
        "max_depth_down"_a = max_depth_down);
    if (PyUnicode_Check(path.ptr()) && PyUnicode_GetLength(path.ptr()) > 0) return path;
  }
  return nb::none();
}

}  // namespace

void define_search(nb::module_& m) {
  m.def("find_settings_recursive1", &find_settings_recursive1, "start_path"_a.none() = nb::none(),
        "max_depth"_a = nb::int_(5), "filename"_a = nb::str("settings.py"),
        "Recursively search for settings file");
  m.def("find_any_config", &find_any_config, "start_path"_a.none() = nb::none(),
        "max_depth_up"_a = nb::int_(0), "max_depth_down"_a = nb::int_(1));
  m.def("find_settings_recursive", &find_settings_recursive, "start_path"_a.none() = nb::none(),
        "max_depth_up"_a = nb::int_(0), "max_depth_down"_a = nb::int_(5),
        "filename"_a = nb::str("settings.py"));
}

}  // namespace talvo::settings
