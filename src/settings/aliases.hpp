// The settings dictionary assembled from a source mapping under one of the
// alias tables of the core, and the debug dump of the raw user and
// database-name values.
#pragma once

#include "core/aliases.hpp"
#include "pyutil.hpp"

namespace talvo::settings {

// For each output key, cfg.get() of the spelling the core picks.
nb::dict assemble_settings(nb::handle cfg, core::AliasTable table);

// 54 debug lines with the raw values of the user and database-name keys.
void dump_user_and_database_keys(nb::handle cfg);

}  // namespace talvo::settings
