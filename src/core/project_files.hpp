// The settings files of the frameworks people use, and what each of them
// says about the project's PostgreSQL database. This is the second look at
// a project, taken when the plain discovery (settings.py, config.json, .env,
// .json, .yaml under fixed key lists) found no database name.
//
// Precedence, defined here once: directories nearer the start come first
// (the start directory, its subdirectories level by level down to the
// down-level, then each parent in turn with its own subdirectories, up to the
// up-level); within one directory the files are tried in the order of
// `project_files`, and within one file the readers' own orders hold. The
// first source that names a database (or a URL with host and database) wins.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.hpp"
#include "core/endpoint.hpp"
#include "core/environment_stage.hpp"

namespace talvo::core {

class ListingCache;

// How a file is read.
enum class Reader : unsigned char {
  dotenv,  // KEY=VALUE lines (.env, Laravel, Compose, ...)
  django,  // a Django settings module: its DATABASES setting
  rails,   // config/database.yml
  spring,  // Spring Boot application.properties / application.yml
  config,  // config.json / config.yaml / ormconfig.json, flat or nested one level
  ini,     // INI with a [database] section (Gitea, Grafana) or Odoo's [options]
  compose, // a Docker Compose file: its PostgreSQL service and published port
};

// The parser the binding layer uses to turn a file into a document.
enum class Format : unsigned char { dotenv, json, yaml, toml, ini, properties, python };

struct ProjectFile {
  std::string_view path;  // relative to a directory, '/'-separated
  Reader reader;
};

// The files looked for in each directory, in the order they are tried.
extern const std::span<const ProjectFile> project_files;

// How a file is parsed, by its name.
Format format_for(std::string_view file_name);

// The readers to try, in order, on a file the operator named.
std::vector<Reader> readers_for(std::string_view file_name);

// What a document says; nullopt unless it names a usable PostgreSQL source.
// For `django` the document is the DATABASES mapping. For `compose`, `env`
// is what Compose interpolates with: the process environment over the
// variables of the .env beside the file.
std::optional<Found> recognise(Reader reader, const Node& document, const Environment& env);

// Compose's ${NAME}, ${NAME:-default}, ${NAME-default}, $NAME and $$.
std::string compose_interpolate(std::string_view value, const Environment& env);

// A source is used when it names a database.
bool usable(const Endpoint& e);

// Whether an engine, adapter, type or driver value names PostgreSQL.
bool names_postgres(std::string_view value);

// The directories the second look visits, in precedence order: `start`
// (absolute, resolved), its subdirectories level by level to `down`, then
// each ancestor (the parent first; none when `up` is 0, otherwise up + 1 of
// them, below the root) with its own subdirectories. The directories every
// search skips are skipped; each directory comes once.
std::vector<std::string> project_directories(ListingCache& cache, const std::string& start,
                                             long long up, long long down);

// The line that follows "Database name required" when nothing named one.
// `named_file` is the CONFIG_FILE word, empty when the tree was searched.
std::string nothing_found_hint(std::string_view start, long long up, long long down,
                               std::string_view named_file);

}  // namespace talvo::core
