#include "core/compose.hpp"

#include <cctype>

#include "core/connection_url.hpp"

namespace talvo::core {

namespace {

constexpr std::string_view kPostgresImages[] = {"postgres", "postgis", "timescaledb", "pgvector"};
// Lists that Compose appends when it merges an override file.
constexpr std::string_view kAppendedLists[] = {"ports", "env_file", "expose"};

bool postgres_image(std::string_view image) {
  std::string lower = ascii_lower(image);
  for (std::string_view name : kPostgresImages)
    if (lower.find(name) != std::string::npos) return true;
  return false;
}

// The first service that runs a PostgreSQL image, and its name.
const Node* postgres_service(const Node& doc, std::string* name = nullptr) {
  const Node* services = doc.is_map() ? doc.get("services") : nullptr;
  if (services == nullptr || !services->is_map()) return nullptr;
  for (const auto& [key, service] : services->entries) {
    if (!service.is_map()) continue;
    auto image = value_at(&service, "image");
    if (!image || !postgres_image(*image)) continue;
    if (name) *name = key;
    return &service;
  }
  return nullptr;
}

struct Variable {
  std::string value;
  Origin origin;
};

// The service's variables: `environment:` as a map or as KEY=VALUE items,
// interpolated, over what its env files give.
std::vector<std::pair<std::string, Variable>> service_variables(const Node& service,
                                                                const std::string& prefix,
                                                                const ComposeInputs& in) {
  std::vector<std::pair<std::string, Variable>> out;
  auto put = [&](std::string key, Variable v) {
    for (auto& [k, existing] : out)
      if (k == key) {
        existing = std::move(v);
        return;
      }
    out.emplace_back(std::move(key), std::move(v));
  };
  for (const KeyValue& s : in.env_files) put(s.key, {s.value, {s.file, s.key, s.line}});
  const Node* given = service.get("environment");
  if (given == nullptr) return out;
  std::string where = prefix + ".environment";
  if (given->is_map()) {
    for (const auto& [key, value] : given->entries)
      if (auto v = value.value())
        put(key, {compose_interpolate(*v, in.interpolation), {in.file, where + "." + key, value.line}});
  } else if (given->kind == Node::Kind::list) {
    for (std::size_t i = 0; i < given->items.size(); ++i) {
      const Node& item = given->items[i];
      auto v = item.value();
      if (!v) continue;
      std::size_t eq = v->find('=');
      if (eq == std::string::npos) continue;
      put(v->substr(0, eq), {compose_interpolate(v->substr(eq + 1), in.interpolation),
                             {in.file, where + "." + std::to_string(i), item.line}});
    }
  }
  return out;
}

const Variable* variable(const std::vector<std::pair<std::string, Variable>>& vars,
                         std::string_view key) {
  for (const auto& [k, v] : vars)
    if (k == key && !v.value.empty()) return &v;
  return nullptr;
}

struct Published {
  std::optional<std::string> host, port;
  Origin origin;
};

// Where the container's port 5432 is published: "5433:5432",
// "127.0.0.1:5433:5432/tcp", or {target: 5432, published: 5433, host_ip: ...}.
std::optional<Published> published_port(const Node& service, const std::string& prefix,
                                        const ComposeInputs& in) {
  const Node* ports = service.get("ports");
  if (ports == nullptr || ports->kind != Node::Kind::list) return std::nullopt;
  for (std::size_t i = 0; i < ports->items.size(); ++i) {
    const Node& entry = ports->items[i];
    Published p;
    p.origin = {in.file, prefix + ".ports." + std::to_string(i), entry.line};
    std::string target;
    if (entry.is_map()) {
      target = value_at(&entry, "target").value_or("");
      p.port = value_at(&entry, "published");
      p.host = value_at(&entry, "host_ip");
    } else if (auto text = entry.value()) {
      std::string mapping = compose_interpolate(*text, in.interpolation);
      mapping = mapping.substr(0, mapping.find('/'));
      std::size_t last = mapping.rfind(':');
      if (last == std::string::npos) continue;  // a random host port: unknown here
      target = mapping.substr(last + 1);
      std::string front = mapping.substr(0, last);
      std::size_t colon = front.rfind(':');
      p.port = front.substr(colon == std::string::npos ? 0 : colon + 1);
      if (colon != std::string::npos) p.host = front.substr(0, colon);
    }
    if (target != "5432" || !p.port || !is_port(*p.port)) continue;
    if (p.host && (p.host->empty() || *p.host == "0.0.0.0" || *p.host == "::")) p.host.reset();
    return p;
  }
  return std::nullopt;
}

void merge_into(Node& base, const Node& over) {
  if (!base.is_map() || !over.is_map()) {
    base = over;
    return;
  }
  for (const auto& [key, value] : over.entries) {
    Node* existing = nullptr;
    for (auto& [k, v] : base.entries)
      if (k == key) existing = &v;
    if (existing == nullptr) {
      base.add(key, value);
      continue;
    }
    bool appended = false;
    for (std::string_view name : kAppendedLists) appended = appended || key == name;
    if (appended && existing->kind == Node::Kind::list && value.kind == Node::Kind::list) {
      for (const Node& item : value.items) existing->items.push_back(item);
    } else if (existing->is_map() && value.is_map()) {
      merge_into(*existing, value);
    } else {
      *existing = value;
    }
  }
}

}  // namespace

std::string compose_override_name(std::string_view base_name) {
  std::string name(base_name);
  std::size_t dot = name.rfind('.');
  return name.substr(0, dot) + ".override" + name.substr(dot);
}

Node merge_compose(const Node& base, const Node& override) {
  Node merged = base;
  merge_into(merged, override);
  return merged;
}

std::vector<std::string> compose_env_files(const Node& document) {
  std::vector<std::string> files;
  const Node* service = postgres_service(document);
  const Node* env_file = service ? service->get("env_file") : nullptr;
  if (env_file == nullptr) return files;
  if (auto single = env_file->value()) return {*single};
  if (env_file->kind != Node::Kind::list) return files;
  for (const Node& item : env_file->items) {
    if (auto path = item.value())
      files.push_back(*path);
    else if (auto path = value_at(&item, "path"))
      files.push_back(*path);
  }
  return files;
}

std::optional<std::string> compose_password_file(const Node& document, const Environment& env) {
  const Node* service = postgres_service(document);
  if (service == nullptr) return std::nullopt;
  ComposeInputs in;
  in.interpolation = env;
  auto vars = service_variables(*service, "", in);
  const Variable* file = variable(vars, "POSTGRES_PASSWORD_FILE");
  if (file == nullptr) file = variable(vars, "POSTGRESQL_PASSWORD_FILE");
  if (file == nullptr) return std::nullopt;
  constexpr std::string_view secrets_dir = "/run/secrets/";
  std::string_view path = file->value;
  if (path.starts_with(secrets_dir)) {
    std::string name(path.substr(secrets_dir.size()));
    const Node* secrets = document.get("secrets");
    const Node* secret = secrets && secrets->is_map() ? secrets->get(name) : nullptr;
    if (auto source = value_at(secret, "file")) return compose_interpolate(*source, env);
    return std::nullopt;
  }
  if (path.starts_with('/')) return std::nullopt;  // inside the container only
  return std::string(path);
}

std::optional<Found> read_compose(const Node& doc, const ComposeInputs& in) {
  std::string name;
  const Node* service = postgres_service(doc, &name);
  if (service == nullptr) return std::nullopt;
  std::string prefix = "services." + name;
  auto published = published_port(*service, prefix, in);
  if (!published) return std::nullopt;  // not reachable from this machine
  auto vars = service_variables(*service, prefix, in);
  Found f;
  f.framework = "Docker Compose";
  f.path = in.file;
  Endpoint& e = f.endpoint;
  Origins o;
  e.host = published->host;
  e.port = published->port;
  if (e.host) o.host = published->origin;
  o.port = published->origin;
  auto pick = [&](std::optional<std::string>& slot, std::optional<Origin>& from,
                  std::string_view official, std::string_view bitnami) {
    const Variable* v = variable(vars, official);
    if (v == nullptr) v = variable(vars, bitnami);
    if (v == nullptr) return;
    slot = v->value;
    from = v->origin;
  };
  pick(e.user, o.user, "POSTGRES_USER", "POSTGRESQL_USERNAME");
  pick(e.password, o.password, "POSTGRES_PASSWORD", "POSTGRESQL_PASSWORD");
  pick(e.database, o.database, "POSTGRES_DB", "POSTGRESQL_DATABASE");
  if (!e.password && in.password_file_text) {
    std::string_view text = *in.password_file_text;
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    if (!text.empty()) e.password = std::string(text);
  }
  // The image's own defaults: the database is named after the user, the
  // user is postgres.
  if (!e.user) e.user = "postgres";
  if (!e.database) {
    e.database = e.user;
    o.database = o.user;
    f.database_inferred = true;
  }
  record_origins(f, o);
  return f;
}

std::string compose_interpolate(std::string_view value, const Environment& env) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '$' || i + 1 >= value.size()) {
      out.push_back(value[i]);
      continue;
    }
    char next = value[i + 1];
    if (next == '$') {
      out.push_back('$');
      ++i;
      continue;
    }
    std::string_view name, fallback;
    bool has_fallback = false, when_empty = false;
    std::size_t end;
    if (next == '{') {
      end = value.find('}', i + 2);
      if (end == std::string_view::npos) {
        out.append(value.substr(i));
        break;
      }
      std::string_view inner = value.substr(i + 2, end - i - 2);
      std::size_t op = inner.find_first_of(":-");
      name = inner.substr(0, op);
      if (op != std::string_view::npos) {
        when_empty = inner[op] == ':';
        std::size_t dash = when_empty ? op + 1 : op;
        if (dash < inner.size() && inner[dash] == '-') {
          has_fallback = true;
          fallback = inner.substr(dash + 1);
        }
      }
    } else {
      end = i + 1;
      while (end < value.size() && (std::isalnum(static_cast<unsigned char>(value[end])) ||
                                    value[end] == '_'))
        ++end;
      name = value.substr(i + 1, end - i - 1);
      --end;
    }
    auto found = lookup(env, name);
    if (found && !(when_empty && found->empty()))
      out.append(*found);
    else if (has_fallback)
      out.append(fallback);
    i = end;
  }
  return out;
}

}  // namespace talvo::core
