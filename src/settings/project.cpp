#include "settings/project.hpp"

#include <optional>
#include <string>

#include "core/connection_url.hpp"
#include "core/document.hpp"
#include "core/origins.hpp"
#include "core/project_files.hpp"
#include "output/palette.hpp"
#include "settings/environment.hpp"
#include "settings/paths.hpp"
#include "settings/scope.hpp"
#include "settings/target.hpp"

namespace talvo::settings {

namespace {

// Deep enough for any settings file; YAML anchors can make a document
// refer to itself.
constexpr int kMaxNesting = 32;

core::Node to_node(nb::handle value, int depth = 0) {
  if (value.is_none() || depth > kMaxNesting) return {};
  if (PyBool_Check(value.ptr())) return core::Node::boolean(value.ptr() == Py_True);
  if (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())) return core::Node::number(text(value));
  if (nb::isinstance<nb::str>(value)) return core::Node::text(utf8(value));
  if (nb::isinstance<nb::dict>(value) || (nb::hasattr(value, "items") && nb::hasattr(value, "keys"))) {
    core::Node map = core::Node::map();
    for (nb::handle item : value.attr("items")()) map.add(text(item[0]), to_node(item[1], depth + 1));
    return map;
  }
  if (nb::isinstance<nb::list>(value) || nb::isinstance<nb::tuple>(value)) {
    core::Node list = core::Node::list();
    for (nb::handle item : value) list.items.push_back(to_node(item, depth + 1));
    return list;
  }
  return core::Node::text(text(value));
}

bool is_settings_dict(nb::handle settings) { return nb::isinstance<nb::dict>(settings); }

nb::object get(nb::handle settings, const char* key) { return settings.attr("get")(key); }

bool names_database(nb::handle settings) {
  return !settings.is_none() && truthy(settings) && truthy(get(settings, "database"));
}

nb::object optional(const std::optional<std::string>& value) {
  return value ? nb::object(nb::str(value->data(), value->size())) : nb::none();
}

nb::object port_value(const std::optional<std::string>& port) {
  if (!port) return nb::none();
  return core::is_port(*port) ? nb::object(nb::int_(std::stoi(*port))) : optional(port);
}

nb::dict settings_dict(const core::Endpoint& e) {
  nb::dict d;
  d["username"] = optional(e.user);
  d["password"] = optional(e.password);
  d["database"] = optional(e.database);
  d["host"] = optional(e.host);
  d["port"] = port_value(e.port);
  if (e.tls.sslmode) d["sslmode"] = optional(e.tls.sslmode);
  if (e.tls.sslrootcert) d["sslrootcert"] = optional(e.tls.sslrootcert);
  if (e.tls.sslcert) d["sslcert"] = optional(e.tls.sslcert);
  if (e.tls.sslkey) d["sslkey"] = optional(e.tls.sslkey);
  return d;
}

nb::object keep(nb::dict settings) {
  self().attr("_settings_cache") = settings;
  return settings;
}

std::optional<std::string> text_entry(nb::handle settings, const char* key) {
  nb::object v = get(settings, key);
  if (v.is_none()) return std::nullopt;
  return text(v);
}

// The URL result of the plain discovery as a connection uses it: user,
// password and database decoded, the query's parameters applied.
nb::dict decoded_url_settings(nb::handle url_settings) {
  core::Endpoint e;
  auto decoded = [&](const char* key) -> std::optional<std::string> {
    auto v = text_entry(url_settings, key);
    if (!v) return v;
    return core::percent_decode(*v);
  };
  e.user = decoded("username");
  e.password = decoded("password");
  e.database = decoded("database");
  e.host = text_entry(url_settings, "host");
  e.port = text_entry(url_settings, "port");
  if (auto query = text_entry(url_settings, "query_params")) core::apply_query(e, *query);
  return settings_dict(e);
}

// --- the second look ------------------------------------------------------------

bool is_regular_file(const std::string& path) {
  return truthy(nb::module_::import_("os").attr("path").attr("isfile")(fs_text(path)));
}

std::optional<core::Node> read_document(const std::string& path, core::Reader reader) {
  nb::str file = fs_text(path);
  try {
    if (reader == core::Reader::django) {
      nb::object module = execute_settings(file);
      return to_node(nb::getattr(module, "DATABASES", nb::none()));
    }
    nb::object cfg = load_config(file);
    return to_node(nb::getattr(cfg, "document", nb::getattr(cfg, "_data", nb::none())));
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    log("debug", "not read: " + text(file) + ": " + message(e));
    note_unreadable(message(e));
    return std::nullopt;
  }
}

// What Compose interpolates a file with: the process environment, over the
// variables of the .env beside the file.
core::Environment compose_environment(const std::string& compose_file, core::Environment env) {
  std::string env_file = core::join_path(core::parent_path(compose_file), ".env");
  if (!is_regular_file(env_file)) return env;
  try {
    nb::object cfg = load_config(fs_text(env_file));
    for (nb::handle key : cfg.attr("keys")()) {
      nb::object value = cfg.attr("get")(key);
      if (nb::isinstance<nb::str>(key) && nb::isinstance<nb::str>(value))
        env.emplace(utf8(key), utf8(value));  // a variable already set wins
    }
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    note_unreadable(message(e));
  }
  return env;
}

std::optional<core::Found> read_as(const std::string& path, core::Reader reader,
                                  const core::Environment& env) {
  std::optional<core::Node> doc = read_document(path, reader);
  std::optional<core::Found> found;
  if (doc && reader == core::Reader::compose)
    found = core::recognise(reader, *doc, compose_environment(path, env));
  else if (doc)
    found = core::recognise(reader, *doc, env);
  // A settings module that gave nothing (an import it cannot make, values
  // it expects from the environment): its project's .env says the same.
  if (!found && reader == core::Reader::django) {
    nb::object env_file = project_env_file(fs_text(path));
    if (!env_file.is_none()) {
      std::string env_path = fs_bytes(env_file);
      found = read_as(env_path, core::Reader::dotenv, env);
      if (found) found->path = env_path;
    }
  }
  if (found && found->path.empty()) found->path = path;
  if (found && doc && found->path == path) {
    core::locate_sources(*doc, *found);
    add_key_lines(*found);
  }
  return found;
}

std::optional<core::Found> look_at_named_file(nb::handle config_file, const core::Environment& env) {
  std::string path = fs_bytes(nb::module_::import_("os").attr("path").attr("abspath")(config_file));
  if (!is_regular_file(path)) return std::nullopt;
  for (core::Reader reader : core::readers_for(path))
    if (auto found = read_as(path, reader, env)) return found;
  return std::nullopt;
}

std::optional<core::Found> look_at_project(long long up, long long down,
                                           const core::Environment& env) {
  nb::module_ os = nb::module_::import_("os");
  std::string start = fs_bytes(os.attr("path").attr("realpath")(os.attr("getcwd")()));
  return with_cache([&](core::ListingCache& cache) -> std::optional<core::Found> {
    for (const std::string& dir : core::project_directories(cache, start, up, down)) {
      core::ListingCache::Directory& d = cache.directory(dir);
      for (const core::ProjectFile& file : core::project_files) {
        core::FileKind kind;
        if (cache.stat_in(d, dir, std::string(file.path), false, kind) != 0 ||
            kind != core::FileKind::regular)
          continue;
        std::string path = core::join_path(dir, std::string(file.path));
        if (auto found = read_as(path, file.reader, env)) return found;
      }
    }
    return std::nullopt;
  });
}

long long depth(nb::handle args, const char* name, long long fallback) {
  nb::object v = arg(args, name);
  return PyLong_Check(v.ptr()) ? nb::cast<long long>(v) : fallback;
}

std::optional<core::Found> second_look(nb::handle args, const core::Environment& env) {
  nb::object config_file = arg(args, "CONFIG_FILE");
  if (truthy(config_file)) return look_at_named_file(config_file, env);
  return look_at_project(depth(args, "up_level", 0), depth(args, "down_level", 1), env);
}

// --- the environment ------------------------------------------------------------

std::optional<core::Found> environment_look(const core::Environment& env) {
  std::optional<std::string> service_text;
  if (auto path = core::service_file_path(env)) service_text = read_text_file(*path);
  return core::environment_stage(env, service_text);
}

// A settings dictionary with what a later look found: the database left
// out when only a default rule named it, the values the operator typed
// left to the options (see core::without_typed).
nb::object keep_found(const core::Found& found, const GivenOptions& given) {
  core::Options typed;
  typed.typed = {given.host, given.port, given.user, given.password, given.database};
  core::Values values = core::without_typed(core::values_of(found), typed);
  core::Endpoint e;
  for (std::size_t i = 0; i < core::kSettingCount; ++i)
    core::setting(e, static_cast<core::Setting>(i)) = values.at[i].text;
  nb::object settings = keep(settings_dict(e));
  note_origin(settings, values, false);
  return settings;
}

}  // namespace

nb::object discover_for_command(nb::handle args, const GivenOptions& given) {
  nb::object settings = routine("parse_django_settings")(
      arg(args, "CONFIG_FILE"), "max_depth_up"_a = arg(args, "up_level"),
      "max_depth_down"_a = arg(args, "down_level"));
  if (names_database(settings)) {
    if (is_settings_dict(settings) && nb::borrow<nb::dict>(settings).contains("original_url")) {
      // Decoded, the values are still those of the URL they came from.
      std::optional<core::Values> from_url = settings_values(settings);
      nb::object kept = keep(decoded_url_settings(settings));
      std::optional<core::Values> values = settings_values(kept);
      if (values && from_url) {
        const core::Source& url = (*from_url)[core::Setting::host].source;
        for (core::Value& v : values->at)
          if (v.text) v.source = url;
        note_origin(kept, *values, true);
      }
      return kept;
    }
    return settings;
  }

  core::Environment env = environment_snapshot();
  if (auto found = second_look(args, env)) {
    nb::str path = fs_text(found->path);
    log("info", "second look: " + found->framework + " settings in " + text(path));
    announce_settings_file(text(path));
    return keep_found(*found, given);
  }
  if (auto found = environment_look(env)) {
    log("info", "settings from the environment: " + found->framework);
    print("📄 Found settings in the environment: " + core::visible_text(found->framework),
          palette::info);
    return keep_found(*found, given);
  }
  return settings;
}

void require_readable_settings(nb::handle args, nb::handle settings) {
  std::optional<std::string> reason = first_unreadable();
  if (!reason || (!truthy(arg(args, "CONFIG_FILE")) && names_database(settings))) return;
  nb::object kind = nb::module_::import_("talvo.envloader").attr("ConfigFileError");
  PyErr_SetString(kind.ptr(), reason->c_str());
  throw nb::python_error();
}

void print_nothing_found_hint(nb::handle args) {
  if (auto reason = first_unreadable()) print("⚠️ Could not read settings: " + *reason, palette::warning);
  nb::module_ os = nb::module_::import_("os");
  nb::object config_file = arg(args, "CONFIG_FILE");
  std::string start = visible(os.attr("path").attr("realpath")(os.attr("getcwd")()));
  std::string named = truthy(config_file) ? visible(config_file) : std::string();
  print(core::nothing_found_hint(start, depth(args, "up_level", 0), depth(args, "down_level", 1),
                                 named),
        palette::warning);
}

}  // namespace talvo::settings
