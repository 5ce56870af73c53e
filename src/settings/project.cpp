#include "settings/project.hpp"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/connection_url.hpp"
#include "core/document.hpp"
#include "core/env_layers.hpp"
#include "core/project_files.hpp"
#include "output/palette.hpp"
#include "settings/environment.hpp"
#include "settings/paths.hpp"
#include "settings/project_reading.hpp"
#include "settings/scope.hpp"
#include "settings/target.hpp"

namespace talvo::settings {

namespace {

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

// The plan of the last look at the project, for the hint when it found
// nothing.
std::optional<core::ProjectPlan>& last_plan() {
  static std::optional<core::ProjectPlan> plan;
  return plan;
}

std::string resolved(nb::handle path) {
  return fs_bytes(nb::module_::import_("os").attr("path").attr("realpath")(path));
}

long long depth(nb::handle args, const char* name, long long fallback) {
  nb::object v = arg(args, name);
  return PyLong_Check(v.ptr()) ? nb::cast<long long>(v) : fallback;
}

void log_candidates(const std::vector<core::Candidate>& candidates) {
  for (const core::Candidate& c : candidates)
    log("debug", "candidate: " + c.found.framework + " in " + text(fs_text(c.found.path)) +
                     " (strength " + std::to_string(c.strength) + ", directory " + std::to_string(c.distance) +
                     ", mode " + std::to_string(c.mode_rank) + ")");
}

std::optional<core::Found> best_of(std::vector<core::Candidate> candidates) {
  log_candidates(candidates);
  auto best = core::best_candidate(candidates);
  if (!best) return std::nullopt;
  add_key_lines(best->found);
  return best->found;
}

std::optional<core::Found> look_at_named_file(nb::handle config_file, const core::Environment& env) {
  std::string path = fs_bytes(nb::module_::import_("os").attr("path").attr("abspath")(config_file));
  return with_cache([&](core::ListingCache& cache) -> std::optional<core::Found> {
    core::FileKind kind;
    std::string dir = core::parent_path(path);
    core::ListingCache::Directory& d = cache.directory(dir);
    if (cache.stat_in(d, dir, path.substr(path.rfind('/') + 1), false, kind) != 0 ||
        kind != core::FileKind::regular)
      return std::nullopt;
    ProjectReader reader(cache, env, {{dir, false, false}});
    for (core::Reader r : core::readers_for(path))
      if (auto found = best_of(reader.read_named(path, r))) return found;
    return std::nullopt;
  });
}

std::optional<core::Found> look_at_project(nb::handle args, const GivenOptions& given,
                                           const core::Environment& env) {
  nb::module_ os = nb::module_::import_("os");
  std::string start = resolved(os.attr("getcwd")());
  std::string home;
  if (auto h = core::lookup(env, "HOME"); h && !h->empty()) home = resolved(nb::str(h->data(), h->size()));
  std::optional<long long> up_limit;
  if (given.up_level) up_limit = depth(args, "up_level", 0);
  long long down = depth(args, "down_level", 1);
  return with_cache([&](core::ListingCache& cache) -> std::optional<core::Found> {
    core::ProjectPlan plan = core::project_plan(cache, start, home, down, up_limit, core::env_mode(env));
    last_plan() = plan;
    ProjectReader reader(cache, env, plan.directories);
    std::vector<core::Candidate> candidates;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < plan.directories.size(); ++i) {
      // A URL or a complete set ranks before anything farther away.
      auto best = core::best_candidate(candidates);
      if (best && best->strength == 0) break;
      const core::PlannedDirectory& planned = plan.directories[i];
      const std::string& dir = planned.path;
      for (const core::DocumentRef& doc :
           core::directory_documents(cache, dir, reader.mode(), planned.below)) {
        if (!seen.insert(doc.path).second) continue;
        for (core::Candidate& c : reader.read(doc, dir)) {
          c.distance = i;
          c.file_order = doc.order;
          candidates.push_back(std::move(c));
        }
      }
    }
    return best_of(std::move(candidates));
  });
}

std::optional<core::Found> second_look(nb::handle args, const GivenOptions& given,
                                       const core::Environment& env) {
  nb::object config_file = arg(args, "CONFIG_FILE");
  if (truthy(config_file)) return look_at_named_file(config_file, env);
  return look_at_project(args, given, env);
}

// A .env read by the plain discovery, with the files frameworks layer over
// it beside it (.env.local, .env.<mode>, ...): their values override the
// .env's key by key. Nothing when no such file is there, or when they change
// nothing the plain discovery used.
std::optional<core::Found> layered_over_described(const core::Environment& env) {
  std::optional<std::string> described = described_file();
  if (!described || core::parent_path(*described) == *described) return std::nullopt;
  std::string dir = core::parent_path(*described);
  if (described->substr(described->rfind('/') + 1) != ".env") return std::nullopt;
  return with_cache([&](core::ListingCache& cache) -> std::optional<core::Found> {
    core::ListingCache::Directory& d = cache.directory(dir);
    bool layered = false;
    for (const std::string& name : core::env_layer_files(core::env_mode(env))) {
      core::FileKind kind;
      if (name != ".env" && cache.stat_in(d, dir, name, false, kind) == 0 &&
          kind == core::FileKind::regular)
        layered = true;
    }
    if (!layered) return std::nullopt;
    ProjectReader reader(cache, env, {{dir, false, false}});
    core::DocumentRef doc{core::Rule::env, core::join_path(dir, ".env"), ".env", 0};
    auto best = core::best_candidate(reader.read(doc, dir));
    if (!best) return std::nullopt;
    const core::Origins& o = best->origins;
    for (const auto* origin : {&o.host, &o.port, &o.user, &o.password, &o.database})
      if (*origin && (*origin)->file != *described) return best->found;
    return std::nullopt;
  });
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
    if (auto layered = layered_over_described(environment_snapshot())) {
      log("info", "layered env files over " + text(fs_text(*described_file())));
      announce_settings_file(text(fs_text(layered->path)));
      // What the plain discovery would have read, had it read the layers:
      // its precedences stand.
      nb::object kept = keep(settings_dict(layered->endpoint));
      core::Values values = core::values_of(*layered);
      add_key_lines(values);
      note_origin(kept, values, true);
      return kept;
    }
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
  if (auto found = second_look(args, given, env)) {
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
  // The root as a message shows a path: what is not UTF-8 or not printable, escaped.
  std::optional<core::ProjectPlan> shown = last_plan();
  if (shown) shown->root = visible(fs_text(shown->root));
  const core::ProjectPlan* plan = shown && named.empty() ? &*shown : nullptr;
  print(core::nothing_found_hint(start, depth(args, "up_level", 0), depth(args, "down_level", 1),
                                 named, plan),
        palette::warning);
}

}  // namespace talvo::settings
