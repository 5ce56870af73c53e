#include "core/target.hpp"

#include <initializer_list>
#include <iterator>
#include <utility>

namespace talvo::core {

namespace {

constexpr Setting kConnection[] = {Setting::host, Setting::port, Setting::user, Setting::password,
                                 Setting::database};
constexpr Setting kTls[] = {Setting::sslmode, Setting::sslrootcert, Setting::sslcert, Setting::sslkey};

// The variable get_connection reads for each connection value.
constexpr std::string_view kVariables[] = {"HOST", "PORT", "USER", "PASSWORD"};

Value from_variable(const Environment& env, std::string_view name) {
  Value v;
  if (auto text = lookup(env, name)) v.text = std::string(*text);
  v.source = {Source::Kind::environment, std::string(name), {}, 0};
  return v;
}

// The value a variable gives when it holds one (USER only when set on
// purpose), nullopt otherwise.
std::optional<Value> held_variable(const ConnectInputs& in, Setting f) {
  const Environment& env = *in.env;
  if (f == Setting::database) {
    for (std::string_view name : kDatabaseVariables)
      if (Value v = from_variable(env, name); v.held()) return v;
    return std::nullopt;
  }
  Value v = from_variable(env, kVariables[static_cast<std::size_t>(f)]);
  if (!v.held()) return std::nullopt;
  if (f == Setting::user && !user_is_deliberate(v.text, in.login_name)) return std::nullopt;
  return v;
}

// The first candidate holding a value, else the last one as it is.
Value first_held(std::initializer_list<Value> candidates) {
  Value last;
  for (const Value& v : candidates) {
    if (v.held()) return v;
    last = v;
  }
  return last;
}

// get_connection with auto_settings: the settings, then the arguments, then
// the environment; an ambient USER is no candidate at all, so without a
// value anywhere the user is None rather than the login name.
void settings_in_front(Values& v, const Values& s, const ConnectInputs& in) {
  for (Setting f : {Setting::host, Setting::port, Setting::user, Setting::password})
    v[f] = first_held({s[f], v[f], held_variable(in, f).value_or(Value{})});
  if (s.held(Setting::database))
    v[Setting::database] = s[Setting::database];
  else if (!v.held(Setting::database))
    v[Setting::database] = held_variable(in, Setting::database).value_or(Value{});
}

void apply_tls(Values& v, const std::optional<Values>& settings, const Environment& env) {
  constexpr std::string_view names[] = {"PGSSLMODE", "PGSSLROOTCERT", "PGSSLCERT", "PGSSLKEY"};
  for (std::size_t i = 0; i < std::size(kTls); ++i) {
    Setting f = kTls[i];
    if (settings && settings->held(f))
      v[f] = (*settings)[f];
    else if (Value from_env = from_variable(env, names[i]); from_env.held())
      v[f] = from_env;
  }
}

// As libpq looks it up: the host (a socket directory counts as localhost),
// the port, the database (else the user) and the user.
void apply_password_file(Values& v, const PasswordFile& file) {
  auto or_else = [](const Value& value, std::string fallback) {
    return value.held() ? *value.text : fallback;
  };
  std::string host = or_else(v[Setting::host], "localhost");
  if (host.front() == '/') host = "localhost";
  std::string user = or_else(v[Setting::user], "");
  auto found = password_file_lookup(file.text, host, or_else(v[Setting::port], "5432"),
                                    or_else(v[Setting::database], user), user);
  if (found) v[Setting::password] = {*found, {Source::Kind::password_file, file.path, {}, 0}};
}

Value maintenance_database() {
  return {"postgres", {Source::Kind::default_value, "the maintenance database", {}, 0}};
}

}  // namespace

Values stated(const Endpoint& e, const Source& source) {
  Values v;
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    Setting f = static_cast<Setting>(i);
    if (setting(e, f)) v[f] = {setting(e, f), source};
  }
  return v;
}

Values values_of(const Found& found) {
  Source whole = found.path.empty() ? Source{Source::Kind::environment, found.framework, {}, 0}
                                    : Source{Source::Kind::file, found.path, {}, 0};
  Values v = stated(found.endpoint, whole);
  for (std::size_t i = 0; i < kSettingCount; ++i)
    if (found.sources[i].kind != Source::Kind::none && v.at[i].text) v.at[i].source = found.sources[i];
  if (found.database_inferred) v[Setting::database] = {};
  return v;
}

bool user_is_deliberate(std::optional<std::string_view> user,
                        std::optional<std::string_view> login_name) {
  if (!user || user->empty()) return false;
  return !login_name || *user != *login_name;
}

Values without_typed(Values found, const Options& options) {
  for (Setting f : kConnection)
    if (options.typed[static_cast<std::size_t>(f)]) found[f] = {};
  return found;
}

Options with_discovered(Options options, const std::optional<Values>& settings) {
  if (!settings) return options;
  for (Setting f : {Setting::database, Setting::host, Setting::port})
    if (settings->held(f)) options.values[f] = (*settings)[f];
  return options;
}

Values db_config(const std::optional<Values>& settings, const Options& options) {
  const Values& o = options.values;
  Values v;
  for (Setting f : {Setting::host, Setting::port, Setting::user}) v[f] = o[f];
  v[Setting::password] = o[Setting::password];
  if (!settings) return v;
  for (Setting f : {Setting::host, Setting::port, Setting::user})
    if (settings->held(f)) v[f] = (*settings)[f];
  if (!o.held(Setting::password)) v[Setting::password] = (*settings)[Setting::password];
  return v;
}

Values connect_values(const ConnectInputs& in) {
  Values v;
  for (Setting f : kConnection) v[f] = in.arguments[f];
  if (in.settings_first && in.settings) {
    settings_in_front(v, *in.settings, in);
  } else if (in.connection_file) {
    for (Setting f : kConnection)
      if (in.connection_file->held(f)) v[f] = (*in.connection_file)[f];
  }
  for (Setting f : kConnection)
    if (auto from_env = held_variable(in, f)) v[f] = *from_env;
  apply_tls(v, in.settings, *in.env);
  if (!v.held(Setting::password) && in.password_file) apply_password_file(v, *in.password_file);
  return v;
}

Target resolve_target(const Gathered& g) {
  std::optional<Values> settings = g.settings;
  if (settings && !g.settings_from_first_look) settings = without_typed(*settings, g.options);

  Options record = with_discovered(g.options, settings);
  Target t;
  t.database_found = record.values.held(Setting::database);

  Values arguments = db_config(settings, record);
  if (g.purpose == Purpose::superuser) {
    // The superuser logs in with the options (and the password settled for
    // it) at the host and port on the record; nothing else overrides them.
    t.values = record.values;
    t.values[Setting::database] = maintenance_database();
    // Without -P: the discovered password, then $PASSWORD, as the password
    // is settled before a superuser command runs.
    if (!t.values.held(Setting::password) && settings && settings->held(Setting::password))
      t.values[Setting::password] = (*settings)[Setting::password];
    if (!t.values.held(Setting::password)) {
      if (Value v = from_variable(g.env, "PASSWORD"); v.held()) t.values[Setting::password] = v;
    }
    apply_tls(t.values, settings, g.env);
    if (!t.values.held(Setting::password) && g.password_file)
      apply_password_file(t.values, *g.password_file);
    return t;
  }
  arguments[Setting::database] =
      g.purpose == Purpose::database ? record.values[Setting::database] : maintenance_database();
  ConnectInputs in{arguments, settings, false, g.connection_file, &g.env, g.login_name,
                   g.password_file};
  t.values = connect_values(in);
  return t;
}

}  // namespace talvo::core
