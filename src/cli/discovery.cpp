#include "cli/discovery.hpp"

#include "cli/args.hpp"
#include "output/output.hpp"

namespace talvo::cli {
namespace {

constexpr const char* kTypedNames[] = {"hostname", "user", "port"};

bool settle_one(nb::handle args, nb::handle parser, nb::handle marker, const char* name) {
  if (!nb::getattr(args, name, nb::none()).is(marker)) return true;
  nb::setattr(args, name, parser.attr("get_default")(name));
  return false;
}

// Discovered settings win over the command line for these three.
void copy_settings(nb::handle args, nb::handle db_config) {
  nb::object database = setting(db_config, "database");
  nb::setattr(args, "database",
              truthy(database) ? database : nb::getattr(args, "database", nb::none()));
  nb::object host = setting(db_config, "host");
  nb::setattr(args, "hostname", truthy(host) ? host : nb::getattr(args, "hostname", nb::none()));
  nb::object port = setting(db_config, "port");
  nb::setattr(args, "port",
              truthy(port) ? nb::object(nb::int_(port)) : nb::getattr(args, "port", nb::none()));
}

}  // namespace

TypedOptions::TypedOptions() : marker_(nb::module_::import_("builtins").attr("object")()) {}

nb::object TypedOptions::record() const {
  nb::object record = nb::module_::import_("argparse").attr("Namespace")();
  mark(record);
  return record;
}

void TypedOptions::mark(nb::handle record) const {
  for (const char* name : kTypedNames) nb::setattr(record, name, marker_);
}

settings::GivenOptions TypedOptions::settle(nb::handle args, nb::handle parser) const {
  settings::GivenOptions given;
  given.host = settle_one(args, parser, marker_, "hostname");
  given.user = settle_one(args, parser, marker_, "user");
  given.port = settle_one(args, parser, marker_, "port");
  given.password = !nb::getattr(args, "passwd", nb::none()).is_none();
  given.database = !nb::getattr(args, "database", nb::none()).is_none();
  return given;
}

nb::object discover_settings(nb::handle args, const settings::GivenOptions& given) {
  nb::object db_config = settings::discover_for_command(args, given);
  // The double colon is this line's long-standing text.
  log("info", "db_config:: " + text(output::masked(db_config)));
  if (truthy(db_config)) copy_settings(args, db_config);
  return db_config;
}

}  // namespace talvo::cli
