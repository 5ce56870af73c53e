#include "settings/scope.hpp"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/failure.hpp"
#include "core/interpolation.hpp"
#include "core/search.hpp"
#include "core/terminal.hpp"
#include "output/palette.hpp"

namespace talvo::settings {
namespace {

// What one file gave: its result, or the error it raised.
struct Outcome {
  nb::object value;
  std::optional<nb::python_error> error;

  nb::object get() const {
    if (error) throw nb::python_error(*error);
    return value;
  }
};

using Outcomes = std::unordered_map<std::string, Outcome>;

struct Scope {
  core::ListingCache listings{core::system_filesystem()};
  Outcomes configs;
  Outcomes settings_modules;
  std::optional<std::string> unreadable;
  GivenOptions given;
  std::set<std::string> announced;  // files found, and files skipped
  std::optional<std::string> described;
};

// Scopes nest: the outermost one creates the state, and it goes when the
// last one ends, so the Python objects it holds never outlive the command.
int live_scopes = 0;
std::unique_ptr<Scope> scope;

nb::module_ os() { return nb::module_::import_("os"); }

std::string absolute(nb::handle path) {
  return text(os().attr("path").attr("abspath")(os().attr("fspath")(path)));
}

template <typename Make>
nb::object once(Outcomes Scope::*table, nb::handle path, Make&& make) {
  if (!scope) return make();
  Outcomes& outcomes = (*scope).*table;
  std::string key = absolute(path);
  if (auto it = outcomes.find(key); it != outcomes.end()) return it->second.get();
  Outcome outcome;
  try {
    outcome.value = make();
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    outcome.error.emplace(e);
  }
  return outcomes.emplace(std::move(key), std::move(outcome)).first->second.get();
}

bool is_file(nb::handle path) { return truthy(os().attr("path").attr("isfile")(path)); }

// Puts the .env variables that are not set yet into os.environ; gives the
// names and values it added.
std::vector<std::pair<nb::object, nb::object>> expose(nb::handle env_file) {
  std::vector<std::pair<nb::object, nb::object>> added;
  nb::object cfg;
  try {
    cfg = load_config(env_file);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    log("debug", "not exposing " + text(env_file) + ": " + message(e));
    return added;
  }
  nb::object environ = os().attr("environ");
  for (nb::handle key : cfg.attr("keys")()) {
    nb::object value = cfg.attr("get")(key);
    if (!nb::isinstance<nb::str>(key) || !nb::isinstance<nb::str>(value)) continue;
    if (truthy(environ.attr("__contains__")(key))) continue;
    environ[key] = value;
    added.emplace_back(nb::borrow(key), value);
  }
  return added;
}

void withdraw(const std::vector<std::pair<nb::object, nb::object>>& added) {
  nb::object environ = os().attr("environ");
  for (const auto& [key, value] : added) {
    // A value the settings file changed is the file's own doing: keep it.
    if (environ.attr("get")(key).equal(value)) environ.attr("pop")(key, nb::none());
  }
}

// While a project's settings file runs, what it prints goes to standard
// error: standard output may carry a command's CSV or JSON.
class OutputAside {
 public:
  OutputAside() : sys_(nb::module_::import_("sys")), saved_(sys_.attr("stdout")) {
    sys_.attr("stdout") = sys_.attr("stderr");
  }
  ~OutputAside() {
    undo_quietly([&] { sys_.attr("stdout") = saved_; });
  }
  OutputAside(const OutputAside&) = delete;
  OutputAside& operator=(const OutputAside&) = delete;

 private:
  nb::module_ sys_;
  nb::object saved_;
};

bool in_file(nb::handle trace, const std::string& file) {
  nb::object name = trace.attr("tb_frame").attr("f_code").attr("co_filename");
  return nb::isinstance<nb::str>(name) && absolute(name) == file;
}

// The line of the settings file the error came from: the deepest frame of
// that file, or where a syntax error stands.
long error_line(nb::handle error, nb::handle trace, const std::string& file) {
  if (PyErr_GivenExceptionMatches(error.ptr(), PyExc_SyntaxError)) {
    nb::object line = nb::getattr(error, "lineno", nb::none());
    return PyLong_Check(line.ptr()) ? nb::cast<long>(line) : 0;
  }
  long line = 0;
  for (nb::object t = nb::borrow(trace); !t.is_none(); t = t.attr("tb_next"))
    if (in_file(t, file)) line = nb::cast<long>(t.attr("tb_lineno"));
  return line;
}

// The traceback up to the settings file's first frame, which is where the
// program's own frames end: a traceback printed for --debug or TRACEBACK
// then shows no line of the file, nor of what the file imported.
nb::object trace_before(nb::object trace, const std::string& file) {
  nb::object previous = nb::none();
  for (nb::object t = trace; !t.is_none(); t = t.attr("tb_next")) {
    if (in_file(t, file)) {
      if (previous.is_none()) return nb::none();
      previous.attr("tb_next") = nb::none();
      return trace;
    }
    previous = t;
  }
  return trace;
}

std::string error_detail(nb::handle error) {
  try {
    if (PyErr_GivenExceptionMatches(error.ptr(), PyExc_SyntaxError)) {
      nb::object msg = nb::getattr(error, "msg", nb::none());
      return msg.is_none() ? std::string() : text(msg);
    }
    return text(error);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    return std::string();  // an error whose text cannot be had
  }
}

// Whatever a settings file raises, Ctrl-C aside, is an error of that file
// (GeneratorExit and other BaseException kinds too, which would otherwise
// end the program with a traceback that names no file), told by its file,
// line and kind, never by the line's text.
[[noreturn]] void raise_file_error(nb::handle path, const nb::python_error& e) {
  const std::string file = absolute(path);
  nb::object error = nb::borrow(e.value());
  nb::object trace = e.traceback().is_valid() ? nb::borrow(e.traceback()) : nb::none();
  const std::string msg =
      core::file_error_text(text(path), error_line(error, trace, file),
                            text(error.type().attr("__name__")), error_detail(error));
  nb::object kind = nb::module_::import_("talvo.envloader").attr("ConfigFileError");
  nb::object raised = kind(nb::str(msg.data(), msg.size()));
  raised.attr("__suppress_context__") = true;
  nb::object kept = trace_before(trace, file);
  if (!kept.is_none()) PyException_SetTraceback(raised.ptr(), kept.ptr());
  PyErr_SetObject(kind.ptr(), raised.ptr());
  throw nb::python_error();
}

nb::object run_settings_file(nb::handle path) {
  nb::object env_file = project_env_file(path);
  auto added = env_file.is_none() ? decltype(expose(env_file)){} : expose(env_file);
  std::optional<std::string> exited;
  std::optional<nb::python_error> failure;
  nb::object module;
  try {
    OutputAside aside;
    module = routine("load_settings_from_path")(path);
  } catch (nb::python_error& e) {
    withdraw(added);
    if (e.matches(PyExc_KeyboardInterrupt)) throw;
    if (e.matches(PyExc_SystemExit))
      exited = text(e.value().attr("code"));
    else
      failure.emplace(std::move(e));
  }
  if (failure) raise_file_error(path, *failure);
  if (exited) {
    std::string msg = text(path) + " called sys.exit(" + *exited + ") while being read";
    nb::object kind = nb::module_::import_("talvo.envloader").attr("ConfigFileError");
    PyErr_SetString(kind.ptr(), msg.c_str());
    throw nb::python_error();
  }
  withdraw(added);
  return module;
}

}  // namespace

DiscoveryScope::DiscoveryScope() {
  if (live_scopes++ == 0) scope = std::make_unique<Scope>();
}

DiscoveryScope::~DiscoveryScope() {
  if (--live_scopes == 0) scope.reset();
}

// manage.py is looked for in the settings directory and up to two levels
// above it; startproject puts it in the settings package's parent.
nb::object project_env_file(nb::handle settings_path) {
  nb::object path = os().attr("path");
  nb::object dir = path.attr("dirname")(path.attr("abspath")(settings_path));
  nb::object project = path.attr("dirname")(dir);
  nb::object candidate = dir;
  for (int level = 0; level < 3; ++level) {
    if (is_file(path.attr("join")(candidate, "manage.py"))) {
      project = candidate;
      break;
    }
    candidate = path.attr("dirname")(candidate);
  }
  nb::object env_file = path.attr("join")(project, ".env");
  return is_file(env_file) ? env_file : nb::object(nb::none());
}

void note_unreadable(const std::string& reason) {
  if (scope && !scope->unreadable) scope->unreadable = reason;
}

std::optional<std::string> first_unreadable() {
  return scope ? scope->unreadable : std::nullopt;
}

void note_given_options(const GivenOptions& given) {
  if (scope) scope->given = given;
}

GivenOptions given_options() { return scope ? scope->given : GivenOptions{}; }

void announce_settings_file(const std::string& path) {
  if (scope && !scope->announced.insert(path).second) return;
  print("📄 Found settings at: " + core::visible_text(path), palette::info);
}

core::ListingCache* detail::scope_cache() { return scope ? &scope->listings : nullptr; }

void note_described_file(const std::string& path) {
  if (scope) scope->described = path;
}

std::optional<std::string> described_file() { return scope ? scope->described : std::nullopt; }

void announce_skipped(const std::string& reason) {
  if (scope && !scope->announced.insert("skipped: " + reason).second) return;
  print("⚠️ Skipped " + core::visible_text(reason), palette::warning);
}

nb::object load_config(nb::handle path) {
  return once(&Scope::configs, path, [&] {
    nb::module_ loader = nb::module_::import_("talvo.envloader");
    // The limits are the core's; the loader keeps them as its defaults, so
    // a loader put in its place is still called with the path alone.
    loader.attr("MAX_BYTES") = core::kMaxDocumentBytes;
    loader.attr("BUDGET_FLOOR") = core::kBudgetFloor;
    loader.attr("BUDGET_FACTOR") = core::kBudgetFactor;
    try {
      return loader.attr("load_env")(path);
    } catch (nb::python_error& e) {
      if (is_ordinary(e) && nb::hasattr(e.value(), "skipped")) announce_skipped(message(e));
      throw;
    }
  });
}

nb::object execute_settings(nb::handle path) {
  return once(&Scope::settings_modules, path, [&] { return run_settings_file(path); });
}

}  // namespace talvo::settings
