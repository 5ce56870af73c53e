// Routing a parsed command to its handler, and the one retry with a superuser
// password when the handler failed for want of a privilege.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "bridge/coroutine.hpp"
#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "core/failure.hpp"
#include "core/routes.hpp"
#include "output/prompt.hpp"
#include "output/palette.hpp"

namespace talvo::cli {
namespace {

using output::environment_password;
using output::password_prompt;
using output::process_id;
using output::read_password;


void print_help(nb::handle parser) {
  if (!parser.is_none()) parser.attr("print_help")();
}

bridge::Coroutine _dispatch(nb::object args, nb::object show_parser, nb::object drop_parser) {
  const std::string command = word_of(args, "command");
  const std::string word_attribute(core::word_dest(command));
  const std::string word = word_attribute.empty() ? "" : word_of(args, word_attribute.c_str());
  auto route = core::find_route(command, word);
  if (!route) {
    // A show or drop word the grammar let through: that command's help.
    if (command == "show") print_help(show_parser);
    if (command == "drop") print_help(drop_parser);
    co_return nb::none();
  }
  if (command == "create" && defines(args, "CONFIG")) {
    nb::setattr(args, "up_level", nb::int_(0));
    nb::setattr(args, "down_level", nb::int_(0));
  }
  nb::object result = routine(route->handler)(args);
  // backup is an ordinary routine; should it ever hand back an awaitable,
  // running it is better than dropping the work unnoticed.
  if (command != "backup" || nb::hasattr(result, "__await__")) co_await std::move(result);
  co_return nb::none();
}

// Only the server's own verdict: a settings file the program cannot read
// says "permission denied" too, and no superuser password cures that.
bool names_missing_privilege(const nb::python_error& e) {
  nb::object state = nb::getattr(e.value(), "sqlstate", nb::none());
  return nb::isinstance<nb::str>(state) && core::is_privilege_failure(utf8(state));
}

// Settles args.passwd for the retry; false when the operator gave none.
bool elevate(nb::handle args, nb::handle ask) {
  nb::object from_env = environment_password();
  if (truthy(from_env)) {
    nb::setattr(args, "passwd", from_env);
    log("warning", "🔐 Using password from $PASSWORD", palette::info);
    return true;
  }
  if (truthy(nb::getattr(args, "passwd", nb::none()))) return true;

  std::string prompt = "[" + process_id() + "]Superuser password for " +
                       text(nb::getattr(args, "user", nb::none())) + ": ";
  nb::object answer = read_password(ask, prompt);
  nb::setattr(args, "passwd", answer);
  if (truthy(answer)) return true;
  fail("❌ No password provided. Aborting retry.");
  return false;
}

bridge::Coroutine run_command(nb::object args, nb::object show_parser, nb::object drop_parser) {
  bridge::Traced<> ask = password_prompt();
  bool tried_elevation = false;
  for (;;) {
    std::optional<nb::python_error> failure;
    try {
      co_await _dispatch(args, show_parser, drop_parser);
      co_return nb::none();
    } catch (nb::python_error& e) {
      if (!is_ordinary(e)) throw;
      failure.emplace(std::move(e));
    }
    if (tried_elevation || !names_missing_privilege(*failure)) throw std::move(*failure);
    tried_elevation = true;
    log("warning", "📌 Operation failed due to permission. Attempting to elevate and retry...",
        palette::warning);
    if (!elevate(args, ask)) throw std::move(*failure);
    log("warning", "🔁 Retrying operation with provided superuser password...", palette::info);
  }
}

}  // namespace

void define_routing(nb::module_& m) {
  m.def("run_command", &run_command, "args"_a.none(), "show_parser"_a.none(),
        "drop_parser"_a.none());
}

}  // namespace talvo::cli
