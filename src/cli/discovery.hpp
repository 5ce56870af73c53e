// From a parsed command line to the settings the command works with: which
// options the operator typed, and the discovery's result on the record. The
// command itself and the completion's live lookups go through here alike.
#pragma once

#include "pyutil.hpp"
#include "settings/project.hpp"

namespace talvo::cli {

// Whether the operator typed a top-level option whose default is not None.
// Parsing into a record that already holds a marker for it leaves the marker
// where the option was not typed: argparse only sets defaults for
// attributes a record lacks.
class TypedOptions {
 public:
  TypedOptions();

  // A fresh record holding the markers.
  nb::object record() const;
  // -ul is also an option of the subcommands, whose parsers give every
  // record their own defaults: their default becomes the marker until
  // settle() puts 0 back.
  void mark_levels(nb::handle parser) const;
  // Puts the markers on a record that is about to be parsed into.
  void mark(nb::handle record) const;
  // Puts the defaults where markers are left and tells what was typed.
  settings::GivenOptions settle(nb::handle args, nb::handle parser) const;

 private:
  nb::object marker_;
};

// Runs the discovery for the command in `args` and copies its database,
// host and port onto the record, where they win over the command line.
// Returns the discovered settings (or None).
nb::object discover_settings(nb::handle args, const settings::GivenOptions& given);

}  // namespace talvo::cli
