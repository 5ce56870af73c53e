#include "settings/target.hpp"

#include <optional>
#include <span>
#include <string>

#include "core/aliases.hpp"
#include "core/environment_stage.hpp"
#include "core/precedence.hpp"
#include "output/palette.hpp"
#include "settings/environment.hpp"
#include "settings/scope.hpp"

namespace talvo::settings {

namespace {

constexpr const char* kConfigNames[] = {".env", ".json", ".yaml"};

nb::object getenv(std::string_view name) {
  return nb::module_::import_("os").attr("getenv")(nb::str(name.data(), name.size()));
}

core::Held held_of(const Target& t) {
  return {truthy(t.host), truthy(t.port), truthy(t.user), truthy(t.password), truthy(t.database)};
}

// A port is an integer or None, never a text; a decimal text is its number.
nb::object as_port(nb::handle value) {
  if (value.is_none()) return nb::none();
  if (nb::isinstance<nb::str>(value) && !truthy(value)) return nb::none();
  if (PyLong_Check(value.ptr())) return nb::borrow(value);
  return nb::module_::import_("builtins").attr("int")(value);
}

Target from_settings(nb::handle settings) {
  nb::object get = settings.attr("get");
  return {get("host"), get("port"), get("username"), get("password"), get("database")};
}

nb::object find_config_file(nb::handle max_depth_up, nb::handle max_depth_down) {
  nb::object find = routine("find_settings_recursive");
  nb::object path = nb::none();
  for (const char* name : kConfigNames) {
    path = find("filename"_a = name, "max_depth_up"_a = max_depth_up,
                "max_depth_down"_a = max_depth_down);
    if (truthy(path)) break;
  }
  return path;
}

nb::object first_held(nb::handle cfg, core::KeyList keys) {
  nb::object value;
  core::pick_spelling(keys, [&](std::string_view key) {
    value = cfg.attr("get")(nb::str(key.data(), key.size()));
    return truthy(value);
  });
  return value;
}

// The values of a .env, .json or .yaml file that names PostgreSQL, if the
// lookup finds one. Every engine key naming PostgreSQL announces the file.
std::optional<Target> from_config_file(nb::handle max_depth_up, nb::handle max_depth_down) {
  nb::object path = find_config_file(max_depth_up, max_depth_down);
  if (!truthy(path) || !truthy(nb::module_::import_("os.path").attr("isfile")(path)))
    return std::nullopt;
  nb::object cfg = load_config(path);
  std::optional<Target> values;
  for (std::string_view key : core::kFileEngineKeys) {
    nb::object engine = cfg.attr("get")(nb::str(key.data(), key.size()));
    if (!nb::isinstance<nb::str>(engine) ||
        !core::file_engine_names_postgres(utf8(engine)))
      continue;
    print("📄 Found config at: " + visible(path), palette::info);
    values = Target{first_held(cfg, core::kFileHostKeys), first_held(cfg, core::kFilePortKeys),
                    first_held(cfg, core::kFileUserKeys), first_held(cfg, core::kFilePasswordKeys),
                    first_held(cfg, core::kFileDatabaseKeys)};
  }
  return values;
}

core::EnvironmentHeld environment_held() {
  core::EnvironmentHeld env;
  env.host = truthy(getenv("HOST"));
  env.port = truthy(getenv("PORT"));
  env.user = truthy(deliberate_user());
  env.password = truthy(getenv("PASSWORD"));
  for (std::size_t i = 0; i < core::kDatabaseVariables.size(); ++i)
    env.database[i] = truthy(getenv(core::kDatabaseVariables[i]));
  return env;
}

nb::object chosen(const core::Pick& pick, nb::handle argument, nb::handle setting,
                  nb::handle file) {
  switch (pick.from) {
    case core::From::argument: return nb::borrow(argument);
    case core::From::settings: return nb::borrow(setting);
    case core::From::file: return nb::borrow(file);
    case core::From::environment:
      return pick.variable == "USER" ? deliberate_user() : getenv(pick.variable);
    case core::From::nothing: break;
  }
  return nb::none();
}

std::string text_or(nb::handle value, const std::string& fallback) {
  return truthy(value) ? text(value) : fallback;
}

// The password file's entry for where the connection goes, as libpq finds
// it; a file that others may read is ignored, as libpq ignores it.
nb::object password_from_file(const Target& t) {
  core::Environment env = environment_snapshot();
  std::optional<std::string> path = core::password_file_path(env);
  if (!path) return nb::none();
  try {
    nb::object st = nb::module_::import_("os").attr("stat")(*path);
    auto mode = nb::cast<unsigned>(st.attr("st_mode"));
    if ((mode & 0170000u) != 0100000u) return nb::none();
    if (!core::password_file_mode_ok(mode)) {
      log("warning", "password file " + *path + " is readable by others; ignored");
      return nb::none();
    }
  } catch (nb::python_error& e) {
    if (!e.matches(PyExc_OSError)) throw;
    return nb::none();
  }
  std::optional<std::string> content = read_text_file(*path);
  if (!content) return nb::none();
  std::string host = text_or(t.host, "localhost");
  if (host.front() == '/') host = "localhost";
  std::string user = text_or(t.user, "");
  auto found = core::password_file_lookup(*content, host, text_or(t.port, "5432"),
                                          text_or(t.database, user), user);
  return found ? nb::object(nb::str(found->data(), found->size())) : nb::none();
}

}  // namespace

Target resolve_target(Target arguments, bool auto_settings, nb::handle settings_path,
                      nb::handle max_depth_up, nb::handle max_depth_down) {
  std::optional<Target> settings, file;
  if (auto_settings) {
    nb::object found = routine("parse_django_settings")(
        settings_path, "max_depth_up"_a = max_depth_up, "max_depth_down"_a = max_depth_down);
    if (truthy(found)) settings = from_settings(found);
  } else {
    // Without any of these files the arguments alone decide: a project
    // configured through settings.py, or -H/-U/-P/--port, still connects.
    file = from_config_file(max_depth_up, max_depth_down);
  }

  core::TargetPicks picks = core::pick_target(
      held_of(arguments), settings ? std::optional(held_of(*settings)) : std::nullopt,
      file ? std::optional(held_of(*file)) : std::nullopt, environment_held());
  Target none{nb::none(), nb::none(), nb::none(), nb::none(), nb::none()};
  const Target& s = settings ? *settings : none;
  const Target& f = file ? *file : none;
  Target t{chosen(picks.host, arguments.host, s.host, f.host),
           as_port(chosen(picks.port, arguments.port, s.port, f.port)),
           chosen(picks.user, arguments.user, s.user, f.user),
           chosen(picks.password, arguments.password, s.password, f.password),
           chosen(picks.database, arguments.database, s.database, f.database)};
  if (!truthy(t.password)) {
    nb::object from_file = password_from_file(t);
    if (!from_file.is_none()) t.password = from_file;
  }
  return t;
}

}  // namespace talvo::settings
