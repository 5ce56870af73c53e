// The program's entry point.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nanobind/stl/string_view.h>

#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "cli/discovery.hpp"
#include "core/completion.hpp"
#include "core/data_format.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"
#include "settings/project.hpp"
#include "settings/scope.hpp"

namespace talvo::cli {
namespace {

constexpr std::string_view kVersionWords[] = {"--version", "-v"};

// Set by the completion scripts on every press of TAB.
constexpr const char* kCompletionVariable = "_ARGCOMPLETE";

bool completing() {
  nb::object environ = nb::module_::import_("os").attr("environ");
  return truthy(environ.attr("__contains__")(kCompletionVariable));
}

// `talvo --completion SHELL`, answered before the grammar is even built:
// shells run it at every start.
std::optional<std::string> completion_script_requested(nb::handle argv) {
  std::vector<std::string> held;
  bool program_name = true;
  for (nb::handle word : argv) {
    if (std::exchange(program_name, false)) continue;
    if (!nb::isinstance<nb::str>(word)) return std::nullopt;
    held.push_back(utf8(word));
  }
  std::vector<std::string_view> words(held.begin(), held.end());
  auto shell = core::completion_request(words);
  if (!shell) return std::nullopt;
  return std::string(*shell);
}

bool version_requested(nb::handle argv) {
  for (nb::handle word : argv) {
    if (!nb::isinstance<nb::str>(word)) continue;
    auto w = nb::cast<std::string_view>(word);
    for (auto v : kVersionWords)
      if (w == v) return true;
  }
  return false;
}

void print_version_line() {
  nb::module_ markup = nb::module_::import_("rich.markup");
  // The version is data, not markup: a bracket in it must neither vanish nor
  // break the line. No highlighter either, so the number keeps its colour.
  nb::object version = markup.attr("escape")(routine("get_version")());
  nb::str line = nb::str("📦 [bold #FFFF00]Version:[/] [bold #00FFFF]{}[/]").format(version);
  nb::module_::import_("rich.console").attr("Console")().attr("print")(line, "highlight"_a = false);
}


nb::object subcommand_parser(nb::handle parser, const char* command, const char* word) {
  for (nb::handle action : parser.attr("_actions")) {
    if (word_of(action, "dest") != command) continue;
    return action.attr("choices").attr("get")(word);
  }
  return nb::none();
}

struct Parsed {
  nb::object args;
  settings::GivenOptions given;
};

Parsed parse_command_line(nb::handle parser, nb::handle words) {
  TypedOptions typed;
  typed.mark_levels(parser);
  nb::object args = parser.attr("parse_args")(words, typed.record());
  settings::GivenOptions given = typed.settle(args, parser);
  return {args, given};
}

std::optional<core::DataFormat> format_arg(nb::handle args, const char* name) {
  nb::object value = nb::getattr(args, name, nb::none());
  if (value.is_none()) return std::nullopt;
  return core::parse_format(text(value));
}

// A command that takes --format gets the one it uses in args.format, and
// from then on its messages keep off standard output when that is CSV or
// JSON. The other commands print as they always have.
void settle_format(nb::handle args) {
  // --where takes either format for its own output, whatever the command.
  if (!defines(args, "format") && !truthy(arg(args, "where"))) return;
  core::DataFormat format =
      core::settle_format(format_arg(args, "global_format"), format_arg(args, "format"));
  std::string_view name = core::format_name(format);
  nb::setattr(args, "format", nb::str(name.data(), name.size()));
  output::MessagesAside::set(format != core::DataFormat::table);
}

void run_to_completion(nb::object coroutine) {
  // A Runner cancels the task on Ctrl-C and lets it finish its cleanup
  // before the interruption goes on.
  nb::object runner = nb::module_::import_("asyncio").attr("Runner")();
  try {
    runner.attr("run")(coroutine);
  } catch (...) {
    runner.attr("close")();
    throw;
  }
  runner.attr("close")();
}

// SIGTERM ends a command the way Ctrl-C does: the handler raises
// KeyboardInterrupt, so the running handler is cancelled (its statement with
// it) and closes its connection; only the last line and status differ.
bool terminated = false;

class TerminationHandler {
 public:
  TerminationHandler() {
    nb::module_ signal = nb::module_::import_("signal");
    nb::object raise_interrupt = nb::cpp_function([](nb::args) {
      terminated = true;
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      throw nb::python_error();
    });
    try {
      previous_ = signal.attr("signal")(signal.attr("SIGTERM"), raise_interrupt);
    } catch (nb::python_error& e) {
      if (!e.matches(PyExc_ValueError)) throw;  // not the main thread: leave it be
    }
  }
  ~TerminationHandler() {
    if (!previous_.is_valid()) return;
    undo_quietly([&] {
      nb::module_ signal = nb::module_::import_("signal");
      signal.attr("signal")(signal.attr("SIGTERM"), previous_);
    });
  }
  TerminationHandler(const TerminationHandler&) = delete;
  TerminationHandler& operator=(const TerminationHandler&) = delete;

 private:
  nb::object previous_;
};

constexpr int kInterruptedStatus = 130;  // 128 + SIGINT, as shells report it
constexpr int kTerminatedStatus = 143;   // 128 + SIGTERM


// What reached main instead of a normal end: one line and a status, never
// a traceback unless one was asked for.
[[noreturn]] void end_on(nb::python_error& e) {
  if (e.matches(PyExc_KeyboardInterrupt)) {
    print(terminated ? "❌ Terminated" : "❌ Interrupted", palette::error, true);
    exit_process(terminated ? kTerminatedStatus : kInterruptedStatus);
  }
  if (!is_ordinary(e)) throw e;
  if (env_flag("TRACEBACK")) output::print_exception(e);
  std::string reason = message(e);
  if (reason.empty()) reason = text(e.type().attr("__name__"));
  print("❌ Error: " + reason, palette::error, true);
  exit_process(1);
}

void run_command_line() {
  if (completing()) {
    routine("complete_command_line")();
    return;
  }
  nb::object argv = nb::module_::import_("sys").attr("argv");
  if (auto shell = completion_script_requested(argv)) {
    routine("print_completion_script")(*shell);
    exit_process(0);
  }
  settings::DiscoveryScope scope;
  if (version_requested(argv)) {
    print_version_line();
    exit_process(0);
  }

  nb::object parser = routine("setup_argument_parser")();
  if (nb::len(argv) == 1) {
    parser.attr("print_help")();
    exit_process(1);
  }
  nb::list words;
  bool program_name = true;
  for (nb::handle word : argv) {
    if (!std::exchange(program_name, false)) words.append(word);
  }
  auto [args, given] = parse_command_line(parser, words);
  settings::note_given_options(given);
  // Among other top-level options the request goes through the grammar.
  nb::object shell = arg(args, "completion");
  if (!shell.is_none()) {
    routine("print_completion_script")(shell);
    exit_process(0);
  }
  settle_format(args);

  if (defines(args, "CONFIG")) {
    nb::setattr(args, "up_level", nb::int_(0));
    nb::setattr(args, "down_level", nb::int_(0));
  }
  const bool where = truthy(arg(args, "where"));
  // What --where prints is the data; every message goes beside it.
  if (where) output::MessagesAside::set(true);
  nb::object db_config = discover_settings(args, given);
  settings::require_readable_settings(args, db_config);
  if (where) {
    print_where(args);
    return;
  }

  if (truthy(nb::getattr(args, "debug", nb::none()))) log("warning", "🐞 Debug mode enabled");
  log("warning", "args.command: " + text(nb::getattr(args, "command", nb::none())));

  routine("ensure_superuser_password")(args, db_config);

  nb::object show_parser = subcommand_parser(parser, "command", "show");
  nb::object drop_parser = subcommand_parser(parser, "command", "drop");
  run_to_completion(routine("run_command")(args, show_parser, drop_parser));
}

void main_entry() {
  reset_outcome();
  output::MessagesAside::set(false);
  terminated = false;
  TerminationHandler on_sigterm;
  // What is still buffered for standard output fails here, not as the
  // interpreter ends (where it would be a traceback and status 120).
  try {
    try {
      run_command_line();
    } catch (nb::python_error& e) {
      if (e.matches(PyExc_SystemExit)) throw;
      end_on(e);
    } catch (std::exception& e) {
      // A failure of the program's own C++ code: one line all the same.
      print("❌ Error: " + core::error_text(e.what()), palette::error, true);
      exit_process(1);
    }
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_SystemExit)) output::flush_data();
    throw;
  }
  output::flush_data();
  if (command_failed()) exit_process(1);
}

}  // namespace

void define_main(nb::module_& m) { m.def("main", &main_entry); }

}  // namespace talvo::cli
