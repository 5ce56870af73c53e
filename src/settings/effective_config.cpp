// The host, port, user and password a handler connects with. Discovered
// settings win over the host, port and user options; the password option
// wins over a discovered password.
#include "settings/scope.hpp"
#include "settings/settings.hpp"
#include "settings/target.hpp"

namespace talvo::settings {
namespace {

nb::dict get_db_config_or_args(nb::object args) {
  nb::object settings = routine("parse_django_settings")(
      args.attr("CONFIG_FILE"), "max_depth_up"_a = args.attr("up_level"),
      "max_depth_down"_a = args.attr("down_level"));
  core::Values config = core::db_config(settings_values(settings), options_of(args, given_options()));
  nb::dict db_config;
  db_config["host"] = as_text(config[core::Setting::host]);
  db_config["port"] = as_text(config[core::Setting::port]);
  db_config["user"] = as_text(config[core::Setting::user]);
  db_config["password"] = as_text(config[core::Setting::password]);
  return db_config;
}

}  // namespace

void define_effective_config(nb::module_& m) {
  m.def("get_db_config_or_args", &get_db_config_or_args, "args"_a,
        "Get database config from settings or args");
}

}  // namespace talvo::settings
