// The listing reports of `show`: databases, tables, users, connections.
#include "db/db.hpp"
#include "db/export.hpp"
#include "db/report.hpp"

namespace talvo::db {
namespace {

struct Listing {
  const char* sql;
  TableReport report;
  bool about_database;  // the title and empty message name args.database
};

constexpr Column kDatabaseColumns[] = {
    {"Database", "cyan", "database"},
    {"Size", "green", "size"},
    {"Encoding", "yellow", "encoding"},
    {"Collation", "blue", "collation"},
};

constexpr Column kTableColumns[] = {
    {"Schema", "cyan", "schema"},
    {"Table", "green", "table"},
    {"Size", "yellow", "size"},
    {"Columns", "blue", "columns"},
};

constexpr Column kUserColumns[] = {
    {"Username", "cyan", "username"},
    {"Superuser", "red", "superuser"},
    {"Create DB", "green", "create_db"},
    {"Create Role", "yellow", "create_role"},
    {"Can Login", "blue", "can_login"},
    {"Replication", "magenta", "replication"},
};

constexpr Column kConnectionColumns[] = {
    {"Database", "cyan", "database", Cell::dash_if_empty},
    {"User", "green", "username", Cell::dash_if_empty},
    {"Client", "yellow", "client", Cell::dash_if_empty},
    {"State", "blue", "state", Cell::dash_if_empty},
    {"Query Start", "magenta", "query_start", Cell::dash_if_empty},
    {"State Change", "red", "state_change", Cell::dash_if_empty},
};

const Listing kDatabases = {
    R"(SELECT datname AS database,
              pg_size_pretty(pg_database_size(datname)) AS size,
              pg_encoding_to_char(encoding) AS encoding,
              datcollate AS collation
       FROM pg_database
       WHERE datistemplate = false
       ORDER BY datname;)",
    {"PostgreSQL Databases", kDatabaseColumns, "📭 No databases found"},
    false,
};

// The relation name is quoted part by part, so a table such as "OrderLines"
// resolves like any other instead of failing the whole report.
const Listing kTables = {
    R"(SELECT schemaname AS schema, tablename AS table,
              pg_size_pretty(pg_total_relation_size(quote_ident(schemaname)||'.'||quote_ident(tablename))) AS size,
              (SELECT COUNT(*) FROM information_schema.columns
                WHERE table_schema = schemaname AND table_name = tablename) AS columns
       FROM pg_tables
       WHERE schemaname NOT IN ('pg_catalog', 'information_schema')
       ORDER BY schemaname, tablename;)",
    {"Tables in '{}'", kTableColumns, "📭 No tables found in '{}'"},
    true,
};

const Listing kUsers = {
    R"(SELECT rolname AS username, rolsuper AS superuser, rolcreatedb AS create_db,
              rolcreaterole AS create_role, rolcanlogin AS can_login,
              rolreplication AS replication
       FROM pg_roles
       WHERE rolname NOT LIKE 'pg_%'
       ORDER BY rolname;)",
    {"PostgreSQL Users", kUserColumns, nullptr},
    false,
};

const Listing kConnections = {
    R"(SELECT datname AS database, usename AS username, client_addr AS client,
              state, query_start, state_change
       FROM pg_stat_activity
       WHERE datname IS NOT NULL
       ORDER BY query_start DESC;)",
    {"Active Connections", kConnectionColumns, "📭 No active connections"},
    false,
};

template <const Listing& L>
nb::object start(nb::handle conn, nb::handle) {
  return conn.attr("fetch")(L.sql);
}

template <const Listing& L>
void show(nb::handle rows, nb::handle args) {
  show_table(rows, L.report, L.about_database ? text(arg(args, "database")) : std::string(),
             output_format(args));
}

bool server_wide(nb::handle) { return false; }

template <const Listing& L, DatabaseName policy>
constexpr Handler handler_for() {
  return Handler{policy, "❌ Error: ", nullptr,
                 policy == DatabaseName::not_used ? &server_wide : nullptr, &start<L>, &show<L>};
}

constexpr Handler kShowDatabases = handler_for<kDatabases, DatabaseName::not_used>();
constexpr Handler kShowTables = handler_for<kTables, DatabaseName::required>();
constexpr Handler kShowUsers = handler_for<kUsers, DatabaseName::not_used>();
constexpr Handler kShowConnections = handler_for<kConnections, DatabaseName::not_used>();

bridge::Coroutine show_databases(nb::object args) {
  co_return co_await run_handler(std::move(args), kShowDatabases);
}
bridge::Coroutine show_tables(nb::object args) {
  co_return co_await run_handler(std::move(args), kShowTables);
}
bridge::Coroutine show_users(nb::object args) {
  co_return co_await run_handler(std::move(args), kShowUsers);
}
bridge::Coroutine show_connections(nb::object args) {
  co_return co_await run_handler(std::move(args), kShowConnections);
}

}  // namespace

void define_reports(nb::module_& m) {
  m.def("show_databases", &show_databases, "args"_a);
  m.def("show_tables", &show_tables, "args"_a);
  m.def("show_users", &show_users, "args"_a);
  m.def("show_connections", &show_connections, "args"_a);
}

}  // namespace talvo::db
