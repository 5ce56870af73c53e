// talvo --where COMMAND ...: where that command would connect, and why,
// without connecting or asking anything.
#include <string>

#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "core/data_format.hpp"
#include "core/routes.hpp"
#include "core/where.hpp"
#include "output/output.hpp"
#include "settings/project.hpp"
#include "settings/target.hpp"

namespace talvo::cli {

// The command's route tells which connection it opens; a command that
// needs a database name and finds none says so as the command would.
bool print_where(nb::handle args) {
  const std::string command = word_of(args, "command");
  const std::string word_attribute(core::word_dest(command));
  auto route = core::find_route(
      command, word_attribute.empty() ? std::string() : word_of(args, word_attribute.c_str()));
  core::Purpose purpose = route ? route->purpose : core::Purpose::maintenance;
  core::Target target = settings::command_target(args, purpose);
  if (route && route->database != core::DatabaseName::not_used && !target.database_found) {
    if (route->database == core::DatabaseName::required) {
      fail("❌ Database name required. Use -d/--database");
      settings::print_nothing_found_hint(args);
      return false;
    }
    target = settings::command_target(args, core::Purpose::maintenance);
  }
  bool json = core::parse_format(word_of(args, "format")) == core::DataFormat::json;
  output::write_data(json ? core::where_json(target) : core::where_text(target));
  output::flush_data();
  return true;
}

}  // namespace talvo::cli
