#include "output/prompt.hpp"

#include <utility>

namespace talvo::output {

namespace {

// `after_question`: the question was printed on standard output and left the
// line open for the answer, which never came.
[[noreturn]] void nothing_typed(bool after_question = false) {
  fail(after_question ? "\n❌ nothing typed; aborted" : "❌ nothing typed; aborted");
  exit_process(1);
}

// While the program waits at the keyboard, Ctrl-C ends the command at once.
// Inside the event loop asyncio's own handler only cancels the task, which
// notices no sooner than the read returns, after Enter; the standard
// handler raises KeyboardInterrupt in the read itself, and main says
// "❌ Interrupted" (status 130) with nothing changed.
class InterruptibleRead {
 public:
  InterruptibleRead() {
    nb::module_ signal = nb::module_::import_("signal");
    nb::module_ threading = nb::module_::import_("threading");
    if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return;
    previous_ = signal.attr("getsignal")(signal.attr("SIGINT"));
    signal.attr("signal")(signal.attr("SIGINT"), signal.attr("default_int_handler"));
  }
  ~InterruptibleRead() {
    if (!previous_.is_valid()) return;
    undo_quietly([&] {
      nb::module_ signal = nb::module_::import_("signal");
      // None: a handler not set from Python, which cannot be put back.
      if (!previous_.is_none()) signal.attr("signal")(signal.attr("SIGINT"), previous_);
    });
  }
  InterruptibleRead(const InterruptibleRead&) = delete;
  InterruptibleRead& operator=(const InterruptibleRead&) = delete;

 private:
  nb::object previous_;
};

// Ends the open question's line, so "❌ Interrupted" starts one of its own.
[[noreturn]] void interrupted(nb::python_error& e) {
  undo_quietly([] { print(""); });
  throw std::move(e);
}

}  // namespace

nb::object password_prompt() { return nb::module_::import_("getpass").attr("getpass"); }

nb::object read_password(nb::handle ask, const std::string& prompt) {
  try {
    InterruptibleRead ctrl_c;
    return ask(prompt);
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_KeyboardInterrupt)) interrupted(e);
    if (!e.matches(PyExc_EOFError)) throw;
  }
  nothing_typed();
}

nb::str ask_password(nb::handle user, std::string_view suffix) {
  std::string prompt = "[" + process_id() + "]Password for " + text(user);
  prompt += suffix;
  return nb::str(read_password(password_prompt(), prompt));
}

nb::str read_line() {
  nb::object sys = nb::module_::import_("sys");
  nb::object out = sys.attr("stdout");
  if (!out.is_none()) out.attr("flush")();
  nb::object in = sys.attr("stdin");
  if (in.is_none()) nothing_typed(true);
  nb::str line;
  try {
    InterruptibleRead ctrl_c;
    line = nb::str(in.attr("readline")());
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_KeyboardInterrupt)) interrupted(e);
    throw;
  }
  if (nb::len(line) == 0) nothing_typed(true);
  if (line.attr("endswith")("\n"))
    return nb::str(line[nb::slice(nb::none(), nb::int_(-1), nb::none())]);
  return line;
}

nb::object environment_password() {
  return nb::module_::import_("os").attr("environ").attr("get")("PASSWORD");
}

std::string process_id() { return text(nb::module_::import_("os").attr("getpid")()); }

}  // namespace talvo::output
