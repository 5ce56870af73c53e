// describe: the columns of one table, in declared order.
#include "core/terminal.hpp"
#include "db/db.hpp"
#include "db/export.hpp"
#include "db/report.hpp"
#include "output/palette.hpp"

namespace talvo::db {
namespace {

// The name is compared exactly, in every schema: a view is described too.
constexpr const char* kColumnsSql = R"(
    SELECT column_name, data_type, character_maximum_length, is_nullable, column_default
    FROM information_schema.columns
    WHERE table_name = $1
    ORDER BY ordinal_position;)";

constexpr Column kColumns[] = {
    {"Column", "cyan", "column_name"},
    {"Type", "green", "data_type"},
    {"Max Length", "yellow", "character_maximum_length", Cell::dash_if_empty},
    {"Nullable", "blue", "is_nullable"},
    {"Default", "magenta", "column_default", Cell::dash_if_empty},
};

constexpr TableReport kStructure = {"Structure of '{}'", kColumns, nullptr};

constexpr const char* kTableRequired = "❌ Table name required. Use -t/--table";

bool table_given(nb::handle args) {
  if (truthy(arg(args, "table"))) return true;
  fail(kTableRequired);
  return false;
}

nb::object start(nb::handle conn, nb::handle args) {
  return conn.attr("fetch")(kColumnsSql, arg(args, "table"));
}

void show(nb::handle rows, nb::handle args) {
  std::string table = text(arg(args, "table"));
  if (!truthy(rows)) {
    fail("❌ Table '" + core::visible_text(table) + "' not found");
    return;
  }
  show_table(rows, kStructure, table, output_format(args));
}

constexpr Handler kDescribe = {DatabaseName::required, "❌ Error: ", &table_given, nullptr, &start,
                               &show};

bridge::Coroutine describe_table(nb::object args) {
  co_return co_await run_handler(std::move(args), kDescribe);
}

}  // namespace

void define_describe(nb::module_& m) { m.def("describe_table", &describe_table, "args"_a); }

}  // namespace talvo::db
