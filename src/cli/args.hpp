// Reading the parsed command-line record.
#pragma once

#include <string>

#include "pyutil.hpp"

namespace talvo::cli {

// The attribute as text, or empty when it is missing or not a text.
inline std::string word_of(nb::handle args, const char* name) {
  nb::object value = nb::getattr(args, name, nb::none());
  return nb::isinstance<nb::str>(value) ? utf8(value) : std::string();
}

// Whether the parsed command defines the attribute. The record answers None
// for attributes it lacks, so hasattr cannot tell.
inline bool defines(nb::handle args, const char* name) {
  nb::object fields = nb::getattr(args, "__dict__", nb::none());
  if (nb::isinstance<nb::dict>(fields)) return nb::borrow<nb::dict>(fields).contains(name);
  return nb::hasattr(args, name);
}

// settings[key], or None when the settings are missing or empty or lack the
// entry.
inline nb::object setting(nb::handle settings, const char* key) {
  if (settings.is_none() || !truthy(settings)) return nb::none();
  int has = PySequence_Contains(settings.ptr(), nb::str(key).ptr());
  if (has < 0) throw nb::python_error();
  return has ? nb::object(settings[key]) : nb::none();
}

// The type of --limit, -ul and -dl: a whole number within 64 bits, else
// ArgumentTypeError.
nb::object int64_type();

}  // namespace talvo::cli
