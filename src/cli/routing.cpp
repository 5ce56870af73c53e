// Routing a parsed command to its handler, and the one retry with a superuser
// password when the handler failed for want of a privilege.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "bridge/coroutine.hpp"
#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "cli/prompt.hpp"
#include "core/failure.hpp"
#include "output/palette.hpp"

namespace talvo::cli {
namespace {

struct Route {
  std::string_view word;
  const char* handler;
};

constexpr Route kShowRoutes[] = {
    {"dbs", "show_databases"},         {"tables", "show_tables"}, {"users", "show_users"},
    {"connections", "show_connections"}, {"indexes", "show_indexes"}, {"size", "show_size"},
};

constexpr Route kDropRoutes[] = {{"database", "drop_database"}, {"user", "drop_user"}};

const char* lookup(const Route* first, const Route* last, std::string_view word) {
  for (; first != last; ++first)
    if (first->word == word) return first->handler;
  return nullptr;
}

void print_help(nb::handle parser) {
  if (!parser.is_none()) parser.attr("print_help")();
}

bridge::Coroutine _dispatch(nb::object args, nb::object show_parser, nb::object drop_parser) {
  std::string command = word_of(args, "command");
  if (command == "create") {
    if (defines(args, "CONFIG")) {
      nb::setattr(args, "up_level", nb::int_(0));
      nb::setattr(args, "down_level", nb::int_(0));
    }
    co_await routine("create_user_db")(args);
  } else if (command == "show") {
    std::string word = word_of(args, "show_command");
    if (const char* handler = lookup(std::begin(kShowRoutes), std::end(kShowRoutes), word))
      co_await routine(handler)(args);
    else
      print_help(show_parser);
  } else if (command == "describe") {
    co_await routine("describe_table")(args);
  } else if (command == "query") {
    co_await routine("execute_query")(args);
  } else if (command == "backup") {
    // An ordinary routine; should it ever hand back an awaitable, running
    // it is better than dropping the work unnoticed.
    nb::object result = routine("backup_database")(args);
    if (nb::hasattr(result, "__await__")) co_await std::move(result);
  } else if (command == "drop") {
    std::string word = word_of(args, "drop_command");
    if (const char* handler = lookup(std::begin(kDropRoutes), std::end(kDropRoutes), word))
      co_await routine(handler)(args);
    else
      print_help(drop_parser);
  }
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
