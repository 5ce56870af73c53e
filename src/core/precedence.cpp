#include "core/precedence.hpp"

#include <initializer_list>
#include <utility>

namespace talvo::core {

namespace {

Pick environment(std::string_view variable) { return {From::environment, variable}; }

// The first candidate holding a value, else the last one as it is.
Pick first_held(std::initializer_list<std::pair<bool, Pick>> candidates) {
  Pick last;
  for (const auto& [held, pick] : candidates) {
    if (held) return pick;
    last = pick;
  }
  return last;
}

Pick database_variable(const EnvironmentHeld& env) {
  for (std::size_t i = 0; i < kDatabaseVariables.size(); ++i)
    if (env.database[i]) return environment(kDatabaseVariables[i]);
  return environment(kDatabaseVariables.back());
}

void apply_settings(TargetPicks& t, const Held& a, const Held& s, const EnvironmentHeld& env) {
  constexpr Pick settings{From::settings, {}}, argument{From::argument, {}};
  t.host = first_held({{s.host, settings}, {a.host, argument}, {env.host, environment("HOST")}});
  t.port = first_held({{s.port, settings}, {a.port, argument}, {env.port, environment("PORT")}});
  // An ambient USER is no candidate at all: without a value anywhere the
  // user is None rather than the login name.
  t.user = first_held({{s.user, settings},
                       {a.user, argument},
                       {env.user, env.user ? environment("USER") : Pick{}}});
  t.password = first_held(
      {{s.password, settings}, {a.password, argument}, {env.password, environment("PASSWORD")}});
  t.database = s.database ? settings : a.database ? argument : database_variable(env);
}

void apply_file(TargetPicks& t, const Held& f) {
  constexpr Pick file{From::file, {}};
  if (f.host) t.host = file;
  if (f.port) t.port = file;
  if (f.user) t.user = file;
  if (f.password) t.password = file;
  if (f.database) t.database = file;
}

void apply_environment(TargetPicks& t, const EnvironmentHeld& env) {
  if (env.host) t.host = environment("HOST");
  if (env.port) t.port = environment("PORT");
  if (env.user) t.user = environment("USER");
  if (env.password) t.password = environment("PASSWORD");
  for (std::size_t i = 0; i < kDatabaseVariables.size(); ++i) {
    if (env.database[i]) {
      t.database = environment(kDatabaseVariables[i]);
      break;
    }
  }
}

}  // namespace

bool file_engine_names_postgres(std::string_view value) {
  for (std::string_view engine : kFileEngines)
    if (value == engine) return true;
  return false;
}

bool user_is_deliberate(std::optional<std::string_view> user,
                        std::optional<std::string_view> login_name) {
  if (!user || user->empty()) return false;
  return !login_name || *user != *login_name;
}

DbConfigPicks pick_db_config(const std::optional<Held>& settings, const Held& options) {
  if (!settings) return {From::argument, From::argument, From::argument, From::argument};
  auto settings_first = [](bool held) { return held ? From::settings : From::argument; };
  return {settings_first(settings->host), settings_first(settings->port),
          settings_first(settings->user),
          options.password ? From::argument : From::settings};
}

TargetPicks pick_target(const Held& arguments, const std::optional<Held>& settings,
                        const std::optional<Held>& file, const EnvironmentHeld& env) {
  constexpr Pick argument{From::argument, {}};
  TargetPicks t{argument, argument, argument, argument, argument};
  if (settings) apply_settings(t, arguments, *settings, env);
  if (file) apply_file(t, *file);
  apply_environment(t, env);
  return t;
}

}  // namespace talvo::core
