// show size: database sizes, table sizes of one database, or one table.
#include <cstdint>

#include "core/readout.hpp"
#include "core/terminal.hpp"
#include "db/db.hpp"
#include "db/export.hpp"
#include "db/report.hpp"
#include "output/palette.hpp"

namespace talvo::db {
namespace {

// Each size is computed once, by oid; equal sizes come in name order.
constexpr const char* kDatabaseSizesSql = R"(
    SELECT database, pg_size_pretty(size_bytes) AS size, size_bytes
    FROM (SELECT datname AS database, pg_database_size(oid) AS size_bytes
          FROM pg_database
          WHERE datistemplate = false) AS d
    ORDER BY size_bytes DESC, database;)";

// The tables pg_tables lists. By oid, a table such as "OrderLines" needs no
// quoting, and no name is looked up row by row.
constexpr const char* kTableSizesSql = R"(
    SELECT schema, "table", pg_size_pretty(size_bytes) AS total_size, size_bytes
    FROM (SELECT n.nspname AS schema, c.relname AS table,
                 pg_total_relation_size(c.oid) AS size_bytes
          FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
          WHERE c.relkind IN ('r', 'p')
            AND n.nspname NOT IN ('pg_catalog', 'information_schema')) AS t
    ORDER BY size_bytes DESC, schema, "table";)";

// $1 is resolved by the server as a relation name: search path, folding of
// unquoted names, an optional schema prefix.
constexpr const char* kOneTableSql = R"(
    SELECT pg_size_pretty(pg_total_relation_size($1)) AS total_size,
           pg_size_pretty(pg_relation_size($1)) AS table_size,
           pg_size_pretty(pg_total_relation_size($1) - pg_relation_size($1)) AS indexes_size)";

constexpr Column kDatabaseColumns[] = {
    {"Database", "cyan", "database"},
    {"Size", "green", "size"},
};

constexpr Column kTableColumns[] = {
    {"Schema", "cyan", "schema"},
    {"Table", "green", "table"},
    {"Total Size", "yellow", "total_size"},
};

constexpr TableReport kDatabaseSizes = {"Database Sizes", kDatabaseColumns, nullptr};
constexpr TableReport kTableSizes = {"Table Sizes in '{}'", kTableColumns,
                                     "📭 No tables found in '{}'"};

// The single-table lines: label, record field, colour.
struct SizeLine {
  const char* label;
  const char* field;
  const char* color;
};
constexpr SizeLine kOneTableLines[] = {
    {"   Total Size:   ", "total_size", palette::success},
    {"   Table Size:   ", "table_size", palette::warning},
    {"   Indexes Size: ", "indexes_size", "#FF69B4"},
};

enum class Mode { database_sizes, table_sizes, one_table };

Mode mode(nb::handle args) {
  if (!truthy(arg(args, "database"))) return Mode::database_sizes;
  return truthy(arg(args, "table")) ? Mode::one_table : Mode::table_sizes;
}

bool connects_to_database(nb::handle args) { return mode(args) != Mode::database_sizes; }

nb::object start(nb::handle conn, nb::handle args) {
  switch (mode(args)) {
    case Mode::database_sizes: return conn.attr("fetch")(kDatabaseSizesSql);
    case Mode::table_sizes: return conn.attr("fetch")(kTableSizesSql);
    case Mode::one_table: break;
  }
  return conn.attr("fetchrow")(kOneTableSql, arg(args, "table"));
}

std::int64_t total_bytes(nb::handle rows) {
  std::int64_t total = 0;
  for (nb::handle record : rows) {
    if (__builtin_add_overflow(total, nb::cast<std::int64_t>(field(record, "size_bytes")), &total))
      throw nb::value_error("total size out of range");
  }
  return total;
}

void show_listing(nb::handle rows, const TableReport& report, const std::string& name,
                  core::DataFormat format) {
  // The total comes first: if it fails, no table is printed.
  std::int64_t total = total_bytes(rows);
  if (!show_table(rows, report, name, format) && report.empty_message != nullptr) return;
  print("\n📊 Total Size: " + core::format_gigabytes(total) + " GB", palette::info, true);
}

void show(nb::handle result, nb::handle args) {
  const core::DataFormat format = output_format(args);
  switch (mode(args)) {
    case Mode::database_sizes: return show_listing(result, kDatabaseSizes, "", format);
    case Mode::table_sizes:
      return show_listing(result, kTableSizes, text(arg(args, "database")), format);
    case Mode::one_table: break;
  }
  print("\n📊 Size of table '" + core::visible_text(text(arg(args, "table"))) + "':", palette::info,
        true);
  if (format != core::DataFormat::table) {
    const char* fields[std::size(kOneTableLines)];
    for (std::size_t i = 0; i < std::size(kOneTableLines); ++i) fields[i] = kOneTableLines[i].field;
    write_rows(nb::make_tuple(result), fields, format);
    return;
  }
  for (const SizeLine& line : kOneTableLines)
    print(line.label + text(field(result, line.field)), line.color);
}

constexpr Handler kShowSize = {DatabaseName::optional, "❌ Error: ", nullptr,
                               &connects_to_database, &start, &show};

bridge::Coroutine show_size(nb::object args) {
  co_return co_await run_handler(std::move(args), kShowSize);
}

}  // namespace

void define_size_report(nb::module_& m) { m.def("show_size", &show_size, "args"_a); }

}  // namespace talvo::db
