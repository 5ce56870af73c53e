// Rows written out as CSV or JSON, and the window a --limit cuts from them
// while they stream by.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/data_format.hpp"
#include "core/json.hpp"
#include "core/pg_text.hpp"
#include "core/readout.hpp"

namespace talvo::core {

// Where rows go one at a time: a CSV or JSON writer, a table.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void row(std::span<const Field> fields) = 0;
};

// CSV: a header of the column names, then a record a row. JSON: one array of
// objects, one a line, keyed by column name in column order (a name that
// occurs twice is a key twice, as to_json writes it); an empty result is [].
// The text accumulates in pending(), which the caller hands out and clears
// as it likes.
class RowWriter final : public RowSink {
 public:
  RowWriter(DataFormat format, std::vector<std::string> names, std::vector<ValueKind> kinds);

  void row(std::span<const Field> fields) override;
  // Records that are already CSV as this writer writes it (COPY's own);
  // they are not counted.
  void csv_records(std::string_view text) { out_ += text; }
  // Closes the JSON array; nothing for CSV.
  void end();

  std::string& pending() { return out_; }
  std::int64_t rows() const { return rows_; }

 private:
  DataFormat format_;
  std::vector<std::string> keys_;  // JSON: "\"name\": "
  std::vector<ValueKind> kinds_;
  std::string out_;
  std::int64_t rows_ = 0;
};

// Passes the rows a window keeps on and counts all of them. Rows
// held back (a negative limit) are copied until later rows show they were
// not among the last.
class WindowedRows {
 public:
  WindowedRows(RowSink& sink, RowWindow window) : sink_(sink), window_(window) {}

  void row(std::span<const Field> fields);
  // How many more rows the window takes; nullopt when it takes every row.
  std::optional<std::int64_t> still_wanted() const {
    if (!window_.first) return std::nullopt;
    return *window_.first > seen_ ? *window_.first - seen_ : 0;
  }
  // Whether the window has all the rows it takes: the rest need only be counted.
  bool full() const { return still_wanted() == 0; }
  std::int64_t seen() const { return seen_; }

 private:
  using HeldRow = std::vector<std::optional<std::string>>;

  RowSink& sink_;
  RowWindow window_;
  std::int64_t seen_ = 0;
  std::deque<HeldRow> held_;
  std::vector<Field> view_;
};

}  // namespace talvo::core
