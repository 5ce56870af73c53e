#include "output/waiting.hpp"

#include "output/output.hpp"

#include <optional>

namespace talvo::output {
namespace {

// A wait shorter than this shows nothing: a spinner that flashes for a few
// frames is noise.
constexpr double kDelaySeconds = 0.5;

bool spinner_wanted() {
  if (MessagesAside::active()) return false;
  nb::object environ = nb::module_::import_("os").attr("environ");
  if (truthy(environ.attr("get")("NO_COLOR", ""))) return false;
  if (text(environ.attr("get")("TERM", "")) == "dumb") return false;
  nb::object stderr_ = nb::module_::import_("sys").attr("stderr");
  if (stderr_.is_none()) return false;
  try {
    return truthy(stderr_.attr("isatty")());
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    return false;
  }
}

// rich's Progress with one task of unknown length: spinner, description,
// elapsed time; transient, so stopping it erases it.
nb::object make_spinner(const std::string& what) {
  nb::module_ progress = nb::module_::import_("rich.progress");
  nb::object console = nb::module_::import_("rich.console").attr("Console")("stderr"_a = true);
  nb::object spinner = progress.attr("Progress")(
      progress.attr("SpinnerColumn")(), progress.attr("TextColumn")("{task.description}"),
      progress.attr("TimeElapsedColumn")(), "console"_a = console, "transient"_a = true);
  spinner.attr("add_task")(nb::str(what.data(), what.size()), "total"_a = nb::none());
  return spinner;
}

}  // namespace

bridge::Coroutine waiting(std::string what, nb::object awaitable) {
  if (!spinner_wanted()) co_return co_await std::move(awaitable);
  bridge::Traced<> spinner = make_spinner(what);
  bridge::Traced<> timer = nb::module_::import_("asyncio").attr("get_running_loop")().attr(
      "call_later")(kDelaySeconds, spinner.attr("start"));
  bridge::Traced<std::optional<nb::python_error>> failure;
  bridge::Traced<> result;
  try {
    result = co_await std::move(awaitable);
  } catch (nb::python_error& e) {
    failure.emplace(std::move(e));
  }
  // Nothing is awaited here: this runs on a cancellation or a close too.
  timer.attr("cancel")();
  spinner.attr("stop")();
  if (failure) throw std::move(*failure);
  co_return result;
}

}  // namespace talvo::output
