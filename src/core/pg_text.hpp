// Values in the server's text form: what COPY writes, what a row value's
// text holds, and the same forms made from values a driver has decoded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::core {

// One value as text; nullopt is NULL.
using Field = std::optional<std::string_view>;

// The fields of a row value's text, as record_out writes it: "(1,,"a ""b""")".
// A field is quoted when it is empty or holds a quote, backslash,
// parenthesis, comma or blank, and inside quotes both the quote and the
// backslash are doubled; NULL is an empty, unquoted field.
class RecordText {
 public:
  // False when `text` is no row value's text.
  bool parse(std::string_view text);
  // Valid until the next parse.
  std::span<const Field> fields() const { return fields_; }

 private:
  struct Span {
    bool null;
    bool owned;
    std::size_t start, size;  // in the text, or in owned_ when owned
  };
  std::vector<Span> spans_;
  std::string owned_;
  std::vector<Field> fields_;
};

// float8's text: the shortest digits that read back as the same double, with
// NaN, Infinity and -Infinity spelt as the server spells them.
std::string double_text(double value);

// bytea's hex form: \x and two lower-case digits a byte.
std::string bytea_text(std::string_view bytes);

// Parts of a date, time or time stamp; the offset east of UTC in seconds for
// values with a time zone.
struct DateTimeParts {
  int year = 1, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, microsecond = 0;
  std::optional<int> utc_offset;
};

// As the ISO date style writes them: "2024-01-31", "12:00:00.5+02",
// "2024-01-31 12:00:00+00" (trailing zeros of the fraction dropped; the
// offset's minutes and seconds only when not zero).
std::string date_text(const DateTimeParts& t);
std::string time_text(const DateTimeParts& t);
std::string timestamp_text(const DateTimeParts& t);

// As Python's str() writes a datetime: "2024-01-31 12:00:00.500000+00:00"
// (a fraction of six digits unless it is zero; the offset's seconds only
// when not zero). A date's str() is date_text's.
std::string python_datetime_text(const DateTimeParts& t);

}  // namespace talvo::core
