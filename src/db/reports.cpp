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

// Sizes are computed by oid, not looked up by name row by row.
const Listing kDatabases = {
    R"(SELECT datname AS database,
              pg_size_pretty(pg_database_size(oid)) AS size,
              pg_encoding_to_char(encoding) AS encoding,
              datcollate AS collation
       FROM pg_database
       WHERE datistemplate = false
       ORDER BY datname;)",
    {"PostgreSQL Databases", kDatabaseColumns, "📭 No databases found"},
    false,
};

// The tables pg_tables lists, with their sizes by oid (so a table such as
// "OrderLines" needs no quoting) and their columns counted as
// information_schema.columns counts them: those the role may see, none of
// another session's temporary tables. Counted from pg_attribute by the
// table's oid, each through its index, rather than by filtering the whole
// view by name for every row.
const Listing kTables = {
    R"(SELECT n.nspname AS schema, c.relname AS table,
              pg_size_pretty(pg_total_relation_size(c.oid)) AS size,
              (SELECT count(*) FROM pg_attribute a
                WHERE a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped
                  AND NOT pg_is_other_temp_schema(n.oid)
                  AND (pg_has_role(c.relowner, 'USAGE')
                       OR has_column_privilege(c.oid, a.attnum,
                                               'SELECT, INSERT, UPDATE, REFERENCES'))) AS columns
       FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
       WHERE c.relkind IN ('r', 'p') AND n.nspname NOT IN ('pg_catalog', 'information_schema')
       ORDER BY n.nspname, c.relname;)",
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
