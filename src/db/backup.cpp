// backup: prints the pg_dump command line for the operator to run.
#include <ctime>
#include <string>
#include <vector>

#include "core/readout.hpp"
#include "core/shell.hpp"
#include "core/terminal.hpp"
#include "db/db.hpp"
#include "db/report.hpp"
#include "output/palette.hpp"

namespace talvo::db {
namespace {

std::string local_timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return core::format_timestamp(local);
}

void backup_database(nb::object args) {
  if (!settle_database(args, DatabaseName::required)) return;
  std::string database = text(arg(args, "database"));
  std::string backup_file = database + "_backup_" + local_timestamp() + ".sql";
  print("🗄️ Creating backup of '" + core::visible_text(database) + "'...", palette::info, true);
  // Every value is one shell word, whatever it holds, so the line runs as
  // printed and runs nothing else.
  const std::vector<std::string> words = {
      "pg_dump", "-h", text(arg(args, "hostname")), "-p", text(arg(args, "port")),
      "-U",      text(arg(args, "user")), "-d", database, "-F", "p", "-f", backup_file};
  print("💡 Run this command manually:", palette::warning);
  print("   " + core::shell_line(words), palette::success);
}

}  // namespace

void define_backup(nb::module_& m) { m.def("backup_database", &backup_database, "args"_a); }

}  // namespace talvo::db
