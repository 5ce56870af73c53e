#include "core/endpoint.hpp"

#include <string_view>

namespace talvo::core {

namespace {

void fill(std::optional<std::string>& value, const std::optional<std::string>& weaker) {
  if (!value && weaker) value = weaker;
}

}  // namespace

void Tls::fill_from(const Tls& weaker) {
  fill(sslmode, weaker.sslmode);
  fill(sslrootcert, weaker.sslrootcert);
  fill(sslcert, weaker.sslcert);
  fill(sslkey, weaker.sslkey);
}

void Endpoint::fill_from(const Endpoint& weaker) {
  fill(host, weaker.host);
  fill(port, weaker.port);
  fill(user, weaker.user);
  fill(password, weaker.password);
  fill(database, weaker.database);
  tls.fill_from(weaker.tls);
}

bool is_sslmode(std::string_view mode) {
  for (std::string_view known : {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"})
    if (mode == known) return true;
  return false;
}

}  // namespace talvo::core
