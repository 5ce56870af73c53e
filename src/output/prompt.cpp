#include "output/prompt.hpp"

namespace talvo::output {

namespace {

// `after_question`: the question was printed on standard output and left the
// line open for the answer, which never came.
[[noreturn]] void nothing_typed(bool after_question = false) {
  fail(after_question ? "\n❌ nothing typed; aborted" : "❌ nothing typed; aborted");
  exit_process(1);
}

}  // namespace

nb::object password_prompt() { return nb::module_::import_("getpass").attr("getpass"); }

nb::object read_password(nb::handle ask, const std::string& prompt) {
  try {
    return ask(prompt);
  } catch (nb::python_error& e) {
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
  nb::str line = nb::str(in.attr("readline")());
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
