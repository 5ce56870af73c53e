// The superuser password policy: create and drop always run as the
// superuser, so their password is settled before routing.
#include <string>
#include <string_view>

#include <nanobind/stl/string_view.h>

#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "output/prompt.hpp"
#include "output/palette.hpp"

namespace talvo::cli {
namespace {

using output::environment_password;
using output::password_prompt;
using output::process_id;
using output::read_password;

constexpr std::string_view kSuperuserCommands[] = {"create", "drop"};

bool command_requires_superuser(nb::object args) {
  if (args.is_none()) return false;
  nb::object command = nb::getattr(args, "command", nb::none());
  if (!nb::isinstance<nb::str>(command)) return false;
  auto word = nb::cast<std::string_view>(command);
  for (auto name : kSuperuserCommands)
    if (word == name) return true;
  return false;
}

void ensure_superuser_password(nb::object args, nb::object db_config) {
  nb::object ask = password_prompt();
  nb::object required = routine("command_requires_superuser")(args);
  log("debug", "check command_requires_superuser(args): " + text(required));
  if (!truthy(required)) return;

  if (truthy(nb::getattr(args, "passwd", nb::none()))) return;

  nb::object from_settings = setting(db_config, "password");
  if (truthy(from_settings)) {
    nb::setattr(args, "passwd", from_settings);
    log("warning", "🔐 Using password from settings", palette::info);
    return;
  }

  nb::object from_env = environment_password();
  if (truthy(from_env)) {
    nb::setattr(args, "passwd", from_env);
    log("warning", "🔐 Using password from $PASSWORD", palette::info);
    return;
  }

  std::string prompt = "[" + process_id() + "]Password for " +
                       text(nb::getattr(args, "user", nb::none())) + ": ";
  nb::setattr(args, "passwd", read_password(ask, prompt));
}

}  // namespace

void define_password_policy(nb::module_& m) {
  m.def("command_requires_superuser", &command_requires_superuser, "args"_a.none());
  m.def("ensure_superuser_password", &ensure_superuser_password, "args"_a.none(),
        "db_config"_a.none());
}

}  // namespace talvo::cli
