#include "settings/scope.hpp"

namespace talvo::settings {

// Placeholder until the shared listing cache exists: scopes change nothing.
DiscoveryScope::DiscoveryScope() = default;
DiscoveryScope::~DiscoveryScope() = default;

}  // namespace talvo::settings
