// Whole-number options as the grammar reads them (--limit, -ul, -dl): within
// the 64 bits the program counts in. Anything larger is a grammar error,
// before anything connects, rather than a failure after the statement ran.
#include <string>

#include "cli/args.hpp"
#include "core/readout.hpp"

namespace talvo::cli {

nb::object int64_type() {
  return nb::cpp_function(
      [](nb::handle word) -> nb::object {
        std::string given = utf8(nb::str(word));
        if (auto limit = core::parse_limit(given)) return nb::int_(*limit);
        std::string msg = "not a whole number from -9223372036854775808 to 9223372036854775807: '" +
                          text(word) + "'";
        nb::object error = nb::module_::import_("argparse").attr("ArgumentTypeError");
        PyErr_SetString(error.ptr(), msg.c_str());
        throw nb::python_error();
      },
      nb::name("limit"));
}

}  // namespace talvo::cli
