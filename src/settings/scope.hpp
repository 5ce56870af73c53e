// One discovery, one walk: while a DiscoveryScope is alive, the searches
// share a cache of directory listings and file tests, so each directory is
// listed at most once however many file names are looked for. Outside any
// scope every search sees the filesystem afresh.
#pragma once

namespace talvo::settings {

class DiscoveryScope {
 public:
  DiscoveryScope();
  ~DiscoveryScope();
  DiscoveryScope(const DiscoveryScope&) = delete;
  DiscoveryScope& operator=(const DiscoveryScope&) = delete;
};

}  // namespace talvo::settings
