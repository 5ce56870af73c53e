#include "core/document.hpp"

#include <cctype>

namespace talvo::core {

Node Node::text(std::string s) {
  Node n;
  n.kind = Kind::text;
  n.scalar = std::move(s);
  return n;
}

Node Node::number(std::string decimal) {
  Node n;
  n.kind = Kind::number;
  n.scalar = std::move(decimal);
  return n;
}

Node Node::boolean(bool b) {
  Node n;
  n.kind = Kind::boolean;
  n.scalar = b ? "true" : "false";
  return n;
}

Node Node::map() {
  Node n;
  n.kind = Kind::map;
  return n;
}

Node Node::list() {
  Node n;
  n.kind = Kind::list;
  return n;
}

Node& Node::add(std::string key, Node value) {
  entries.emplace_back(std::move(key), std::move(value));
  return entries.back().second;
}

const Node* Node::get(std::string_view key) const {
  for (const auto& [k, v] : entries)
    if (k == key) return &v;
  return nullptr;
}

const Node* Node::get_nocase(std::string_view key) const {
  for (const auto& [k, v] : entries)
    if (iequals(k, key)) return &v;
  return nullptr;
}

std::optional<std::string> Node::value() const {
  if (kind == Kind::text || kind == Kind::number) return scalar;
  return std::nullopt;
}

std::optional<std::string> value_at(const Node* map, std::string_view key) {
  if (map == nullptr || !map->is_map()) return std::nullopt;
  const Node* n = map->get(key);
  return n ? n->value() : std::nullopt;
}

std::optional<std::string> value_at_nocase(const Node* map, std::string_view key) {
  if (map == nullptr || !map->is_map()) return std::nullopt;
  const Node* n = map->get_nocase(key);
  return n ? n->value() : std::nullopt;
}

namespace {

void flatten_into(const Node& map, const std::string& prefix, Node& out) {
  for (const auto& [key, value] : map.entries) {
    std::string name = prefix.empty() ? key : prefix + "." + key;
    if (value.is_map())
      flatten_into(value, name, out);
    else if (value.value())
      out.add(std::move(name), value);
  }
}

}  // namespace

namespace {

void flatten_settings(const Node& node, const std::string& key, std::string_view file,
                      std::uint32_t line, std::vector<KeyValue>& out) {
  if (node.is_map()) {
    for (const auto& [k, v] : node.entries)
      flatten_settings(v, key.empty() ? k : key + "." + k, file, v.line, out);
  } else if (node.kind == Node::Kind::list) {
    for (std::size_t i = 0; i < node.items.size(); ++i) {
      const Node& item = node.items[i];
      flatten_settings(item, key + "." + std::to_string(i), file, item.line ? item.line : line, out);
    }
  } else if (auto v = node.value()) {
    out.push_back({key, std::move(*v), std::string(file), line});
  }
}

}  // namespace

std::vector<KeyValue> flatten(const Node& document, std::string_view file) {
  std::vector<KeyValue> out;
  flatten_settings(document, "", file, document.line, out);
  return out;
}

Node flatten_dotted(const Node& map) {
  Node out = Node::map();
  if (map.is_map()) flatten_into(map, "", out);
  return out;
}

namespace {
char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
  return true;
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower_ascii(c);
  return out;
}

std::string_view trim(std::string_view s) {
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace talvo::core
