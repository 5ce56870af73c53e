// CSV as RFC 4180 describes it and the server's COPY ... (FORMAT csv) writes
// it: comma separators, and every line ended with a line feed alone (LF),
// which is also what COPY sends, so rows written here and rows passed through
// from COPY never mix two line-end styles.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/pg_text.hpp"

namespace talvo::core {

inline constexpr char kCsvLineEnd = '\n';

// One field as COPY writes it: NULL as nothing at all, and an empty text as
// "", so a reader can tell them apart; quoted when it holds a comma, quote,
// CR or LF (and, as COPY does, when a one-column row holds just \., which
// reads back as the end of data), with quotes doubled.
void append_csv_field(std::string& out, Field value, bool only_column);

// Fields joined by commas, and the line end.
void append_csv_record(std::string& out, std::span<const Field> fields);

// Reads CSV as COPY writes it, in pieces of any size: a record may end in a
// later piece than it began, and a quoted line break does not end it.
class CsvReader {
 public:
  using OnRecord = std::function<void(std::span<const Field>)>;

  // Calls `on_record` for every record completed by `bytes`.
  void feed(std::string_view bytes, const OnRecord& on_record);
  // A record begun and never ended (COPY always ends its last line).
  bool incomplete() const { return !pending_.empty(); }

 private:
  void split(std::string_view record, const OnRecord& on_record);

  std::string pending_;      // bytes of records not yet complete
  std::size_t scanned_ = 0;  // how far pending_ has been looked through
  bool in_quotes_ = false;   // at `scanned_`
  std::vector<Field> fields_;
  // Fields whose doubled quotes were undone; a deque, so fields_ may point
  // into earlier ones while later ones are added.
  std::deque<std::string> unquoted_;
};

}  // namespace talvo::core
