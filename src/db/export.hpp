// A command's rows written as CSV or JSON to standard output, streamed as they
// arrive: from COPY, from a portal, or from rows already fetched. What the
// text looks like is the core's (core/row_writer.hpp); here the rows are
// gathered from the driver and the text handed out.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/coroutine.hpp"
#include "core/csv.hpp"
#include "core/data_format.hpp"
#include "core/row_writer.hpp"
#include "pyutil.hpp"

namespace talvo::db {

// args.format as the command uses it (main has settled it); a table when the
// command has none.
core::DataFormat output_format(nb::handle args);

struct Columns {
  std::vector<std::string> names;
  std::vector<core::ValueKind> kinds;
};

// From a prepared statement's get_attributes(): names, and kinds by type.
Columns columns_of_statement(nb::handle attributes);

// From rows already fetched, for `fields` in that order: the kind of each
// column is that of its first value that is not None.
std::vector<core::ValueKind> kinds_of_values(nb::handle records,
                                             const std::vector<std::string>& fields);

// One export in progress. Shared with the COPY sink, which the driver may
// hold a little longer than the coroutine that started it.
struct Export {
  Export(core::DataFormat format, Columns columns, core::RowWindow window)
      : writer(format, std::move(columns.names), std::move(columns.kinds)), rows(writer, window) {}

  // Hands the written text to standard output once there is enough of it,
  // or all of it.
  void drain(bool everything);

  core::RowWriter writer;
  core::WindowedRows rows;
  core::CsvReader csv;
  bool received = false;    // the current attempt has had data from the server
};

// Rows already fetched (driver records), by position, each value in the
// server's text form. With `fields`, those fields by name instead.
void export_records(nb::handle records, Export& out,
                    const std::vector<std::string>* fields = nullptr);

// COPY (body) TO STDOUT as CSV. `passthrough`: COPY's CSV is the result as it
// stands (its rows are not counted here; the returned tag counts them);
// otherwise it is read back into rows. Gives the command tag.
bridge::Coroutine copy_rows(nb::object conn, nb::object body, std::shared_ptr<Export> out,
                            bool passthrough);

// Rows of a statement prepared from core::counted_statement(...,
// RowForm::text), from its portal (a driver Cursor) in batches, as many as
// the window takes; gives how many rows the statement returned.
bridge::Coroutine counted_row_texts(nb::object portal, std::shared_ptr<Export> out);

// Every row of a portal of the statement itself, decoded by the driver
// (export_records); gives how many there were.
bridge::Coroutine portal_records(nb::object portal, std::shared_ptr<Export> out);

}  // namespace talvo::db
