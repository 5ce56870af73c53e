// Database settings discovery: choose a file, read it, and turn it into the
// settings dictionary, which is then kept for the rest of the process.
#include <array>
#include <string>

#include "core/readout.hpp"
#include "settings/aliases.hpp"
#include "settings/paths.hpp"
#include "settings/scope.hpp"
#include "settings/target.hpp"
#include "settings/settings.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"

namespace talvo::settings {
namespace {

const char* info_color = palette::info;

const char* py_bool(bool b) { return b ? "True" : "False"; }

bool is_file(nb::handle path) {
  return truthy(nb::module_::import_("os").attr("path").attr("isfile")(path));
}

// The lower-casing is Python's own, and fails for a value that is not text,
// as it always has: that ends the discovery with its error.
std::string lowered(nb::handle value) { return utf8(value.attr("lower")()); }

bool contains(nb::handle container, std::string_view key) {
  int r = PySequence_Contains(container.ptr(), nb::str(key.data(), key.size()).ptr());
  if (r < 0) throw nb::python_error();
  return r == 1;
}

nb::object cache() { return self().attr("_settings_cache"); }

nb::object store_in_cache(const Assembled& assembled, const std::string& path) {
  nb::dict settings = assembled.settings;
  self().attr("_settings_cache") = settings;
  note_origin(settings, assembled.sources, true);
  log("notice", "[" + path + "] _settings_cache: " + text(output::masked(settings)));
  return cache();
}

// An explicit path that names no file falls back to the configuration file
// lookup alone.
nb::object choose_file(nb::object settings_path, nb::handle up, nb::handle down) {
  nb::module_ os = nb::module_::import_("os");
  auto in_cwd = [&](const char* name) -> nb::object {
    nb::object candidate = os.attr("path").attr("join")(os.attr("getcwd")(), name);
    return is_file(candidate) ? candidate : nb::object(nb::none());
  };

  if (settings_path.is_none()) {
    settings_path = in_cwd("settings.py");
    if (settings_path.is_none())
      settings_path = routine("find_settings_recursive")("max_depth_up"_a = up,
                                                         "max_depth_down"_a = down);
  }
  log("debug", "settings_path: " + text(settings_path));

  if (settings_path.is_none()) {
    settings_path = in_cwd("config.json");
    if (settings_path.is_none())
      settings_path = routine("find_settings_recursive")(
          "filename"_a = "config.json", "max_depth_up"_a = up, "max_depth_down"_a = down);
  }
  log("debug", "settings_path: " + text(settings_path));

  bool usable = truthy(settings_path);
  if (usable) {
    usable = is_file(settings_path);
    log("info", std::string("os.path.isfile(settings_path): ") + py_bool(usable));
  }
  if (!usable) {
    settings_path = routine("find_any_config")("max_depth_up"_a = up, "max_depth_down"_a = down);
    if (!truthy(settings_path) || !is_file(settings_path)) return nb::none();
  }
  return settings_path;
}

bool django_engine_qualifies(nb::handle cfg) {
  nb::object engine = cfg.attr("get")("ENGINE", "");
  if (nb::isinstance<nb::str>(engine))
    return core::engine_names_postgres(utf8(engine), core::EngineRule::django);
  return core::engine_names_postgres(lowered(engine), core::EngineRule::django);
}

void report_wrong_engine(nb::handle engine) {
  nb::object escape = nb::module_::import_("rich.markup").attr("escape");
  nb::object markup = nb::str(
      ("❌ [bold #FFFF00]`settings.py` found but engine is[/] [bold #00FFFF]'" +
       text(escape(nb::str(engine))) + "'[/]")
          .c_str());
  nb::module_::import_("rich.console").attr("Console")().attr("print")(markup);
}

nb::object read_django_settings(nb::handle settings_path, const std::string& path) {
  // The spelling and the levels of these discovery lines are long-standing
  // log text that filters and scripts match: they stay as they are.
  log("alert", "processsing 'settings.py' in final_path ...");
  nb::object settings = execute_settings(settings_path);
  log("info", "settings: " + text(settings));
  nb::object databases =
      nb::module_::import_("builtins").attr("getattr")(settings, "DATABASES", nb::none());
  log("info", "databases_obj: " + text(output::masked(databases)));

  nb::object shown_engine = nb::none();
  if (truthy(databases)) {
    bool first = true;
    for (nb::handle entry : databases.attr("items")()) {
      nb::object cfg = entry[1];
      // With several entries and none of them PostgreSQL, the message names
      // the first one's engine: that is the default database in Django.
      if (first) shown_engine = cfg.attr("get")("ENGINE");
      first = false;
      if (django_engine_qualifies(cfg)) {
        announce_settings_file(path);
        return store_in_cache(assemble_settings(cfg, core::django_aliases, path), path);
      }
    }
  }
  report_wrong_engine(shown_engine);
  return nb::none();
}

// The parser's own message may quote a piece of the URL (a port that is no
// number: with a raw "/" in the password, a piece of the password). The
// error is logged under the URL as masked instead, with its kind and trace.
void log_unusable_url(const nb::python_error& e, nb::handle cfg, nb::handle keys) {
  std::string url;
  for (std::string_view key : core::kUrlKeys) {
    if (!contains(keys, key)) continue;
    nb::object value = cfg.attr("get")(nb::str(key.data(), key.size()));
    if (nb::isinstance<nb::str>(value)) url = core::mask_secrets(utf8(value));
    break;
  }
  const std::string msg = "connection URL " + core::visible_text(url) + " does not parse (" +
                          text(e.type().attr("__name__")) + ")";
  nb::object safe;
  try {
    safe = e.type()(nb::str(msg.data(), msg.size()));
  } catch (nb::python_error& again) {
    if (!is_ordinary(again)) throw;
    safe = nb::handle(PyExc_ValueError)(nb::str(msg.data(), msg.size()));
  }
  if (e.traceback().is_valid()) PyException_SetTraceback(safe.ptr(), e.traceback().ptr());
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(safe.ptr())), safe.ptr());
  nb::python_error shown;
  HandledException handling(shown);
  logger().attr("exception")(shown.value());
}

// A connection URL wins when it names a PostgreSQL host, user and database;
// anything less (or a URL that does not parse) leaves the individual keys.
nb::object read_connection_url(nb::handle cfg, nb::handle keys, const std::string& path) {
  try {
    nb::list present;
    for (std::string_view key : core::kUrlKeys)
      if (contains(keys, key)) present.append(nb::str(key.data(), key.size()));
    log("emergency", "check_db_url: " + text(present));
    if (nb::len(present) == 0) return nb::none();

    nb::object config_db = routine("parse_postgresql_url")(cfg.attr("get")(present[0]));
    log("debug", "config_db: " + text(output::masked(config_db)));
    if (truthy(config_db["host"]) && truthy(config_db["username"]) &&
        truthy(config_db["database"]) && config_db["protocol"].equal(nb::str("postgresql"))) {
      log("notice", "return config_db");
      core::Values from_url;
      core::Source url{core::Source::Kind::file, path, text(present[0]), 0};
      for (auto [key, setting] : {std::pair{"host", core::Setting::host},
                                  std::pair{"port", core::Setting::port},
                                  std::pair{"username", core::Setting::user},
                                  std::pair{"password", core::Setting::password},
                                  std::pair{"database", core::Setting::database}})
        from_url[setting] = value_of(config_db[key], url);
      add_key_lines(from_url);
      note_origin(config_db, from_url, true);
      return config_db;
    }
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    log_unusable_url(e, cfg, keys);
  }
  return nb::none();
}

bool config_qualifies_under(nb::handle cfg, std::string_view engine_key) {
  nb::object get = cfg.attr("get");
  nb::str key(engine_key.data(), engine_key.size());
  if (core::engine_names_postgres(lowered(get(key, "")), core::EngineRule::config_file)) return true;
  for (std::string_view port_key : core::kPostgresPortKeys)
    if (truthy(get(nb::str(port_key.data(), port_key.size())))) return true;
  return false;
}

nb::object read_config_file(nb::handle settings_path, const std::string& path) {
  log("debug", "processing '" + path + "' ...");
  note_described_file(fs_bytes(nb::module_::import_("os").attr("path").attr("abspath")(settings_path)));
  nb::object cfg = load_config(settings_path);
  log("notice", "cfg: " + text(output::masked(cfg.attr("_data"))));
  nb::list keys = nb::list(cfg.attr("keys")());
  bool has_url = contains(keys, "database_url") || contains(keys, "DATABASE_URL");
  log("info",
      // Two blanks after "or", as this line has always read.
      std::string("'database_url' in list(cfg.keys()) or  'DATABASE_URL' in list(cfg.keys()): ") +
          py_bool(has_url));

  nb::object config_db = read_connection_url(cfg, keys, path);
  if (!config_db.is_none()) return config_db;

  for (std::string_view engine_key : core::kEngineKeys) {
    if (!config_qualifies_under(cfg, engine_key)) continue;
    print("📄 Found config at: " + core::visible_text(path), info_color);
    announce_settings_file(path);
    nb::object settings = store_in_cache(assemble_settings(cfg, core::config_aliases, path), path);
    dump_user_and_database_keys(cfg);
    return settings;
  }
  return nb::none();
}

// A file that could not be loaded, as opposed to one that was read and did
// not qualify, or one left unread for its size (already named on its own
// line, and no more a failure than a file that is not there).
bool unreadable_file(const nb::python_error& e) {
  if (nb::hasattr(e.value(), "skipped")) return false;
  return e.matches(PyExc_OSError) ||
         e.matches(nb::module_::import_("talvo.envloader").attr("ConfigFileError"));
}

void report_error(const nb::python_error& e) {
  HandledException handling(e);
  log("error", "⚠️ Debug - Error reading settings: " + message(e));
  if (unreadable_file(e)) note_unreadable(message(e));
  if (env_flag("TRACEBACK")) {
    nb::object trace = nb::module_::import_("traceback").attr("format_exc")();
    logger().attr("error")(trace);
  }
  if (env_flag("DEBUG")) logger().attr("exception")(e.value());
}

nb::object parse_django_settings(nb::object settings_path, nb::object max_depth_up,
                                 nb::object max_depth_down) {
  nb::object cached = cache();
  if (!cached.is_none()) return cached;

  log("debug", "settings_path: " + text(settings_path));
  DiscoveryScope scope;
  try {
    settings_path = choose_file(settings_path, max_depth_up, max_depth_down);
    if (settings_path.is_none()) return nb::none();

    std::string path = text(settings_path);
    // Emergency and warning levels for what is plain progress: the levels
    // these lines have always had, which log filters rely on.
    log("emergency", "final_path: " + path);
    log("emergency", std::string("final_path is file: ") + py_bool(is_file(settings_path)));
    bool django = path.find("settings.py") != std::string::npos;
    log("warning", std::string("CHECK [1]: ") + py_bool(django));

    return django ? read_django_settings(settings_path, path)
                  : read_config_file(settings_path, path);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    report_error(e);
  }
  return nb::none();
}

}  // namespace

void define_extraction(nb::module_& m) {
  m.def("parse_django_settings", &parse_django_settings, "settings_path"_a.none() = nb::none(),
        "max_depth_up"_a = 0, "max_depth_down"_a = 1,
        "Parse Django settings.py or config files for database configuration");
}

}  // namespace talvo::settings
