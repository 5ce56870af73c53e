// Which files of a directory the second look reads, and by which rule.
//
// In the order they rank within one directory: the Compose file (it knows
// the port the database is published on), the layered env files, a Django
// settings module, Rails' config/database.yml, Spring Boot's application
// files with their profiles, .NET's appsettings.json with its environment's
// file, and then every other settings document by its format: env, JSON,
// YAML, TOML, INI/cfg/conf and Java properties files. Files that document
// settings (.env.example, config.sample.json), manifests and lock files
// (package.json, Cargo.toml, *.lock) and CI files are not settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvo::core {

class ListingCache;

enum class Rule : unsigned char {
  compose,   // compose.yaml and its override file
  env,       // the layered env files
  django,    // settings.py, or the module manage.py names
  rails,     // config/database.yml, sections by RAILS_ENV
  spring,    // application.properties|yml with the active profiles' files
  dotnet,    // appsettings.json with appsettings.<environment>.json
  generic,   // any other settings document
};

struct DocumentRef {
  Rule rule;
  std::string path;       // absolute
  std::string relative;   // to the directory, '/'-separated
  std::size_t order = 0;  // among the directory's documents
};

// The parser a file needs, by its name.
enum class Format : unsigned char { dotenv, json, yaml, toml, ini, properties, python, elixir, script };
Format format_for(std::string_view file_name);

// Whether a file name is a settings document the generic rule reads.
// `in_env_folder`: the file lies in an .envs/ folder, where files have no
// extension. `by_name`: only if its name speaks of settings (config,
// settings, database, db, env, secrets, ...), as below the working
// directory, where a tree of data files must not be read whole.
bool generic_document(std::string_view file_name, std::string_view mode, bool in_env_folder,
                      bool by_name = false);

// The documents of `dir` in ranking order. Only the env files that exist
// are listed; the Compose override, the Spring profiles and the .NET
// environment file are found by their rules once the base file is read.
// `below`: a directory under the working directory (see generic_document).
std::vector<DocumentRef> directory_documents(ListingCache& cache, const std::string& dir,
                                             std::string_view mode, bool below);

}  // namespace talvo::core
