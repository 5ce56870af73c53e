#include "settings/scope.hpp"

#include <memory>

#include "core/search.hpp"

namespace talvo::settings {
namespace {

// Scopes nest: the outermost one creates the cache, and it goes when the
// last one ends. Plain C++ state only, so it may safely be static.
int live_scopes = 0;
std::unique_ptr<core::ListingCache> cache;

}  // namespace

DiscoveryScope::DiscoveryScope() {
  if (live_scopes++ == 0) cache = std::make_unique<core::ListingCache>(core::system_filesystem());
}

DiscoveryScope::~DiscoveryScope() {
  if (--live_scopes == 0) cache.reset();
}

core::ListingCache* detail::scope_cache() { return cache.get(); }

}  // namespace talvo::settings
