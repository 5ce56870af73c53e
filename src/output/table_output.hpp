// A result table on standard output: escape codes as the terminal takes
// them, and through the pager when the table is taller or wider than the
// screen. What the table looks like is the core's (core/table.hpp).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/table.hpp"
#include "pyutil.hpp"

namespace talvo::output {

class TableOutput final : public core::RowSink {
 public:
  TableOutput(std::string title, std::vector<core::TableColumn> columns,
              std::string null_text = "");
  // Closes the pager when finish() was never reached (an error on the way).
  ~TableOutput() override;
  TableOutput(const TableOutput&) = delete;
  TableOutput& operator=(const TableOutput&) = delete;

  // A row; what the table has written is handed on once there is enough.
  void row(std::span<const core::Field> cells) override;
  // Whoever reads has gone (the pager was quit): rows still to come are
  // not wanted.
  bool closed() const { return closed_; }
  // The table is going through the pager, which holds the terminal.
  bool paging() const { return pager_.is_valid(); }
  // The bottom border, everything handed on, and the pager waited for. A
  // table that never had a row (and never wrote) writes nothing when
  // `empty_too` is false.
  void finish(bool empty_too = true);

 private:
  void hand_on(bool everything);
  void choose_destination(bool more);
  void start_pager(const std::string& command);
  void close_pager();

  core::TableWriter table_;
  bool any_row_ = false;
  bool chosen_ = false;
  bool closed_ = false;
  bool finished_ = false;
  nb::object pager_;      // the pager's process, while there is one
  nb::object interrupt_;  // the SIGINT handler to put back after it
};

// Whether standard output takes escape codes, and which.
core::Ansi standard_output_ansi();

}  // namespace talvo::output
