#include "settings/aliases.hpp"

#include <string>

namespace talvo::settings {
namespace {

nb::object lookup(nb::handle cfg, std::string_view key) {
  return cfg.attr("get")(nb::str(key.data(), key.size()));
}

}  // namespace

nb::dict assemble_settings(nb::handle cfg, core::AliasTable table) {
  nb::dict result;
  for (const core::Alias& alias : table) {
    nb::object value;
    core::pick_spelling(alias.spellings, [&](std::string_view key) {
      value = lookup(cfg, key);
      return truthy(value);
    });
    result[nb::str(alias.output_key.data(), alias.output_key.size())] = value;
  }
  return result;
}

void dump_user_and_database_keys(nb::handle cfg) {
  for (std::string_view key : core::dumped_user_keys)
    log("debug", std::string(key) + " = " + text(lookup(cfg, key)));
  for (std::string_view key : core::dumped_database_keys)
    log("debug", "cfg.get(\"" + std::string(key) + "\") = " + text(lookup(cfg, key)));
}

}  // namespace talvo::settings
