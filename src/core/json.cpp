#include "core/json.hpp"

#include <cstdio>

namespace talvo::core {
namespace {

struct KnownType {
  std::uint32_t oid;
  ValueKind kind;
};

constexpr ValueKind kNumber{JsonKind::number};
constexpr ValueKind kNumbers{JsonKind::number, true};
constexpr ValueKind kStrings{JsonKind::string, true};

// Array types are listed only where the element type writes its arrays with
// a comma between elements (box, for one, uses a semicolon).
constexpr KnownType kKnownTypes[] = {
    {16, {JsonKind::boolean}},   {1000, {JsonKind::boolean, true}},                // bool
    {20, kNumber},               {1016, kNumbers},                                 // int8
    {21, kNumber},               {1005, kNumbers},                                 // int2
    {23, kNumber},               {1007, kNumbers},                                 // int4
    {26, kNumber},               {1028, kNumbers},                                 // oid
    {700, kNumber},              {1021, kNumbers},                                 // float4
    {701, kNumber},              {1022, kNumbers},                                 // float8
    {1700, kNumber},             {1231, kNumbers},                                 // numeric
    {114, {JsonKind::json}},     {199, {JsonKind::json, true}},                    // json
    {3802, {JsonKind::json}},    {3807, {JsonKind::json, true}},                   // jsonb
    {1114, {JsonKind::timestamp}}, {1115, {JsonKind::timestamp, true}},            // timestamp
    {1184, {JsonKind::timestamp}}, {1185, {JsonKind::timestamp, true}},            // timestamptz
    {1009, kStrings}, {1015, kStrings}, {1014, kStrings}, {1003, kStrings},        // text, varchar, bpchar, name
    {1002, kStrings}, {1001, kStrings}, {1182, kStrings}, {1183, kStrings},        // char, bytea, date, time
    {1270, kStrings}, {1187, kStrings}, {2951, kStrings}, {1041, kStrings},        // timetz, interval, uuid, inet
    {651, kStrings},  {1040, kStrings}, {143, kStrings},  {791, kStrings},         // cidr, macaddr, xml, money
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool is_json_number(std::string_view s) {
  std::size_t i = 0;
  auto digits = [&] {
    std::size_t from = i;
    while (i < s.size() && is_digit(s[i])) ++i;
    return i > from;
  };
  if (i < s.size() && s[i] == '-') ++i;
  if (i < s.size() && s[i] == '0') {
    ++i;
  } else if (i >= s.size() || !digits()) {
    return false;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == s.size();
}

void append_boolean(std::string& out, std::string_view text) {
  if (text == "t" || text == "true")
    out += "true";
  else if (text == "f" || text == "false")
    out += "false";
  else
    append_json_string(out, text);
}

// The server's to_json writes time stamps as XSD does: a "T" between date
// and time, and the offset with its minutes ("+00:00", not "+00").
void append_timestamp(std::string& out, std::string_view text) {
  std::size_t space = text.find(' ');
  if (space == std::string_view::npos || space == 0 || !is_digit(text[space - 1])) {
    append_json_string(out, text);  // infinity, -infinity
    return;
  }
  std::string iso(text);
  iso[space] = 'T';
  std::size_t era = iso.find(' ');
  std::size_t end = era == std::string::npos ? iso.size() : era;
  // An offset of hours alone: a sign and two digits at the end of the time.
  if (end >= space + 4 && (iso[end - 3] == '+' || iso[end - 3] == '-') && is_digit(iso[end - 2]) &&
      is_digit(iso[end - 1]))
    iso.insert(end, ":00");
  append_json_string(out, iso);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool equals_null(std::string_view s) {
  return s.size() == 4 && (s[0] | 0x20) == 'n' && (s[1] | 0x20) == 'u' && (s[2] | 0x20) == 'l' &&
         (s[3] | 0x20) == 'l';
}

// An array's text, as array_out writes it: "{1,2,NULL}", "{{1,2},{3,4}}",
// "{"a b","x\"y"}", with "[0:1]=" before it when its bounds are not the usual
// ones (JSON has no place for them).
class ArrayText {
 public:
  ArrayText(std::string& out, JsonKind element, std::string_view text)
      : out_(out), element_(element), s_(text) {}

  bool append() {
    if (i_ < s_.size() && s_[i_] == '[') {
      std::size_t eq = s_.find('=');
      if (eq == std::string_view::npos) return false;
      i_ = eq + 1;
    }
    return level() && i_ == s_.size();
  }

 private:
  bool level() {
    if (i_ >= s_.size() || s_[i_] != '{') return false;
    ++i_;
    out_.push_back('[');
    if (i_ < s_.size() && s_[i_] == '}') {
      ++i_;
      out_.push_back(']');
      return true;
    }
    for (bool first = true;; first = false) {
      if (!first) out_ += ", ";
      if (i_ < s_.size() && s_[i_] == '{') {
        if (!level()) return false;
      } else if (!element()) {
        return false;
      }
      if (i_ >= s_.size()) return false;
      if (s_[i_] == '}') {
        ++i_;
        out_.push_back(']');
        return true;
      }
      if (s_[i_] != ',') return false;
      ++i_;
    }
  }

  bool element() {
    item_.clear();
    bool quoted = false;
    while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}') {
      char c = s_[i_++];
      if (c == '"') {
        quoted = true;
        while (i_ < s_.size() && s_[i_] != '"') {
          if (s_[i_] == '\\') ++i_;
          if (i_ < s_.size()) item_.push_back(s_[i_++]);
        }
        if (i_ >= s_.size()) return false;
        ++i_;
      } else if (c == '\\') {
        if (i_ >= s_.size()) return false;
        item_.push_back(s_[i_++]);
      } else if (!is_blank(c)) {
        item_.push_back(c);
      }
    }
    if (!quoted && equals_null(item_))
      append_json_value(out_, {element_}, std::nullopt);
    else
      append_json_value(out_, {element_}, item_);
    return true;
  }

  std::string& out_;
  JsonKind element_;
  std::string_view s_;
  std::size_t i_ = 0;
  std::string item_;
};

}  // namespace

ValueKind value_kind(std::uint32_t type_oid) {
  for (const KnownType& t : kKnownTypes)
    if (t.oid == type_oid) return t.kind;
  return {};
}

void append_json_string(std::string& out, std::string_view s) {
  out.push_back('"');
  std::size_t run = 0;  // start of the characters not yet copied
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s, run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    }
  }
  out.append(s, run, s.size() - run);
  out.push_back('"');
}

void append_json_number(std::string& out, std::string_view text) {
  if (is_json_number(text))
    out += text;
  else
    append_json_string(out, text);
}

void append_json_value(std::string& out, ValueKind kind, Field text) {
  if (!text) {
    out += "null";
    return;
  }
  if (kind.array) {
    const std::size_t mark = out.size();
    if (ArrayText(out, kind.kind, *text).append()) return;
    out.resize(mark);  // not an array's text after all: keep it whole
    append_json_string(out, *text);
    return;
  }
  switch (kind.kind) {
    case JsonKind::number: return append_json_number(out, *text);
    case JsonKind::boolean: return append_boolean(out, *text);
    case JsonKind::json: out += *text; return;
    case JsonKind::timestamp: return append_timestamp(out, *text);
    case JsonKind::string: return append_json_string(out, *text);
  }
}

}  // namespace talvo::core
