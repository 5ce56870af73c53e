#include "cli/discovery.hpp"

#include "cli/args.hpp"
#include "output/output.hpp"
#include "settings/target.hpp"

namespace talvo::cli {
namespace {

constexpr const char* kTypedNames[] = {"hostname", "user", "port"};

bool settle_one(nb::handle args, nb::handle parser, nb::handle marker, const char* name) {
  if (!nb::getattr(args, name, nb::none()).is(marker)) return true;
  nb::setattr(args, name, parser.attr("get_default")(name));
  return false;
}

// The discovery's database, host and port go onto the record.
void copy_settings(nb::handle args, nb::handle db_config, const settings::GivenOptions& given) {
  core::Options record = core::with_discovered(settings::options_of(args, given),
                                               settings::settings_values(db_config));
  nb::setattr(args, "database", settings::as_text(record.values[core::Setting::database]));
  nb::setattr(args, "hostname", settings::as_text(record.values[core::Setting::host]));
  nb::setattr(args, "port", settings::as_port(record.values[core::Setting::port]));
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

namespace {

// Sets the default of every -ul of `parser` and its subcommands to `to`
// where it is `from` (any value when `from` is null); tells whether one was.
bool swap_level_defaults(nb::handle parser, nb::handle from, nb::handle to) {
  bool swapped = false;
  for (nb::handle action : parser.attr("_actions")) {
    if (word_of(action, "dest") == "up_level") {
      nb::object current = action.attr("default");
      if (!from.is_valid() || current.is(from)) {
        nb::setattr(action, "default", to);
        swapped = true;
      }
    }
    nb::object choices = nb::getattr(action, "choices", nb::none());
    if (nb::isinstance<nb::dict>(choices))
      for (nb::handle sub : nb::borrow<nb::dict>(choices).values())
        swapped = swap_level_defaults(sub, from, to) || swapped;
  }
  return swapped;
}

}  // namespace

void TypedOptions::mark_levels(nb::handle parser) const {
  swap_level_defaults(parser, nb::handle(), marker_);
}

settings::GivenOptions TypedOptions::settle(nb::handle args, nb::handle parser) const {
  settings::GivenOptions given;
  bool marked = swap_level_defaults(parser, marker_, nb::int_(0));
  nb::object up = nb::getattr(args, "up_level", nb::none());
  if (up.is(marker_)) {
    nb::setattr(args, "up_level", nb::int_(0));
  } else if (!up.is_none()) {
    // Without the markers only a level other than 0 tells it was typed.
    given.up_level = marked || !up.equal(nb::int_(0));
  }
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
  if (truthy(db_config)) copy_settings(args, db_config, given);
  return db_config;
}

}  // namespace talvo::cli
