#include "settings/aliases.hpp"

#include <string>

#include "settings/target.hpp"

namespace talvo::settings {
namespace {

nb::object lookup(nb::handle cfg, std::string_view key) {
  return cfg.attr("get")(nb::str(key.data(), key.size()));
}

}  // namespace

Assembled assemble_settings(nb::handle cfg, core::AliasTable table, const std::string& path) {
  // The table's output keys are username, password, database, host, port.
  constexpr core::Setting kSettings[] = {core::Setting::user, core::Setting::password,
                                         core::Setting::database, core::Setting::host,
                                         core::Setting::port};
  Assembled out;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const core::Alias& alias = table[i];
    nb::object value;
    std::size_t picked = core::pick_spelling(alias.spellings, [&](std::string_view key) {
      value = lookup(cfg, key);
      return truthy(value);
    });
    out.settings[nb::str(alias.output_key.data(), alias.output_key.size())] = value;
    out.sources[kSettings[i]] = value_of(
        value, {core::Source::Kind::file, path, std::string(alias.spellings[picked]), 0});
  }
  add_key_lines(out.sources);
  return out;
}

void dump_user_and_database_keys(nb::handle cfg) {
  for (std::string_view key : core::dumped_user_keys)
    log("debug", std::string(key) + " = " + text(lookup(cfg, key)));
  for (std::string_view key : core::dumped_database_keys)
    log("debug", "cfg.get(\"" + std::string(key) + "\") = " + text(lookup(cfg, key)));
}

}  // namespace talvo::settings
