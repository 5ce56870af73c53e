// Start-up: the debug switch is read from the raw argument words, before and
// apart from the grammar, and handed to the rest of the process through the
// environment (the logger factory reads DEBUG, handlers read TRACEBACK).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nanobind/stl/string_view.h>

#include "cli/cli.hpp"
#include "core/data_format.hpp"

namespace talvo::cli {
namespace {

bool debug_switch_given(nb::handle argv) {
  if (nb::len(argv) <= 1) return false;
  for (nb::handle word : argv) {
    if (!nb::isinstance<nb::str>(word)) continue;
    std::string_view w = nb::cast<std::string_view>(word);
    // Whole words only; "-d" is also the short form of --database, so
    // "show tables -d sales" switches debug on as well.
    if (w == "--debug" || w == "-d") return true;
  }
  return false;
}

// With CSV or JSON asked for, standard output is for the data alone, so the
// start-up line goes to standard error like every other message. The
// grammar has not run yet: the raw words say which format it will settle on.
bool data_format_asked(nb::handle argv) {
  std::vector<std::string> words;
  bool program_name = true;
  for (nb::handle word : argv) {
    if (std::exchange(program_name, false) || !nb::isinstance<nb::str>(word)) continue;
    words.push_back(utf8(word));
  }
  std::vector<std::string_view> views(words.begin(), words.end());
  auto format = core::format_in_words(views);
  return format && *format != core::DataFormat::table;
}

// os.environ, not setenv(): os.environ is the process's own view and writes
// through to the C environment that child processes inherit.
void set_flag(nb::handle environ, const char* name) { environ[name] = "1"; }

// The facilities every run relies on are bound before anything else, so a
// broken interpreter fails the module load rather than some later command.
// Everything else is imported by the routine that needs it: asyncio by the
// commands that run on the event loop, so that the version line and a press
// of TAB do without it.
constexpr const char* kStandardFacilities[] = {"os", "sys", "urllib.parse"};

}  // namespace

void scan_debug_switch() {
  for (const char* name : kStandardFacilities) nb::module_::import_(name);
  nb::object environ = nb::module_::import_("os").attr("environ");
  nb::object argv = nb::module_::import_("sys").attr("argv");
  if (debug_switch_given(argv)) {
    nb::module_ sys = nb::module_::import_("sys");
    nb::object stream = sys.attr(data_format_asked(argv) ? "stderr" : "stdout");
    nb::module_::import_("builtins").attr("print")("🐞 Debug mode enabled", "file"_a = stream);
    set_flag(environ, "DEBUG");
    set_flag(environ, "LOGGING");
    environ.attr("pop")("NO_LOGGING", nb::none());
    set_flag(environ, "TRACEBACK");
  } else {
    set_flag(environ, "NO_LOGGING");
  }
}

}  // namespace talvo::cli
