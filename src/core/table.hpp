// Result tables as people read them: a centred title, heavy borders around
// the header, light ones around the rows, each column as wide as its widest
// value, in the colours of each column. Rows stream through: the first ones
// (a bounded window) are held to measure the columns, then everything is
// written, and later rows are written as they come. A later value wider than
// its column widens the column from its row on: values are never folded or
// cut, so each stays whole on its line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/pg_text.hpp"
#include "core/row_writer.hpp"

namespace talvo::core {

// The escape codes output may carry.
enum class Ansi {
  none,        // plain text: a file, a pipe, a dumb terminal
  attributes,  // bold and italic, no colours (NO_COLOR)
  colours,     // attributes and colours
};

// The SGR parameters ("1;35") of style words such as "bold magenta",
// "italic" or "cyan"; empty when the style shows nothing under `ansi`.
std::string sgr_parameters(std::string_view style, Ansi ansi);

// The facts that decide whether output carries escape codes, as rich weighs
// them for the program's messages, so tables and messages agree.
struct AnsiFacts {
  bool isatty = false;                // the output stream is a terminal
  std::optional<std::string> tty_compatible;  // TTY_COMPATIBLE
  std::optional<std::string> force_color;     // FORCE_COLOR
  std::string no_color;               // NO_COLOR ("" when unset)
  std::string term;                   // TERM ("" when unset)
};
Ansi ansi_for(const AnsiFacts& facts);

// `text` broken into lines of at most `width` cells at blanks (a word wider
// than that folded), each centred in `width` cells, as table titles are.
std::vector<std::string> centred_lines(std::string_view text, std::size_t width);

// What a cell shows where its value has no text of its own to show.
enum class Cell {
  value,          // None shows as an empty cell
  dash_if_empty,  // None, an empty text and zero show as "-"
  null_word,      // None shows as "NULL"
};

// The word a cell shows instead of its value's text (`empty`: the value is
// an empty text, zero or false), if any.
std::optional<std::string_view> cell_word(Cell rule, bool null, bool empty);

struct TableColumn {
  std::string header;
  std::string style;  // style words of the column's cells, such as "cyan"
};

class TableWriter final : public RowSink {
 public:
  // At most this many rows, and rows of about this many bytes, are held to
  // measure the columns.
  static constexpr std::size_t kWindowRows = 10000;
  static constexpr std::size_t kWindowBytes = 4 << 20;

  // Texts are shown as they are, except that a line feed ends a line of its
  // cell; they must hold no other control character. A null cell shows
  // `null_text`.
  TableWriter(std::string title, std::vector<TableColumn> columns, Ansi ansi,
              std::string null_text = "", std::size_t window_rows = kWindowRows);

  // One row, a cell per column (missing cells are empty). The row that
  // fills the window settles the columns.
  void row(std::span<const Field> cells) override;

  bool window_full() const;
  // The table's width in cells and its height in lines were it to end now.
  std::size_t width() const;
  std::size_t height() const;

  // Fixes the columns' widths; the title, the header and the rows held so
  // far go to pending(). Rows after this are written as they come. Until
  // then nothing is written, so whatever is to receive the table can be
  // chosen by its size.
  void settle();
  bool settled() const { return settled_; }
  // The bottom border (settling first, if need be).
  void end();

  std::string& pending() { return out_; }

 private:
  using Lines = std::vector<std::string_view>;

  void measure(std::string_view text, std::size_t column);
  static void split_cell(std::string_view text, Lines& lines);
  void write_rule(const char* left, const char* fill, const char* join, const char* right);
  void write_cells(std::span<const Lines> cells, const std::string& sgr,
                   const std::vector<std::string>& sgrs, const char* border);
  void write_row(std::span<const std::string_view> cells);
  std::size_t row_height(std::span<const std::string_view> cells) const;

  std::string title_;
  std::vector<TableColumn> columns_;
  Ansi ansi_;
  std::string null_text_;
  std::size_t window_rows_;
  std::vector<std::string> cell_sgr_;  // per column
  std::string header_sgr_, title_sgr_;
  std::vector<std::size_t> widths_;

  // The window: the held rows' texts end to end, where each cell ends, and
  // how many lines the held rows take.
  std::string held_;
  std::vector<std::size_t> cell_ends_;
  std::size_t held_rows_ = 0;
  std::size_t held_lines_ = 0;

  bool settled_ = false;
  bool ended_ = false;
  std::size_t lines_written_ = 0;
  std::string out_;
  // Scratch space of write_row, kept to spare allocations.
  std::vector<Lines> scratch_lines_;
  std::vector<std::string_view> scratch_cells_;
};

}  // namespace talvo::core
