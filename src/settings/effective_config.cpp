// The host, port, user and password a handler connects with. Discovered
// settings win over the host, port and user options; the password option
// wins over a discovered password.
#include "core/precedence.hpp"
#include "settings/settings.hpp"

namespace talvo::settings {
namespace {

nb::object from(core::From source, nb::handle setting, nb::handle option) {
  return nb::borrow(source == core::From::settings ? setting : option);
}

nb::dict get_db_config_or_args(nb::object args) {
  nb::object settings = routine("parse_django_settings")(
      args.attr("CONFIG_FILE"), "max_depth_up"_a = args.attr("up_level"),
      "max_depth_down"_a = args.attr("down_level"));

  nb::object host = args.attr("hostname"), port = args.attr("port"), user = args.attr("user"),
             passwd = args.attr("passwd");
  nb::object s_host = nb::none(), s_port = nb::none(), s_user = nb::none(), s_password = nb::none();
  std::optional<core::Held> found;
  if (truthy(settings)) {
    nb::object get = settings.attr("get");
    s_host = get("host");
    s_port = get("port");
    s_user = get("username");
    s_password = get("password");
    found = core::Held{truthy(s_host), truthy(s_port), truthy(s_user), truthy(s_password), false};
  }
  core::DbConfigPicks picks = core::pick_db_config(
      found, core::Held{truthy(host), truthy(port), truthy(user), truthy(passwd), false});

  nb::dict db_config;
  db_config["host"] = from(picks.host, s_host, host);
  db_config["port"] = from(picks.port, s_port, port);
  db_config["user"] = from(picks.user, s_user, user);
  db_config["password"] = from(picks.password, s_password, passwd);
  return db_config;
}

}  // namespace

void define_effective_config(nb::module_& m) {
  m.def("get_db_config_or_args", &get_db_config_or_args, "args"_a,
        "Get database config from settings or args");
}

}  // namespace talvo::settings
