// A parsed configuration document as the settings rules see it: what .env,
// JSON, YAML, TOML, INI, Java properties files and Python mappings have in
// common. The binding layer builds it from whatever parser read the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvo::core {

struct Node {
  enum class Kind : unsigned char { null, boolean, number, text, list, map };

  Kind kind = Kind::null;
  // Text, or the decimal form of a number, or "true"/"false".
  std::string scalar;
  std::vector<Node> items;                            // a list
  std::vector<std::pair<std::string, Node>> entries;  // a map, in document order
  // The line of the file where the key of this value is written, when the
  // reader knows it; 0 otherwise.
  std::uint32_t line = 0;

  static Node text(std::string s);
  static Node number(std::string decimal);
  static Node boolean(bool b);
  static Node map();
  static Node list();

  bool is_map() const { return kind == Kind::map; }

  // Adds an entry to a map; a later entry with the same key shadows nothing
  // (lookups take the first), as the parsers give each key once.
  Node& add(std::string key, Node value);

  const Node* get(std::string_view key) const;
  // ASCII case-insensitive: INI and properties keys are written either way.
  const Node* get_nocase(std::string_view key) const;

  // The value of a text or number as text; booleans, lists, maps and nulls
  // carry no connection value.
  std::optional<std::string> value() const;
};

// The scalar under `key` of a map, if any.
std::optional<std::string> value_at(const Node* map, std::string_view key);
std::optional<std::string> value_at_nocase(const Node* map, std::string_view key);

// One scalar of a document, under its dotted key, and where it is written.
struct KeyValue {
  std::string key;
  std::string value;
  std::string file;
  std::uint32_t line = 0;
};

// Every text and number of a document under its dotted key: maps by their
// keys, lists by their positions ("datasources.default.url",
// "services.db.ports.0"). Booleans and nulls carry no connection value.
std::vector<KeyValue> flatten(const Node& document, std::string_view file);

// Nested maps flattened to dotted keys ("spring.datasource.url"), as Spring
// reads YAML; scalars only.
Node flatten_dotted(const Node& map);

bool iequals(std::string_view a, std::string_view b);
std::string ascii_lower(std::string_view s);
// Without the blanks (spaces, tabs, line ends) around it.
std::string_view trim(std::string_view s);

}  // namespace talvo::core
