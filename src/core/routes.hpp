// The commands: which words reach which handler, which connection each one
// opens, and whether it needs a database name. Routing, `--where` and the
// handlers read the same rows.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "core/target.hpp"

namespace talvo::core {

// The database-name fallback of a command.
enum class DatabaseName : unsigned char {
  not_used,  // connects to the maintenance database, no fallback
  required,  // fallback from the settings, else "Database name required"
  optional,  // fallback from the settings, else go on without one
};

struct Route {
  std::string_view command;  // the first command word
  std::string_view word;     // the second (show and drop), else empty
  const char* handler;       // the module routine that runs it
  Purpose purpose;           // the connection it opens
  DatabaseName database;
};

extern const std::span<const Route> routes;

// The row for a command line's words; nullopt for a word no route has.
std::optional<Route> find_route(std::string_view command, std::string_view word);

// Where the record keeps the second word of a command that has them
// ("show_command", "drop_command"); empty for the others.
std::string_view word_dest(std::string_view command);

}  // namespace talvo::core
