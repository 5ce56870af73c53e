// Console printing through rich. Every print makes its own Console, so no
// renderer state (width, colour system, capture) leaks from one print to the
// next, and rich decides per print whether the output is a terminal.
#include "output/output.hpp"

#include <string>
#include <utility>

#include "core/terminal.hpp"

namespace talvo::output {
namespace {

void require_str(nb::handle value, const char* what) {
  if (!nb::isinstance<nb::str>(value)) {
    PyErr_SetString(PyExc_TypeError, what);
    throw nb::python_error();
  }
}

bool messages_aside = false;
bool messages_discarded = false;

// What Python makes of a descriptor 1 that was closed before it started.
constexpr const char* kClosed = "it is closed";

nb::object new_console() {
  return nb::module_::import_("rich.console").attr("Console")("stderr"_a = messages_aside);
}

nb::object standard_output() { return nb::module_::import_("sys").attr("stdout"); }

void discard_standard_output() {
  try {
    nb::module_ os = nb::module_::import_("os");
    nb::object null_device = os.attr("open")(os.attr("devnull"), os.attr("O_WRONLY"));
    os.attr("dup2")(null_device, standard_output().attr("fileno")());
    os.attr("close")(null_device);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;  // no descriptor to point elsewhere: nothing to do
  }
}

}  // namespace

void standard_output_failed(const nb::python_error& e) {
  discard_standard_output();
  // A reader that stopped reading (head, a pager quit early) wants nothing
  // more, this line included; rich ends the same way.
  if (e.matches(PyExc_BrokenPipeError)) exit_process(1);
  standard_output_failed(message(e));
}

void standard_output_failed(const std::string& reason) {
  // Said once: the way out flushes standard output once more.
  static bool said = false;
  if (std::exchange(said, true)) exit_process(1);
  const std::string line = "❌ Error: cannot write to standard output: " + reason + "\n";
  try {
    nb::object err = nb::module_::import_("sys").attr("stderr");
    if (!err.is_none()) {
      err.attr("write")(nb::str(line.data(), line.size()));
      err.attr("flush")();
    }
  } catch (nb::python_error& again) {
    if (!is_ordinary(again)) throw;  // no standard error either: the status says it
  }
  exit_process(1);
}

namespace {

// Messages carry names and server error texts; a control character in them
// must not reach the terminal as a command. Line feeds are kept: a server
// error has DETAIL and HINT lines. Lone surrogates (undecodable bytes of a
// command-line word) become backslash escapes instead of failing the print.
nb::str visible_message(nb::handle msg) {
  nb::bytes encoded = nb::borrow<nb::bytes>(msg.attr("encode")("utf-8", "backslashreplace"));
  const std::string shown = core::visible_text(
      std::string_view(encoded.c_str(), encoded.size()), core::LineBreaks::keep);
  return nb::str(shown.data(), shown.size());
}

void rich_print(nb::object msg, nb::object color, nb::object bgcolor, nb::object bold,
                nb::object end) {
  require_str(msg, "msg must be a str");
  require_str(color, "color must be a str");
  if (!bgcolor.is_none()) require_str(bgcolor, "bgcolor must be a str or None");
  require_str(end, "end must be a str");
  if (messages_discarded) return;
  if (!messages_aside && standard_output().is_none()) standard_output_failed(kClosed);

  nb::object console = new_console();
  nb::dict style_kwargs;
  style_kwargs["color"] = color;
  style_kwargs["bold"] = nb::bool_(truthy(bold));
  if (!bgcolor.is_none() && nb::len(bgcolor) > 0) style_kwargs["bgcolor"] = bgcolor;
  nb::object style = nb::module_::import_("rich.style").attr("Style")(**style_kwargs);
  // A Text is never parsed for markup, so brackets in msg print as typed.
  nb::object styled =
      nb::module_::import_("rich.text").attr("Text")(visible_message(msg), "style"_a = style);
  // Soft wrapping leaves line breaks to the terminal: a message is one line of
  // output however wide, so a printed command (the pg_dump line) can be
  // copied and run as it stands.
  try {
    console.attr("print")(styled, "end"_a = end, "soft_wrap"_a = true);
  } catch (nb::python_error& e) {
    if (!messages_aside && e.matches(PyExc_OSError)) standard_output_failed(e);
    throw;
  }
}

void print_handled_exception() { new_console().attr("print_exception")(); }

}  // namespace

MessagesAside::MessagesAside(bool aside) : previous_(messages_aside) { messages_aside = aside; }
MessagesAside::~MessagesAside() { messages_aside = previous_; }
void MessagesAside::set(bool aside) { messages_aside = aside; }
bool MessagesAside::active() { return messages_aside; }
void MessagesAside::discard() { messages_discarded = true; }
bool MessagesAside::discarded() { return messages_discarded; }

void write_data(std::string_view bytes) {
  nb::object out = standard_output();
  if (out.is_none()) standard_output_failed(kClosed);
  try {
    out.attr("flush")();
    nb::object binary = nb::getattr(out, "buffer", nb::none());
    if (binary.is_none())
      out.attr("write")(nb::str(bytes.data(), bytes.size()));
    else
      binary.attr("write")(nb::bytes(bytes.data(), bytes.size()));
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_OSError)) standard_output_failed(e);
    throw;
  }
}

void flush_data() {
  try {
    nb::object out = standard_output();
    if (out.is_none()) standard_output_failed(kClosed);
    out.attr("flush")();
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_OSError)) standard_output_failed(e);
    throw;
  }
}

void print_exception(const nb::python_error& e) {
  // An error raised by the program itself, never through a Python frame,
  // has no trace to show; its one line says it all.
  if (!e.traceback().is_valid() || e.traceback().is_none()) return;
  HandledException handled(e);
  routine("print_exception")();
}

void define_console(nb::module_& m) {
  m.def("print_exception", &print_handled_exception);
  m.def("rich_print", &rich_print, "msg"_a.none(), "color"_a.none() = "#FFFFFF",
        "bgcolor"_a.none() = nb::none(), "bold"_a.none() = false, "end"_a.none() = "\n");
}

}  // namespace talvo::output
