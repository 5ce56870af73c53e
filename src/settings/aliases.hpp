// The settings dictionary assembled from a source mapping under one of the
// alias tables of the core, and the debug dump of the raw user and
// database-name values.
#pragma once

#include <string>

#include "core/aliases.hpp"
#include "core/target.hpp"
#include "pyutil.hpp"

namespace talvo::settings {

struct Assembled {
  nb::dict settings;
  core::Values sources;  // each value's spelling in the file at `path`
};

// For each output key, cfg.get() of the spelling the core picks.
Assembled assemble_settings(nb::handle cfg, core::AliasTable table, const std::string& path);

// 54 debug lines with the raw values of the user and database-name keys.
void dump_user_and_database_keys(nb::handle cfg);

}  // namespace talvo::settings
