#include "core/where.hpp"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "core/connection_url.hpp"
#include "core/json.hpp"
#include "core/terminal.hpp"

namespace talvo::core {

namespace {

// Shown always; the certificate files only when something names them.
constexpr Setting kAlways[] = {Setting::host, Setting::port, Setting::user, Setting::database,
                               Setting::password, Setting::sslmode};
constexpr Setting kWhenSet[] = {Setting::sslrootcert, Setting::sslcert, Setting::sslkey};

std::vector<Setting> shown_settings(const Target& t) {
  std::vector<Setting> out(std::begin(kAlways), std::end(kAlways));
  for (Setting s : kWhenSet)
    if (t.values.held(s)) out.push_back(s);
  return out;
}

std::string shown_value(const Value& v, Setting s) {
  if (s == Setting::password) return v.held() ? "set" : "not set";
  if (!v.held()) return "not set";
  return visible_text(*v.text);
}

std::string shown_source(const Value& v) {
  return v.held() ? visible_text(describe(v.source)) : std::string();
}

}  // namespace

std::string where_text(const Target& t) {
  std::vector<Setting> settings = shown_settings(t);
  std::size_t name_width = 0, value_width = 0;
  for (Setting s : settings) {
    name_width = std::max(name_width, setting_name(s).size());
    value_width = std::max(value_width, shown_value(t.values[s], s).size());
  }
  std::string out;
  for (Setting s : settings) {
    const Value& v = t.values[s];
    std::string line(setting_name(s));
    line.resize(name_width + 2, ' ');
    std::string value = shown_value(v, s);
    std::string source = shown_source(v);
    line += value;
    if (!source.empty()) {
      line.resize(line.size() + value_width - value.size() + 2, ' ');
      line += source;
    }
    out += line + "\n";
  }
  return out;
}

std::string where_json(const Target& t) {
  std::string out = "{";
  bool first = true;
  for (Setting s : shown_settings(t)) {
    const Value& v = t.values[s];
    if (!std::exchange(first, false)) out += ", ";
    append_json_string(out, setting_name(s));
    out += ": {";
    if (s == Setting::password) {
      out += std::string("\"set\": ") + (v.held() ? "true" : "false");
    } else {
      out += "\"value\": ";
      if (!v.held())
        out += "null";
      else if (s == Setting::port && is_port(*v.text))
        out += *v.text;
      else
        append_json_string(out, visible_text(*v.text));
    }
    out += ", \"source\": ";
    if (v.held())
      append_json_string(out, shown_source(v));
    else
      out += "null";
    out += "}";
  }
  return out + "}\n";
}

}  // namespace talvo::core
