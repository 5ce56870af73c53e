#include "core/project_documents.hpp"

#include <algorithm>

#include "core/document.hpp"
#include "core/env_layers.hpp"
#include "core/project_root.hpp"
#include "core/search.hpp"

namespace talvo::core {

namespace {

constexpr std::string_view kComposeFiles[] = {"compose.yaml", "compose.yml", "docker-compose.yml",
                                              "docker-compose.yaml"};
constexpr std::string_view kSpringFiles[] = {
    "src/main/resources/application.properties", "src/main/resources/application.yml",
    "src/main/resources/application.yaml", "config/application.properties",
    "config/application.yml", "config/application.yaml", "application.properties",
    "application.yml", "application.yaml"};

// Files of a settings format that hold something else: manifests, lock
// files, tool and CI configuration.
constexpr std::string_view kNotSettings[] = {
    "package.json",     "package-lock.json", "composer.json",  "composer.lock",   "tsconfig.json",
    "jsconfig.json",    "tslint.json",       "angular.json",   "nx.json",         "lerna.json",
    "turbo.json",       "renovate.json",     ".eslintrc.json", ".prettierrc.json", ".babelrc.json",
    "manifest.json",    "deno.json",         "vercel.json",    "launchsettings.json", "global.json",
    "pnpm-lock.yaml",   "pnpm-workspace.yaml", "pubspec.yaml", "cargo.toml",      "pyproject.toml",
    "setup.cfg",        "tox.ini",           "pytest.ini",     "mypy.ini",        ".yarnrc.yml",
    ".pre-commit-config.yaml", ".gitlab-ci.yml", ".travis.yml", "mkdocs.yml",      "codecov.yml",
    ".codecov.yml",     ".golangci.yml",     ".goreleaser.yml", "netlify.toml",   "chart.yaml",
    "openapi.yaml",     "openapi.json",      "swagger.yaml",   "swagger.json",    ".markdownlint.json",
    "appveyor.yml",     "bitbucket-pipelines.yml", "buildspec.yml", "rustfmt.toml", "clippy.toml",
    "my.cnf",           "alembic.ini.mako", "mix.exs",
    // The environment's own files, read by the environment stage.
    ".pg_service.conf", "pg_service.conf",
};

// Words of a file name that speak of settings.
constexpr std::string_view kSettingsNameWords[] = {
    "config",      "conf",     "cfg",        "configuration", "settings", "setting",
    "application", "app",      "appsettings", "database",     "databases", "db",
    "datasource",  "env",      "environment", "secrets",      "credentials", "connection",
    "connections", "postgres", "postgresql", "pg",            "profiles",  "local",
    "default",     "development", "production", "dev",       "prod",      "staging",
};

bool settings_name(std::string_view name) {
  std::string lower = ascii_lower(name);
  std::size_t dot = lower.rfind('.');
  if (dot != std::string::npos && dot > 0) lower.resize(dot);
  std::size_t start = 0;
  while (start <= lower.size()) {
    std::size_t end = lower.find_first_of(".-_ ", start);
    if (end == std::string::npos) end = lower.size();
    std::string_view word = std::string_view(lower).substr(start, end - start);
    for (std::string_view w : kSettingsNameWords)
      if (word == w) return true;
    start = end + 1;
  }
  return false;
}

bool ends_with_nocase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && iequals(s.substr(s.size() - suffix.size()), suffix);
}

// What `relative` (a name, or folders and a name) is under `dir`. Each part
// is looked up in its parent's listing, so the many fixed paths asked of
// every directory cost no system call where their first folder is absent.
bool kind_at(ListingCache& cache, const std::string& dir, std::string_view relative,
             FileKind& kind) {
  std::string at = dir;
  for (;;) {
    ListingCache::Directory& d = cache.directory(at);
    const std::vector<DirEntry>* entries = nullptr;
    bool exact = false;
    cache.list(d, at, entries, exact);  // unlistable: stat_in asks the filesystem
    std::size_t slash = relative.find('/');
    std::string name(relative.substr(0, slash));
    if (cache.stat_in(d, at, name, false, kind) != 0) return false;
    if (slash == std::string_view::npos) return true;
    if (kind != FileKind::directory) return false;
    at = join_path(at, name);
    relative.remove_prefix(slash + 1);
  }
}

bool regular_file(ListingCache& cache, const std::string& dir, std::string_view relative) {
  FileKind kind;
  return kind_at(cache, dir, relative, kind) && kind == FileKind::regular;
}

// The regular files of a directory, sorted.
std::vector<std::string> files_of(ListingCache& cache, const std::string& dir) {
  std::vector<std::string> out;
  ListingCache::Directory& d = cache.directory(dir);
  const std::vector<DirEntry>* entries = nullptr;
  bool exact = false;
  if (cache.list(d, dir, entries, exact) != 0) return out;
  for (const DirEntry& e : *entries) {
    bool regular = exact && e.type == EntryType::regular;
    if (!regular && !(exact && e.type == EntryType::directory)) {
      FileKind kind;
      regular = cache.stat_in(d, dir, e.name, false, kind) == 0 && kind == FileKind::regular;
    }
    if (regular) out.push_back(e.name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A script is read only where its name says it configures a database
// (knexfile.js, config/database.ts, datastores.js, data-source.ts): a
// project's root holds many scripts, and the others configure tools.
bool database_script_name(std::string_view name) {
  std::string squeezed;
  for (char c : ascii_lower(name.substr(0, name.find('.'))))
    if (c != '-' && c != '_') squeezed.push_back(c);
  for (std::string_view word : {"knexfile", "database", "datastore", "ormconfig", "datasource",
                                "dbconfig"})
    if (squeezed.find(word) != std::string::npos) return true;
  return squeezed == "db";
}

bool named_by_a_rule(std::string_view name) {
  std::string lower = ascii_lower(name);
  if (lower.starts_with(".env")) return true;  // the layers, or another mode's
  if (lower.find("compose") != std::string::npos) return true;
  if (lower == "settings.py") return true;
  if (lower.starts_with("application") &&
      (lower.ends_with(".properties") || lower.ends_with(".yml") || lower.ends_with(".yaml")))
    return true;
  return lower.starts_with("appsettings") && lower.ends_with(".json");
}

}  // namespace

Format format_for(std::string_view file_name) {
  std::string_view name = base_name(file_name);
  if (ends_with_nocase(name, ".py")) return Format::python;
  if (ends_with_nocase(name, ".json")) return Format::json;
  if (ends_with_nocase(name, ".yml") || ends_with_nocase(name, ".yaml")) return Format::yaml;
  if (ends_with_nocase(name, ".toml")) return Format::toml;
  if (ends_with_nocase(name, ".properties")) return Format::properties;
  if (ends_with_nocase(name, ".exs")) return Format::elixir;  // Mix's config/*.exs
  for (std::string_view suffix : {".js", ".cjs", ".mjs", ".ts"})
    if (ends_with_nocase(name, suffix) && !ends_with_nocase(name, ".d.ts")) return Format::script;
  if (ends_with_nocase(name, ".ini") || ends_with_nocase(name, ".conf") ||
      ends_with_nocase(name, ".cfg") || name == ".odoorc")
    return Format::ini;
  return Format::dotenv;
}

bool generic_document(std::string_view file_name, std::string_view mode, bool in_env_folder,
                      bool by_name) {
  std::string name = ascii_lower(base_name(file_name));
  if (decoy_file(name, mode)) return false;
  for (std::string_view n : kNotSettings)
    if (name == n) return false;
  if (name.ends_with(".lock") || name.ends_with(".schema.json") || name.ends_with(".min.json"))
    return false;
  if (format_for(name) == Format::script) return database_script_name(name);
  if (in_env_folder) return true;
  if (by_name && !settings_name(name)) return false;
  if (name == ".flaskenv" || name == ".odoorc") return true;
  if (name.ends_with(".env") && name.size() > 4) return true;  // db.env, plausible-conf.env
  switch (format_for(name)) {
    case Format::json:
    case Format::yaml:
    case Format::toml:
    case Format::ini:
    case Format::properties:
    case Format::elixir:
    case Format::script: return true;
    default: return false;
  }
}

std::vector<DocumentRef> directory_documents(ListingCache& cache, const std::string& dir,
                                             std::string_view mode, bool below) {
  std::vector<DocumentRef> out;
  auto add = [&](Rule rule, std::string relative) {
    out.push_back({rule, join_path(dir, relative), std::move(relative), out.size()});
  };
  for (std::string_view f : kComposeFiles) {
    if (regular_file(cache, dir, f)) {
      add(Rule::compose, std::string(f));
      break;
    }
  }
  bool any_env = false;
  for (const std::string& f : env_layer_files(mode)) any_env = any_env || regular_file(cache, dir, f);
  if (any_env) add(Rule::env, ".env");
  if (regular_file(cache, dir, "settings.py")) add(Rule::django, "settings.py");
  if (regular_file(cache, dir, "manage.py")) add(Rule::django, "manage.py");
  if (regular_file(cache, dir, "config/database.yml")) add(Rule::rails, "config/database.yml");
  for (std::string_view f : kSpringFiles) {
    if (regular_file(cache, dir, f)) {
      add(Rule::spring, std::string(f));
      break;
    }
  }
  if (regular_file(cache, dir, "appsettings.json")) add(Rule::dotnet, "appsettings.json");

  std::vector<std::string> folders{""};
  for (std::string& sub : settings_subdirectories(mode)) folders.push_back(std::move(sub));
  for (const std::string& folder : folders) {
    std::string path = folder.empty() ? dir : join_path(dir, folder);
    FileKind kind;
    if (!folder.empty() && (!kind_at(cache, dir, folder, kind) || kind != FileKind::directory))
      continue;
    // A fixed folder's own env files (prisma/.env), layered as beside the
    // project's files.
    bool env_here = false;
    for (const std::string& f : env_layer_files(mode))
      env_here = env_here || (!folder.empty() && regular_file(cache, path, f));
    if (env_here) add(Rule::env, folder + "/.env");
    bool env_folder = folder.starts_with(".envs/");
    for (const std::string& name : files_of(cache, path)) {
      std::string relative = folder.empty() ? name : folder + "/" + name;
      if (named_by_a_rule(name)) continue;
      if (relative == "config/database.yml") continue;
      if (!generic_document(name, mode, env_folder, below)) continue;
      add(Rule::generic, relative);
    }
  }
  return out;
}

}  // namespace talvo::core
