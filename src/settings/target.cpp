#include "settings/target.hpp"

#include <string>
#include <string_view>

#include "core/aliases.hpp"
#include "core/connection_url.hpp"
#include "core/origins.hpp"
#include "core/terminal.hpp"
#include "output/palette.hpp"
#include "settings/environment.hpp"
#include "settings/scope.hpp"

namespace talvo::settings {

namespace {

using core::Setting;
using Kind = core::Source::Kind;

nb::str decoded(const std::string& bytes) {
  return nb::steal<nb::str>(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                                 "surrogateescape"));
}

// --- the settings dictionary's origin ----------------------------------------------

// The dictionary is told by its identity: a caller that replaces or copies
// it has settings of unknown origin. The reference keeps the identity from
// being reused; it is dropped with the next note.
struct Origin {
  PyObject* settings = nullptr;
  core::Values values;
  bool first_look = true;
};
Origin noted;

// The settings dictionary's keys, in the order of its entries, for each value.
constexpr std::pair<const char*, Setting> kEntries[] = {
    {"host", Setting::host},           {"port", Setting::port},
    {"username", Setting::user},       {"password", Setting::password},
    {"database", Setting::database},   {"sslmode", Setting::sslmode},
    {"sslrootcert", Setting::sslrootcert}, {"sslcert", Setting::sslcert},
    {"sslkey", Setting::sslkey},
};

nb::object entry(nb::handle settings, const char* key) { return settings.attr("get")(key); }

// TLS settings that a URL's query carries (a connection URL's dictionary).
void add_query_tls(core::Values& v, nb::handle settings, const core::Source& source) {
  nb::object query = entry(settings, "query_params");
  if (!truthy(query)) return;
  core::Endpoint from_query;
  core::apply_query(from_query, text(query));
  for (Setting s : {Setting::sslmode, Setting::sslrootcert, Setting::sslcert, Setting::sslkey})
    if (!v.held(s) && core::setting(from_query, s)) v[s] = {core::setting(from_query, s), source};
}

// --- the connect's own settings file -------------------------------------------------

nb::object find_connection_file(nb::handle up, nb::handle down) {
  nb::object find = routine("find_settings_recursive");
  for (const char* name : {".env", ".json", ".yaml"}) {
    nb::object path =
        find("filename"_a = name, "max_depth_up"_a = up, "max_depth_down"_a = down);
    if (truthy(path)) return path;
  }
  return nb::none();
}

core::Value first_held(nb::handle cfg, core::KeyList keys, const std::string& path) {
  core::Value v;
  core::pick_spelling(keys, [&](std::string_view key) {
    v = value_of(cfg.attr("get")(nb::str(key.data(), key.size())),
                 {Kind::file, path, std::string(key), 0});
    return v.held();
  });
  return v;
}

// --- inputs of the command ------------------------------------------------------------

template <class Sources>
void add_lines(Sources&& each_source) {
  std::string path;
  std::optional<std::string> text;
  each_source([&](core::Source& s) {
    if (s.kind != Kind::file || s.key.empty() || s.line != 0) return;
    if (s.where != path) {
      path = s.where;
      text = read_text_file(path);
    }
    if (text) s.line = core::key_line(*text, s.key);
  });
}

core::Source option_source(bool typed, const char* option) {
  return typed ? core::Source{Kind::option, option, {}, 0}
               : core::Source{Kind::default_value, std::string(option) + "'s default", {}, 0};
}

}  // namespace

core::Value value_of(nb::handle v, core::Source source) {
  core::Value out;
  if (v.is_none()) return out;
  out.source = std::move(source);
  if (!truthy(v)) {
    out.text = "";
    return out;
  }
  out.number = PyLong_Check(v.ptr()) && !PyBool_Check(v.ptr());
  out.text = nb::isinstance<nb::str>(v) ? utf8(v) : text(v);
  return out;
}

nb::object as_text(const core::Value& v) {
  if (!v.text) return nb::none();
  if (v.number) return nb::module_::import_("builtins").attr("int")(decoded(*v.text));
  return decoded(*v.text);
}

nb::object as_port(const core::Value& v) {
  if (!v.held()) return nb::none();
  return nb::module_::import_("builtins").attr("int")(decoded(*v.text));
}

core::Values argument_values(nb::handle host, nb::handle port, nb::handle user,
                             nb::handle password, nb::handle database, const char* routine) {
  core::Source given{Kind::option, std::string(routine) + "'s arguments", {}, 0};
  core::Values v;
  v[Setting::host] = value_of(host, given);
  v[Setting::port] = value_of(port, given);
  v[Setting::user] = value_of(user, given);
  v[Setting::password] = value_of(password, given);
  v[Setting::database] = value_of(database, given);
  return v;
}

void add_key_lines(core::Values& values) {
  add_lines([&](auto&& visit) {
    for (core::Value& v : values.at) visit(v.source);
  });
}

void add_key_lines(core::Found& found) {
  add_lines([&](auto&& visit) {
    for (core::Source& s : found.sources) visit(s);
  });
}

void note_origin(nb::handle settings, const core::Values& values, bool first_look) {
  Py_XDECREF(noted.settings);
  noted.settings = settings.ptr();
  Py_XINCREF(noted.settings);
  noted.values = values;
  noted.first_look = first_look;
}

std::optional<core::Values> settings_values(nb::handle settings) {
  if (settings.is_none() || !truthy(settings)) return std::nullopt;
  const bool known = settings.ptr() == noted.settings;
  core::Source unknown{Kind::file, "the discovered settings", {}, 0};
  core::Values v;
  for (auto [key, s] : kEntries) {
    v[s] = value_of(entry(settings, key), unknown);
    // The entry as it was noted; a caller may have changed it since.
    if (known && noted.values[s].text == v[s].text && v[s].text) v[s].source = noted.values[s].source;
  }
  add_query_tls(v, settings, known ? noted.values[Setting::host].source : unknown);
  return v;
}

core::Options options_of(nb::handle args, const GivenOptions& given) {
  core::Options o;
  auto set = [&](Setting s, nb::handle value, bool typed, const char* option) {
    o.values[s] = value_of(value, option_source(typed, option));
    o.typed[static_cast<std::size_t>(s)] = typed;
  };
  // These four every connecting command has: a record without them is a
  // caller's mistake, and the error says which.
  set(Setting::host, args.attr("hostname"), given.host, "-H/--hostname");
  set(Setting::port, args.attr("port"), given.port, "--port");
  set(Setting::user, args.attr("user"), given.user, "-U/--user");
  set(Setting::password, args.attr("passwd"), given.password, "-P/--passwd");
  set(Setting::database, arg(args, "database"), given.database, "-d/--database");
  // A name on the record that nobody typed came from the discovery or an
  // earlier step of the command: it is no default.
  if (o.values.held(Setting::database) && !given.database)
    o.values[Setting::database].source = {Kind::option, "-d/--database", {}, 0};
  return o;
}

std::optional<core::Values> connection_file_values(nb::handle up, nb::handle down, bool announce) {
  nb::object path = find_connection_file(up, down);
  if (!truthy(path) || !truthy(nb::module_::import_("os.path").attr("isfile")(path)))
    return std::nullopt;
  nb::object cfg = load_config(path);
  const std::string where = text(path);
  std::optional<core::Values> values;
  for (std::string_view key : core::kConnectionFileEngineKeys) {
    nb::object engine = cfg.attr("get")(nb::str(key.data(), key.size()));
    if (!nb::isinstance<nb::str>(engine) ||
        !core::engine_names_postgres(utf8(engine), core::EngineRule::connection_file))
      continue;
    if (announce) print("📄 Found config at: " + core::visible_text(where), palette::info);
    core::Values v;
    v[Setting::host] = first_held(cfg, core::kConnectionFileHostKeys, where);
    v[Setting::port] = first_held(cfg, core::kConnectionFilePortKeys, where);
    v[Setting::user] = first_held(cfg, core::kConnectionFileUserKeys, where);
    v[Setting::password] = first_held(cfg, core::kConnectionFilePasswordKeys, where);
    v[Setting::database] = first_held(cfg, core::kConnectionFileDatabaseKeys, where);
    values = v;
  }
  if (values) add_key_lines(*values);
  return values;
}

std::optional<core::PasswordFile> password_file() {
  std::optional<std::string> path = core::password_file_path(environment_snapshot());
  if (!path) return std::nullopt;
  try {
    nb::object st = nb::module_::import_("os").attr("stat")(decoded(*path));
    auto mode = nb::cast<unsigned>(st.attr("st_mode"));
    if ((mode & 0170000u) != 0100000u) return std::nullopt;
    if (!core::password_file_mode_ok(mode)) {
      log("warning", "password file " + *path + " is readable by others; ignored");
      return std::nullopt;
    }
  } catch (nb::python_error& e) {
    if (!e.matches(PyExc_OSError)) throw;
    return std::nullopt;
  }
  std::optional<std::string> content = read_text_file(*path);
  if (!content) return std::nullopt;
  return core::PasswordFile{*path, *content};
}

core::Target command_target(nb::handle args, core::Purpose purpose) {
  core::Gathered g;
  g.options = options_of(args, given_options());
  nb::object up = arg(args, "up_level"), down = arg(args, "down_level");
  // The superuser's session searches nothing: it works with what the
  // command's discovery left, as create and drop always have.
  nb::object settings =
      purpose == core::Purpose::superuser
          ? self().attr("_settings_cache")
          : routine("parse_django_settings")(arg(args, "CONFIG_FILE"), "max_depth_up"_a = up,
                                             "max_depth_down"_a = down);
  g.settings = settings_values(settings);
  g.settings_from_first_look = settings.ptr() != noted.settings || noted.first_look;
  if (purpose != core::Purpose::superuser) g.connection_file = connection_file_values(up, down, false);
  g.env = environment_snapshot();
  g.login_name = login_name();
  g.password_file = password_file();
  g.purpose = purpose;
  return core::resolve_target(g);
}

core::Values with_command_tls(core::Values values) {
  core::ConnectInputs in;
  in.arguments = values;
  in.settings = settings_values(self().attr("_settings_cache"));
  core::Environment env = environment_snapshot();
  in.env = &env;
  // Only the TLS settings are taken: the five values stay as given.
  core::Values tls = core::connect_values(in);
  for (Setting s : {Setting::sslmode, Setting::sslrootcert, Setting::sslcert, Setting::sslkey})
    if (!values.held(s)) values[s] = tls[s];
  return values;
}

nb::dict connect_keywords(const core::Values& v) {
  nb::dict kwargs;
  kwargs["database"] = as_text(v[Setting::database]);
  kwargs["user"] = as_text(v[Setting::user]);
  kwargs["password"] = as_text(v[Setting::password]);
  kwargs["host"] = as_text(v[Setting::host]);
  kwargs["port"] = as_port(v[Setting::port]);
  if (v.held(Setting::sslmode)) kwargs["ssl"] = as_text(v[Setting::sslmode]);
  std::string query;
  nb::object quote = nb::module_::import_("urllib.parse").attr("quote");
  for (Setting s : {Setting::sslrootcert, Setting::sslcert, Setting::sslkey}) {
    if (!v.held(s)) continue;
    query += (query.empty() ? "?" : "&") + std::string(core::setting_name(s)) + "=" +
             text(quote(as_text(v[s]), "safe"_a = "/"));
  }
  // The driver takes certificate files only by way of a DSN.
  if (!query.empty()) kwargs["dsn"] = "postgresql://" + query;
  return kwargs;
}

}  // namespace talvo::settings
