#include "core/endpoint.hpp"

#include <string>
#include <string_view>
#include <utility>

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

std::string_view setting_name(Setting f) {
  constexpr std::string_view names[kSettingCount] = {
      "host", "port", "user", "password", "database", "sslmode", "sslrootcert", "sslcert", "sslkey",
  };
  return names[static_cast<std::size_t>(f)];
}

const std::optional<std::string>& setting(const Endpoint& e, Setting f) {
  switch (f) {
    case Setting::host: return e.host;
    case Setting::port: return e.port;
    case Setting::user: return e.user;
    case Setting::password: return e.password;
    case Setting::database: return e.database;
    case Setting::sslmode: return e.tls.sslmode;
    case Setting::sslrootcert: return e.tls.sslrootcert;
    case Setting::sslcert: return e.tls.sslcert;
    case Setting::sslkey: break;
  }
  return e.tls.sslkey;
}

std::optional<std::string>& setting(Endpoint& e, Setting f) {
  return const_cast<std::optional<std::string>&>(setting(std::as_const(e), f));
}

std::string describe(const Source& s) {
  std::string out;
  switch (s.kind) {
    case Source::Kind::none: return "not set";
    case Source::Kind::option: out = "option "; break;
    case Source::Kind::default_value: out = "default: "; break;
    case Source::Kind::file: out = "file "; break;
    case Source::Kind::environment: out = "environment "; break;
    case Source::Kind::password_file: out = "password file "; break;
  }
  out += s.where;
  if (!s.key.empty()) out += ", key " + s.key;
  if (s.line > 0) out += ", line " + std::to_string(s.line);
  return out;
}

void record_origins(Found& found, const Origins& origins) {
  auto put = [&](Setting f, const std::optional<Origin>& o) {
    if (!o) return;
    Source& s = found.sources[static_cast<std::size_t>(f)];
    s.kind = Source::Kind::file;
    s.where = o->file;
    s.key = o->key;
    s.line = static_cast<int>(o->line);
  };
  put(Setting::host, origins.host);
  put(Setting::port, origins.port);
  put(Setting::user, origins.user);
  put(Setting::password, origins.password);
  put(Setting::database, origins.database);
  put(Setting::sslmode, origins.sslmode);
}

bool is_sslmode(std::string_view mode) {
  for (std::string_view known : {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"})
    if (mode == known) return true;
  return false;
}

}  // namespace talvo::core
