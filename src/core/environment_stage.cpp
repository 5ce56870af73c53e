#include "core/environment_stage.hpp"
#include "core/document.hpp"

#include <vector>

#include "core/connection_url.hpp"

namespace talvo::core {

namespace {

std::optional<std::string> nonempty(std::optional<std::string_view> v) {
  if (!v || v->empty()) return std::nullopt;
  return std::string(*v);
}

std::optional<std::string> in_home(const Environment& env, std::string_view name) {
  auto home = lookup(env, "HOME");
  if (!home || home->empty()) return std::nullopt;
  std::string path(*home);
  if (path.back() != '/') path += '/';
  return path + std::string(name);
}


// The fields of a password file line, unescaped; fewer than five: no entry.
std::vector<std::string> password_file_fields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      fields.back().push_back(line[++i]);
    } else if (c == ':' && fields.size() < 5) {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

}  // namespace

std::optional<std::string_view> lookup(const Environment& env, std::string_view name) {
  auto it = env.find(name);
  if (it == env.end()) return std::nullopt;
  return std::string_view(it->second);
}

std::optional<std::string> service_file_path(const Environment& env) {
  auto service = lookup(env, "PGSERVICE");
  if (!service || service->empty()) return std::nullopt;
  if (auto file = nonempty(lookup(env, "PGSERVICEFILE"))) return file;
  return in_home(env, ".pg_service.conf");
}

Endpoint service_parameters(std::string_view text, std::string_view service) {
  Endpoint e;
  bool in_service = false;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      in_service = close != std::string_view::npos && line.substr(1, close - 1) == service;
      continue;
    }
    if (!in_service) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    set_libpq_parameter(e, trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
  }
  return e;
}

Tls tls_variables(const Environment& env) {
  Tls t;
  t.sslmode = nonempty(lookup(env, "PGSSLMODE"));
  t.sslrootcert = nonempty(lookup(env, "PGSSLROOTCERT"));
  t.sslcert = nonempty(lookup(env, "PGSSLCERT"));
  t.sslkey = nonempty(lookup(env, "PGSSLKEY"));
  return t;
}

Endpoint pg_variables(const Environment& env) {
  Endpoint e;
  e.host = nonempty(lookup(env, "PGHOST"));
  if (e.host) e.host = e.host->substr(0, e.host->find(','));
  if (auto port = nonempty(lookup(env, "PGPORT")); port && is_port(*port)) e.port = port;
  e.user = nonempty(lookup(env, "PGUSER"));
  e.password = nonempty(lookup(env, "PGPASSWORD"));
  e.database = nonempty(lookup(env, "PGDATABASE"));
  e.tls = tls_variables(env);
  return e;
}

std::optional<Found> environment_stage(const Environment& env,
                                       std::optional<std::string_view> service_file_text) {
  Found found;
  if (auto url = lookup(env, "DATABASE_URL")) {
    if (auto parsed = parse_connection_url(*url)) {
      found.endpoint = *parsed;
      found.framework = "DATABASE_URL";
    }
  }
  if (auto service = lookup(env, "PGSERVICE"); service && !service->empty() && service_file_text) {
    Endpoint from_service = service_parameters(*service_file_text, *service);
    if (!from_service.empty() && found.framework.empty()) found.framework = "PGSERVICE";
    found.endpoint.fill_from(from_service);
  }
  Endpoint variables = pg_variables(env);
  bool names_server = variables.host || variables.port || variables.user || variables.database;
  if (names_server && found.framework.empty()) found.framework = "PG* variables";
  // TLS variables alone name no server; they apply at connect time anyway.
  if (found.framework.empty()) return std::nullopt;
  found.endpoint.fill_from(variables);
  return found;
}

std::string application_name(const Environment& env) {
  if (auto name = nonempty(lookup(env, "PGAPPNAME"))) return std::string(*name);
  return "talvo";
}

std::optional<std::string> password_file_path(const Environment& env) {
  if (auto file = nonempty(lookup(env, "PGPASSFILE"))) return file;
  return in_home(env, ".pgpass");
}

bool password_file_mode_ok(unsigned mode) { return (mode & 077u) == 0; }

std::optional<std::string> password_file_lookup(std::string_view text, std::string_view host,
                                                std::string_view port, std::string_view database,
                                                std::string_view user) {
  auto matches = [](const std::string& field, std::string_view value) {
    return field == "*" || field == value;
  };
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string> f = password_file_fields(line);
    if (f.size() < 5) continue;
    if (matches(f[0], host) && matches(f[1], port) && matches(f[2], database) &&
        matches(f[3], user))
      return f[4];
  }
  return std::nullopt;
}

}  // namespace talvo::core
