// The command-line front end: start-up switch, entry, grammar, routing, the
// superuser password policy and shell completion.
#pragma once

#include "pyutil.hpp"

namespace talvo::cli {

// Looks at the raw argument words for the debug switch and sets the
// environment flags the rest of the process reads.
void scan_debug_switch();

// The grammar as setup_argument_parser builds it, with argparse's own help
// formatter: completion parses words and prints no help, and rich-argparse
// would bring rich in only to format usage lines nobody sees.
nb::object grammar_without_help();

void define_version(nb::module_& m);          // get_version
void define_grammar(nb::module_& m);          // setup_argument_parser
void define_password_policy(nb::module_& m);  // command_requires_superuser, ensure_superuser_password
void define_routing(nb::module_& m);          // run_command
void define_completion(nb::module_& m);       // print_completion_script, complete_command_line
void define_main(nb::module_& m);             // main

// talvo --where: prints where the parsed command would connect; false when
// it needs a database name and none is found (said as the command says it).
bool print_where(nb::handle args);

}  // namespace talvo::cli
