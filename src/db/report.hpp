// The shape every read-only handler shares, written once: the database-name
// fallback, db_config, one connection, one statement, one printed result,
// and the connection closed on every path (cancellation and Ctrl-C too).
// A handler supplies only what is its own: the statement, and how its result
// is shown. Reports that are a titled table describe themselves as data
// (TableReport) and use show_table.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "bridge/coroutine.hpp"
#include "core/data_format.hpp"
#include "core/pg_text.hpp"
#include "core/routes.hpp"
#include "core/table.hpp"
#include "pyutil.hpp"

namespace talvo::db {

// How a value becomes the text of a cell: its text form, or the word its
// rule shows instead.
using Cell = core::Cell;

struct Column {
  const char* header;
  const char* style;
  const char* field;  // record label
  Cell cell = Cell::value;
};

// A report printed as one table. In `title` and `empty_message`, "{}" stands
// for the name the report is about (see Target).
struct TableReport {
  const char* title;
  std::span<const Column> columns;
  const char* empty_message;  // nullptr: an empty result prints the bare table
};

using core::DatabaseName;

struct Handler {
  DatabaseName database;
  const char* error_prefix;  // "❌ Error: " or "❌ Query error: "
  // Checks made after the name is settled and before connecting; false ends
  // the handler (the check has printed why). May be null.
  bool (*admit)(nb::handle args) = nullptr;
  // Whether get_connection is given args.database (otherwise "postgres").
  bool (*connects_to_database)(nb::handle args) = nullptr;
  // Starts the one statement on the open connection; gives its awaitable.
  nb::object (*start)(nb::handle conn, nb::handle args);
  // Prints the statement's result. Null when start prints as it goes.
  void (*show)(nb::handle result, nb::handle args);
};

// The database-name fallback: false when the handler must stop (the reason
// has been printed).
bool settle_database(nb::handle args, DatabaseName policy);

bridge::Coroutine run_handler(nb::object args, const Handler& handler);

// Fills "{}" in a report's pattern.
std::string fill(const char* pattern, std::string_view name);

// The cells of one row as a table shows them: each value's text form (or
// its rule's word), control characters made visible, line feeds kept. The
// texts stay valid until the next row.
class CellTexts {
 public:
  // The report's columns of a record, by label.
  std::span<const core::Field> of_record(nb::handle record, std::span<const Column> columns);
  // Every value of a record from position `first` on, under one rule.
  std::span<const core::Field> of_values(nb::handle record, Cell rule, std::size_t first = 0);

 private:
  core::Field text_of(nb::handle value, Cell rule, std::string& storage);
  std::vector<std::string> storage_;
  std::vector<core::Field> fields_;
};

// A name from the server or the command line as a title or header shows it.
std::string shown_name(std::string_view name);

// Prints `rows` as the report's table titled for `name`, or its empty
// message. As CSV or JSON, the rows are written to standard output under the
// columns' field names (an empty result writes a header, or []), and the
// empty message is printed as well. Returns false when the result was empty.
bool show_table(nb::handle rows, const TableReport& report, std::string_view name,
                core::DataFormat format);

// `rows` as CSV or JSON on standard output: the named fields of each record.
void write_rows(nb::handle rows, std::span<const char* const> fields, core::DataFormat format);

// Records are read by label, as the driver's Record allows.
inline nb::object field(nb::handle record, const char* label) { return record[label]; }

}  // namespace talvo::db
