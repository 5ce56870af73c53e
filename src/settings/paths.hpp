// Paths between Python text and the byte paths of the core. os.fsencode and
// os.fsdecode, so names that are not valid UTF-8 survive the round trip.
#pragma once

#include <optional>
#include <string>

#include "core/search.hpp"
#include "pyutil.hpp"
#include "settings/scope.hpp"

namespace talvo::settings {

std::string fs_bytes(nb::handle path);
nb::str fs_text(const std::string& path);
nb::object optional_text(const std::optional<std::string>& path);

// The scope's listing cache, or one of its own for the length of the call
// when no scope is open.
template <typename Search>
auto with_cache(Search&& search) {
  if (core::ListingCache* shared = detail::scope_cache()) return search(*shared);
  core::ListingCache own(core::system_filesystem());
  return search(own);
}

}  // namespace talvo::settings
