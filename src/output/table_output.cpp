#include "output/table_output.hpp"

#include "core/paging.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"

namespace talvo::output {
namespace {

// The table is handed on in pieces of about this size.
constexpr std::size_t kHandOnSize = 1 << 16;

nb::object environment() { return nb::module_::import_("os").attr("environ"); }

std::optional<std::string> variable(nb::handle environ, const char* name) {
  nb::object value = environ.attr("get")(name);
  if (value.is_none()) return std::nullopt;
  return text(value);
}

nb::object standard_output() { return nb::module_::import_("sys").attr("stdout"); }

bool output_is_terminal() {
  nb::object out = standard_output();
  if (out.is_none()) return false;
  try {
    return truthy(out.attr("isatty")());
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    return false;  // a closed or replaced stream
  }
}

core::Screen reported_screen() {
  try {
    nb::object size = nb::module_::import_("os").attr("get_terminal_size")(
        standard_output().attr("fileno")());
    return {nb::cast<std::size_t>(size.attr("columns")), nb::cast<std::size_t>(size.attr("lines"))};
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    return {};
  }
}

// The pager's program, when the shell would find it: a PAGER naming a
// program that is not there would take the table with it.
bool pager_found(const std::string& command) {
  try {
    nb::object words = nb::module_::import_("shlex").attr("split")(command);
    if (nb::len(words) == 0) return false;
    return !nb::module_::import_("shutil").attr("which")(words[0]).is_none();
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    return false;  // unbalanced quotes
  }
}

bool broken_pipe(const nb::python_error& e) {
  return e.matches(PyExc_BrokenPipeError) || e.matches(PyExc_ConnectionResetError);
}

}  // namespace

core::Ansi standard_output_ansi() {
  nb::object environ = environment();
  core::AnsiFacts facts;
  facts.isatty = output_is_terminal();
  facts.tty_compatible = variable(environ, "TTY_COMPATIBLE");
  facts.force_color = variable(environ, "FORCE_COLOR");
  facts.no_color = variable(environ, "NO_COLOR").value_or("");
  facts.term = variable(environ, "TERM").value_or("");
  return core::ansi_for(facts);
}

TableOutput::TableOutput(std::string title, std::vector<core::TableColumn> columns,
                         std::string null_text)
    : table_(std::move(title), std::move(columns), standard_output_ansi(), std::move(null_text)) {}

TableOutput::~TableOutput() {
  if (pager_.is_valid()) undo_quietly([&] { close_pager(); });
}

void TableOutput::row(std::span<const core::Field> cells) {
  any_row_ = true;
  if (closed_) return;
  table_.row(cells);
  if (!table_.settled()) return;
  if (!chosen_) choose_destination(true);
  hand_on(false);
}

void TableOutput::finish(bool empty_too) {
  if (finished_) return;
  finished_ = true;
  if (!any_row_ && !empty_too) return;
  table_.end();
  if (!chosen_) choose_destination(false);
  hand_on(true);
  close_pager();
}

void TableOutput::choose_destination(bool more) {
  chosen_ = true;
  nb::object environ = environment();
  core::PagingFacts facts;
  facts.terminal = output_is_terminal();
  facts.term = variable(environ, "TERM").value_or("");
  facts.pager = variable(environ, "PAGER");
  auto columns = variable(environ, "COLUMNS");
  auto lines = variable(environ, "LINES");
  facts.screen = core::screen_size(columns, lines, facts.terminal ? reported_screen() : core::Screen{});
  auto command = core::pager_for(facts, table_.width(), table_.height(), more);
  if (!command) return;
  if (!pager_found(*command)) {
    print("⚠️ Pager not found: " + *command, palette::warning);
    return;
  }
  start_pager(*command);
}

void TableOutput::start_pager(const std::string& command) {
  // Whatever was printed before the table comes before it on the screen.
  standard_output().attr("flush")();
  nb::module_ subprocess = nb::module_::import_("subprocess");
  nb::dict env = nb::borrow<nb::dict>(nb::module_::import_("builtins").attr("dict")(environment()));
  if (!env.contains("LESS")) env["LESS"] = nb::str(core::kLessOptions.data(), core::kLessOptions.size());
  pager_ = subprocess.attr("Popen")(command, "shell"_a = true, "stdin"_a = subprocess.attr("PIPE"),
                                    "env"_a = env);
  // Ctrl-C in the pager is the pager's own: it must not end the command
  // while the pager still holds the terminal.
  nb::module_ signal = nb::module_::import_("signal");
  interrupt_ = signal.attr("signal")(signal.attr("SIGINT"), signal.attr("SIG_IGN"));
}

void TableOutput::close_pager() {
  if (!pager_.is_valid()) return;
  nb::object pager = std::move(pager_);
  pager_ = nb::object();
  try {
    pager.attr("stdin").attr("close")();
  } catch (nb::python_error& e) {
    if (!broken_pipe(e)) throw;
  }
  pager.attr("wait")();
  nb::module_ signal = nb::module_::import_("signal");
  signal.attr("signal")(signal.attr("SIGINT"), interrupt_);
  interrupt_ = nb::object();
}

void TableOutput::hand_on(bool everything) {
  std::string& pending = table_.pending();
  if (pending.empty() || (!everything && pending.size() < kHandOnSize)) return;
  if (closed_) {
    pending.clear();
    return;
  }
  if (!pager_.is_valid()) {
    write_data(pending);
    pending.clear();
    return;
  }
  try {
    pager_.attr("stdin").attr("write")(nb::bytes(pending.data(), pending.size()));
  } catch (nb::python_error& e) {
    if (!broken_pipe(e)) throw;
    closed_ = true;  // the pager was quit
  }
  pending.clear();
}

}  // namespace talvo::output
