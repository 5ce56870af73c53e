#include "core/origins.hpp"

#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace talvo::core {

namespace {

std::vector<std::pair<std::string, std::string>> scalar_entries(const Node& document) {
  std::vector<std::pair<std::string, std::string>> out;
  Node flat = flatten_dotted(document);
  for (const auto& [key, node] : flat.entries)
    if (auto v = node.value()) out.emplace_back(key, *v);
  return out;
}

std::string_view strip_quotes(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    return s.substr(1, s.size() - 2);
  return s;
}

// Whether `line` writes `key`: the key, bare or quoted, then a separator.
bool writes_key(std::string_view line, std::string_view key) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (line.starts_with("export ")) line.remove_prefix(7);
  for (std::string_view quote : {"", "\"", "'"}) {
    std::string written = std::string(quote) + std::string(key) + std::string(quote);
    if (!line.starts_with(written)) continue;
    std::string_view rest = line.substr(written.size());
    if (rest.empty() || rest.front() == '=' || rest.front() == ':' || rest.front() == ' ' ||
        rest.front() == '\t')
      return true;
  }
  return false;
}

}  // namespace

namespace {

// Words that a key naming each setting tends to hold, in lower case.
bool key_speaks_of(std::string_view key, Setting s) {
  std::string k = ascii_lower(key);
  auto has = [&](std::initializer_list<std::string_view> words) {
    for (std::string_view w : words)
      if (k.find(w) != std::string::npos) return true;
    return false;
  };
  switch (s) {
    case Setting::host: return has({"host", "server", "addr"});
    case Setting::port: return has({"port"});
    case Setting::user: return has({"user", "login", "role"});
    case Setting::password: return has({"pass", "pwd", "secret"});
    case Setting::database:
      // "name" alone: a NAME under a database entry, never APP_NAME.
      return has({"db", "database"}) || k == "name" || k.ends_with(".name");
    default: return has({"ssl", "cert", "key"});
  }
}

bool looks_like_connection_string(std::string_view v) {
  return v.find("://") != std::string_view::npos || v.find('=') != std::string_view::npos;
}

// Lower is better: the value itself under a key that speaks of it; inside
// a URL or connection string; the value itself anywhere; inside anything.
int rank(const std::pair<std::string, std::string>& entry, Setting s, const std::string& value) {
  bool same = strip_quotes(entry.second) == value;
  if (!same && entry.second.find(value) == std::string::npos) return 0;
  if (same && key_speaks_of(entry.first, s)) return 1;
  if (!same && looks_like_connection_string(entry.second)) return 2;
  return same ? 3 : 4;
}

}  // namespace

void locate_sources(const Node& document, Found& found) {
  std::vector<std::pair<std::string, std::string>> entries;
  bool listed = false;
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    Source& source = found.sources[i];
    const auto& value = setting(found.endpoint, static_cast<Setting>(i));
    if (source.kind != Source::Kind::none || !value || value->empty()) continue;
    if (!std::exchange(listed, true)) entries = scalar_entries(document);
    const std::pair<std::string, std::string>* best = nullptr;
    int best_rank = 0;
    for (const auto& entry : entries) {
      int r = rank(entry, static_cast<Setting>(i), *value);
      if (r != 0 && (best == nullptr || r < best_rank)) {
        best = &entry;
        best_rank = r;
      }
    }
    if (best) source = {Source::Kind::file, found.path, best->first, 0};
  }
}

namespace {

// An INI section header for `name`: "[name]".
bool opens_section(std::string_view line, std::string_view name) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line.size() >= name.size() + 2 && line.front() == '[' &&
         line.substr(1, name.size()) == name && line[name.size() + 1] == ']';
}

int line_by_parts(std::string_view text, std::string_view dotted_key) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    std::size_t dot = dotted_key.find('.', start);
    parts.push_back(dotted_key.substr(start, dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  std::size_t part = 0;
  int number = 0;
  while (!text.empty()) {
    ++number;
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    bool here = writes_key(line, parts[part]) ||
                (part + 1 < parts.size() && opens_section(line, parts[part]));
    if (here && ++part == parts.size()) return number;
  }
  return 0;
}

}  // namespace

int key_line(std::string_view text, std::string_view dotted_key) {
  if (dotted_key.empty()) return 0;
  // Written whole (properties files, .env), else part by part (YAML
  // nesting, JSON objects, INI sections).
  int number = 0;
  for (std::string_view rest = text; !rest.empty();) {
    ++number;
    std::size_t end = rest.find('\n');
    if (writes_key(rest.substr(0, end), dotted_key)) return number;
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return dotted_key.find('.') == std::string_view::npos ? 0 : line_by_parts(text, dotted_key);
}

}  // namespace talvo::core
