// The host, port, user and password a handler connects with. Discovered
// settings win over the host, port and user options; the password option
// wins over a discovered password.
#include "settings/settings.hpp"

namespace talvo::settings {
namespace {

nb::object first_truthy(nb::object a, nb::object b) { return truthy(a) ? a : b; }

nb::dict get_db_config_or_args(nb::object args) {
  nb::object settings = routine("parse_django_settings")(
      args.attr("CONFIG_FILE"), "max_depth_up"_a = args.attr("up_level"),
      "max_depth_down"_a = args.attr("down_level"));

  nb::dict db_config;
  if (truthy(settings)) {
    nb::object get = settings.attr("get");
    db_config["host"] = first_truthy(get("host"), args.attr("hostname"));
    db_config["port"] = first_truthy(get("port"), args.attr("port"));
    db_config["user"] = first_truthy(get("username"), args.attr("user"));
    db_config["password"] = first_truthy(args.attr("passwd"), get("password"));
  } else {
    db_config["host"] = args.attr("hostname");
    db_config["port"] = args.attr("port");
    db_config["user"] = args.attr("user");
    db_config["password"] = args.attr("passwd");
  }
  return db_config;
}

}  // namespace

void define_effective_config(nb::module_& m) {
  m.def("get_db_config_or_args", &get_db_config_or_args, "args"_a,
        "Get database config from settings or args");
}

}  // namespace talvo::settings
