// Console output and logging.
#pragma once

#include "pyutil.hpp"

namespace talvo::output {

void define_logger_factory(nb::module_& m);  // get_logger
void define_console(nb::module_& m);         // print_exception, rich_print

}  // namespace talvo::output
