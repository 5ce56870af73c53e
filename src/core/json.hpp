// JSON from values in the server's text form, typed by their column: numbers
// as numbers, booleans, null, json and jsonb nested, time stamps in ISO 8601,
// arrays as arrays, and everything else as a string. The forms are those of
// the server's own to_json, so a script sees the same whichever way a row
// came.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/pg_text.hpp"

namespace talvo::core {

enum class JsonKind : std::uint8_t {
  string,     // text, dates, times, intervals, bytea ("\\x..."), anything else
  number,     // integers, float4/float8 and numeric, written exactly as the server wrote them
  boolean,    // "t" and "f"
  json,       // json and jsonb: already JSON
  timestamp,  // "2024-01-31 12:00:00+00" becomes "2024-01-31T12:00:00+00:00"
};

struct ValueKind {
  JsonKind kind = JsonKind::string;
  bool array = false;  // an array of values of `kind`
  bool operator==(const ValueKind&) const = default;
};

// The kind of a built-in type, by its OID; other types (and arrays of types
// this table does not know) are strings.
ValueKind value_kind(std::uint32_t type_oid);

// A JSON string: only what JSON requires is escaped (quote, backslash and
// the controls below U+0020); everything else stays as the UTF-8 it is.
void append_json_string(std::string& out, std::string_view utf8);

// A number's text as JSON: unchanged when it is a JSON number already; NaN,
// Infinity and -Infinity, which JSON has no numbers for, as the strings
// "NaN", "Infinity" and "-Infinity" (as to_json writes them); anything else
// as a string.
void append_json_number(std::string& out, std::string_view text);

void append_json_value(std::string& out, ValueKind kind, Field text);

}  // namespace talvo::core
