// The key spellings under which the five connection values are looked up in
// a settings source, and the debug dump of the user and database-name
// spellings. Each list is used exactly in the order written: the first
// truthy value wins.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace talvo::core {

using KeyList = std::span<const std::string_view>;

struct Alias {
  std::string_view output_key;
  KeyList spellings;
};

// Output keys in the order the settings dictionary holds them:
// username, password, database, host, port.
using AliasTable = std::span<const Alias, 5>;

// An entry of a Django DATABASES setting.
extern const AliasTable django_aliases;
// A configuration file read by the .env loader (.env, .json, .yaml, ...).
extern const AliasTable config_aliases;

// Dumped at debug level after a configuration file qualified: not the lookup
// lists (DB_USERNAME and db_username are left out, and the three *_DATABASE
// spellings come first).
extern const KeyList dumped_user_keys;
extern const KeyList dumped_database_keys;

// The spelling whose value is taken: the first one `truthy` accepts, else
// the last one (whose value is kept as it is, empty or missing). Spellings
// after the first truthy one are not asked about.
template <class Truthy>
std::size_t pick_spelling(KeyList spellings, Truthy&& truthy) {
  for (std::size_t i = 0; i < spellings.size(); ++i)
    if (truthy(spellings[i])) return i;
  return spellings.size() - 1;
}

}  // namespace talvo::core
