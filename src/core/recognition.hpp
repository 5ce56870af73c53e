// Recognition by meaning: the settings of any document, flattened to dotted
// keys, are gathered into groups by the words of their keys (DB_HOST and
// DB_NAME are one group, spring.datasource.url and .username another), and
// a group that speaks of a PostgreSQL database becomes a candidate. Values
// are also read by their shape (a URL, a JDBC URL, a libpq or Npgsql
// string) under any key. Groups and documents that name another engine
// are skipped, and so are sections of another environment than the mode.
//
// The ranking, when several candidates remain (`ranks_before`):
//   1. a URL that names a database, or a set of keys naming both a
//      database and a user, before scattered keys (a database alone);
//   2. nearer directories first;
//   3. the current mode's section (development, dev.datasource, %dev.,
//      config.development.json) before sections that name no environment;
//   4. fewer words of the application's own in the group (DATABASE_URL
//      before SHADOW_DATABASE_URL, DB_HOST before DB_REPLICA_HOST);
//   5. the file's place among the files of its directory;
//   6. a whole connection value before separate keys of the same file;
//   7. the place in the file.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/document.hpp"
#include "core/endpoint.hpp"

namespace talvo::core {

struct Candidate {
  Found found;  // its sources are the origins below
  Origins origins;
  // The ranking's criteria, in order; smaller ranks first.
  int strength = 1;
  std::size_t distance = 0;  // the directory's place, nearest first (set by the caller)
  int mode_rank = 1;
  int unknown_words = 0;
  std::size_t file_order = 0;  // set by the caller
  int kind = 1;                // 0: a whole connection value; 1: keys
  std::size_t position = 0;
  // The group's words, joined by blanks (for named rows and labels).
  std::string group;
};

struct RecognitionOptions {
  std::string mode = "development";
  // The environment the file's name labels (config.development.json),
  // empty when it names none.
  std::string file_environment;
  // The official image's defaults apply to POSTGRES_* variables of env
  // files: the database is named after the user, else postgres.
  bool image_defaults = false;
};

// Every candidate of one document's settings, in document order.
std::vector<Candidate> recognise_settings(std::span<const KeyValue> settings,
                                          const RecognitionOptions& options);

bool ranks_before(const Candidate& a, const Candidate& b);

// The candidate that ranks first, if any.
std::optional<Candidate> best_candidate(std::span<const Candidate> candidates);

// The environment a file name labels: "config.development.json",
// "appsettings.Production.json" and "production.ini" label one,
// "config.json" none.
std::string file_environment(std::string_view file_name);

}  // namespace talvo::core
