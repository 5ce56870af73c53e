// show indexes: the indexes of one table, or of every user schema.
#include "db/db.hpp"
#include "db/export.hpp"
#include "db/report.hpp"

namespace talvo::db {
namespace {

constexpr const char* kTableSql = R"(
    SELECT indexname AS index_name, indexdef AS definition
    FROM pg_indexes
    WHERE schemaname NOT IN ('pg_catalog', 'information_schema') AND tablename = $1
    ORDER BY indexname;)";

constexpr const char* kDatabaseSql = R"(
    SELECT schemaname AS schema, tablename AS table, indexname AS index_name,
           indexdef AS definition
    FROM pg_indexes
    WHERE schemaname NOT IN ('pg_catalog', 'information_schema')
    ORDER BY schemaname, tablename, indexname;)";

constexpr const char* kNoIndexes = "📭 No indexes found";

constexpr Column kTableColumns[] = {
    {"Index Name", "cyan", "index_name"},
    {"Definition", "green", "definition"},
};

constexpr Column kDatabaseColumns[] = {
    {"Schema", "cyan", "schema"},
    {"Table", "green", "table"},
    {"Index Name", "yellow", "index_name"},
    {"Definition", "blue", "definition"},
};

constexpr TableReport kTableReport = {"Indexes in table '{}'", kTableColumns, kNoIndexes};
constexpr TableReport kDatabaseReport = {"Indexes in database '{}'", kDatabaseColumns, kNoIndexes};

bool table_mode(nb::handle args) { return truthy(arg(args, "table")); }

nb::object start(nb::handle conn, nb::handle args) {
  if (table_mode(args)) return conn.attr("fetch")(kTableSql, arg(args, "table"));
  return conn.attr("fetch")(kDatabaseSql);
}

void show(nb::handle rows, nb::handle args) {
  if (table_mode(args))
    show_table(rows, kTableReport, text(arg(args, "table")), output_format(args));
  else
    show_table(rows, kDatabaseReport, text(arg(args, "database")), output_format(args));
}

constexpr Handler kShowIndexes = {DatabaseName::required, "❌ Error: ", nullptr, nullptr, &start,
                                  &show};

bridge::Coroutine show_indexes(nb::object args) {
  co_return co_await run_handler(std::move(args), kShowIndexes);
}

}  // namespace

void define_index_report(nb::module_& m) { m.def("show_indexes", &show_indexes, "args"_a); }

}  // namespace talvo::db
