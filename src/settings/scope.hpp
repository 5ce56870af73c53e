// One discovery, one walk: while a DiscoveryScope is alive, the searches
// share a cache of directory listings and file tests, so each directory is
// listed at most once however many file names are looked for. Outside any
// scope every search sees the filesystem afresh.
#pragma once

namespace talvo::core {
class ListingCache;
}

namespace talvo::settings {

class DiscoveryScope {
 public:
  DiscoveryScope();
  ~DiscoveryScope();
  DiscoveryScope(const DiscoveryScope&) = delete;
  DiscoveryScope& operator=(const DiscoveryScope&) = delete;
};

namespace detail {
// The cache of the innermost live scope, or null outside every scope.
core::ListingCache* scope_cache();
}  // namespace detail

}  // namespace talvo::settings
