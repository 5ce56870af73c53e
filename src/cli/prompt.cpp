#include "cli/prompt.hpp"

namespace talvo::cli {

nb::object password_prompt() { return nb::module_::import_("getpass").attr("getpass"); }

nb::object read_password(nb::handle ask, const std::string& prompt) {
  try {
    return ask(prompt);
  } catch (nb::python_error& e) {
    if (!e.matches(PyExc_EOFError)) throw;
    return nb::str("");
  }
}

nb::object environment_password() {
  return nb::module_::import_("os").attr("environ").attr("get")("PASSWORD");
}

std::string process_id() { return text(nb::module_::import_("os").attr("getpid")()); }

}  // namespace talvo::cli
