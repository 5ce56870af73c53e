// The key spellings under which the five connection values are looked up,
// and the debug dump of the user and database-name spellings. Each list is
// used exactly in the order written: the first truthy value wins.
#pragma once

#include <span>

#include "pyutil.hpp"

namespace talvo::settings {

using KeyList = std::span<const char* const>;

struct Alias {
  const char* output_key;
  KeyList spellings;
};

// Output keys in the order the settings dictionary holds them:
// username, password, database, host, port.
using AliasTable = std::span<const Alias>;

// An entry of a Django DATABASES setting.
extern const AliasTable django_aliases;
// A configuration file read by the .env loader (.env, .json, .yaml, ...).
extern const AliasTable config_aliases;

// The settings dictionary: for each output key, the first truthy cfg.get()
// among its spellings, else whatever the last spelling gave.
nb::dict assemble_settings(nb::handle cfg, AliasTable table);

// 54 debug lines with the raw values of the user and database-name keys.
void dump_user_and_database_keys(nb::handle cfg);

}  // namespace talvo::settings
