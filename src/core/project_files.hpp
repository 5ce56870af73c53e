// The second look at a project, taken when the plain discovery
// (settings.py, config.json, .env, .json, .yaml under fixed key lists)
// found no database name: every settings document of the project, read by
// its format and recognised by meaning (core/recognition.hpp), with the
// rules that carry what the words cannot (a Compose service's published
// port, Rails' and Spring's sections, Django's DATABASES, the official
// image's defaults).
//
// Precedence: the ranking of core/recognition.hpp over the directories of
// core/project_root.hpp, nearest first, and the documents of each directory
// in the order of core/project_documents.hpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/compose.hpp"
#include "core/document.hpp"
#include "core/endpoint.hpp"
#include "core/environment_stage.hpp"
#include "core/interpolation.hpp"
#include "core/project_documents.hpp"
#include "core/project_root.hpp"
#include "core/recognition.hpp"

namespace talvo::core {

// How a file is read.
enum class Reader : unsigned char {
  dotenv,   // KEY=VALUE lines (.env, Laravel, Compose, ...)
  django,   // a Django settings module: its DATABASES setting
  rails,    // config/database.yml: ERB read, sections by RAILS_ENV
  spring,   // Spring Boot application.properties / application.yml
  config,   // JSON, YAML and TOML documents
  ini,      // INI, cfg and conf files, whose lines before a section read like .env
  compose,  // a Docker Compose file: its PostgreSQL service and published port
};

struct ProjectFile {
  std::string_view path;  // relative to a directory, '/'-separated
  Reader reader;
};

// The files looked for in each directory, in the order they are tried.
extern const std::vector<ProjectFile> project_files;

// The readers to try, in order, on a file the operator named.
std::vector<Reader> readers_for(std::string_view file_name);

// The reader of a document the second look found.
Reader reader_for(Rule rule, std::string_view file_name);

// The section of database.yml Rails reads: RAILS_ENV, else RACK_ENV, else
// development.
std::string rails_mode(const Environment& env);

struct ReadingContext {
  std::string mode = "development";
  std::string rails_mode = "development";
  // The environment, then the project's env files: what ${NAME} and ERB's
  // ENV read.
  Lookup lookup;
  std::string file;  // the document, for the origins and its name's environment
  // What a Compose file needs besides itself.
  const ComposeInputs* compose = nullptr;
};

// Every candidate of one document, ranked as core/recognition.hpp ranks
// them (the caller sets distance and file order). A document whose
// references outgrow `budget` gives none; budget.exceeded() tells.
std::vector<Candidate> read_candidates(Reader reader, const Node& document,
                                       const ReadingContext& context, Budget& budget);

// The same for settings already flattened (and layered or merged: env
// files, a Spring base file with its profiles, appsettings.json with its
// environment's file). Not for Compose files.
std::vector<Candidate> read_settings(Reader reader, std::vector<KeyValue> settings,
                                     const ReadingContext& context, Budget& budget);

// What a document says, read in the environment alone; nullopt unless it
// names a usable PostgreSQL source.
std::optional<Found> recognise(Reader reader, const Node& document, const Environment& env);

// A source is used when it names a database.
bool usable(const Endpoint& e);

// Whether an engine, adapter, type or driver value names PostgreSQL.
bool names_postgres(std::string_view value);

// The line that follows "Database name required" when nothing named one.
// `named_file` is the CONFIG_FILE word, empty when the tree was searched;
// `plan`, when given, says up to which root it went.
std::string nothing_found_hint(std::string_view start, long long up, long long down,
                               std::string_view named_file, const ProjectPlan* plan = nullptr);

}  // namespace talvo::core
