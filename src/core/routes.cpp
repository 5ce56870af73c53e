#include "core/routes.hpp"

namespace talvo::core {

namespace {

using P = Purpose;
using D = DatabaseName;

constexpr Route kRoutes[] = {
    {"show", "dbs", "show_databases", P::maintenance, D::not_used},
    {"show", "tables", "show_tables", P::database, D::required},
    {"show", "users", "show_users", P::maintenance, D::not_used},
    {"show", "connections", "show_connections", P::maintenance, D::not_used},
    {"show", "indexes", "show_indexes", P::database, D::required},
    // Without a database it lists the sizes of all of them.
    {"show", "size", "show_size", P::database, D::optional},
    {"describe", "", "describe_table", P::database, D::required},
    {"query", "", "execute_query", P::database, D::required},
    // backup connects to nothing; its pg_dump line names the database.
    {"backup", "", "backup_database", P::database, D::required},
    {"create", "", "create_user_db", P::superuser, D::not_used},
    {"drop", "database", "drop_database", P::superuser, D::required},
    {"drop", "user", "drop_user", P::superuser, D::not_used},
};

}  // namespace

const std::span<const Route> routes = kRoutes;

std::optional<Route> find_route(std::string_view command, std::string_view word) {
  const bool worded = !word_dest(command).empty();
  for (const Route& r : kRoutes)
    if (r.command == command && (!worded || r.word == word)) return r;
  return std::nullopt;
}

std::string_view word_dest(std::string_view command) {
  if (command == "show") return "show_command";
  if (command == "drop") return "drop_command";
  return {};
}

}  // namespace talvo::core
