#include "core/project_files.hpp"

#include <algorithm>
#include <cctype>
#include <array>
#include <set>

#include "core/aliases.hpp"
#include "core/connection_url.hpp"
#include "core/search.hpp"

namespace talvo::core {

namespace {

using namespace std::string_view_literals;

constexpr ProjectFile kProjectFiles[] = {
    // A Compose file knows the port the service is published on, which the
    // .env beside it (read by the container, not by the host) does not.
    {"compose.yaml", Reader::compose},
    {"compose.yml", Reader::compose},
    {"docker-compose.yml", Reader::compose},
    {"docker-compose.yaml", Reader::compose},
    // Framework loaders read .env.local and .env.development over .env.
    {".env.local", Reader::dotenv},
    {".env.development", Reader::dotenv},
    {".env", Reader::dotenv},
    {"settings.py", Reader::django},
    {"config/database.yml", Reader::rails},
    {"src/main/resources/application.properties", Reader::spring},
    {"src/main/resources/application.yml", Reader::spring},
    {"src/main/resources/application.yaml", Reader::spring},
    {"application.properties", Reader::spring},
    {"application.yml", Reader::spring},
    {"application.yaml", Reader::spring},
    {"config.json", Reader::config},
    {"config.yaml", Reader::config},
    {"config.yml", Reader::config},
    {"ormconfig.json", Reader::config},
    {"custom/conf/app.ini", Reader::ini},  // Gitea
    {"app.ini", Reader::ini},
    {"grafana.ini", Reader::ini},
    {"conf/custom.ini", Reader::ini},  // Grafana
    {"odoo.conf", Reader::ini},
    {".odoorc", Reader::ini},
};

// Values that name PostgreSQL in engine, adapter, type, driver and
// connection keys, compared in lower case.
constexpr std::string_view kPostgresNames[] = {
    "postgres",   "postgresql", "postgre", "pgsql", "postgresdb", "psql", "pg", "postgis",
    "django.db.backends.postgresql", "django.db.backends.postgresql_psycopg2",
    "django.contrib.gis.db.backends.postgis", ".postgresql",
};

// --- .env files -----------------------------------------------------------------

// Keys whose value is a connection URL, in the order they are tried.
constexpr std::string_view kUrlKeys[] = {
    "DATABASE_URL", "DATABASE_URI", "SQLALCHEMY_DATABASE_URI", "SQLALCHEMY_DATABASE_URL",
    "POSTGRES_URL", "POSTGRESQL_URL", "PG_URL",
};

// One framework's variables. Empty names are not used.
struct KeySet {
  std::string_view framework;
  std::string_view marker;  // must name PostgreSQL when present
  bool marker_required;
  std::string_view url;
  std::string_view host, host_alt, port, user, password, database;
  std::string_view database_default;  // stands for the database when none is given
  std::string_view default_literal;   // ... and this when neither is given
  std::string_view sslmode, sslrootcert, sslcert, sslkey;
};

constexpr KeySet kKeySets[] = {
    {"Laravel", "DB_CONNECTION", true, "DB_URL", "DB_HOST", {}, "DB_PORT", "DB_USERNAME",
     "DB_PASSWORD", "DB_DATABASE", {}, {}, "DB_SSLMODE", {}, {}, {}},
    {"Metabase", "MB_DB_TYPE", true, "MB_DB_CONNECTION_URI", "MB_DB_HOST", {}, "MB_DB_PORT",
     "MB_DB_USER", "MB_DB_PASS", "MB_DB_DBNAME", {}, {}, {}, {}, {}, {}},
    {"n8n", "DB_TYPE", true, {}, "DB_POSTGRESDB_HOST", {}, "DB_POSTGRESDB_PORT", "DB_POSTGRESDB_USER",
     "DB_POSTGRESDB_PASSWORD", "DB_POSTGRESDB_DATABASE", {}, {}, {}, "DB_POSTGRESDB_SSL_CA",
     "DB_POSTGRESDB_SSL_CERT", "DB_POSTGRESDB_SSL_KEY"},
    {"Keycloak", "KC_DB", false, "KC_DB_URL", "KC_DB_URL_HOST", {}, "KC_DB_URL_PORT", "KC_DB_USERNAME",
     "KC_DB_PASSWORD", "KC_DB_URL_DATABASE", {}, {}, {}, {}, {}, {}},
    {"TypeORM", "TYPEORM_CONNECTION", false, "TYPEORM_URL", "TYPEORM_HOST", {}, "TYPEORM_PORT",
     "TYPEORM_USERNAME", "TYPEORM_PASSWORD", "TYPEORM_DATABASE", {}, {}, {}, {}, {}, {}},
    // The official image and Compose files (POSTGRES_SERVER is the FastAPI
    // template's): the database defaults to the user, the user to postgres.
    {"POSTGRES_* variables", {}, false, {}, "POSTGRES_HOST", "POSTGRES_SERVER", "POSTGRES_PORT", "POSTGRES_USER",
     "POSTGRES_PASSWORD", "POSTGRES_DB", "POSTGRES_USER", "postgres", {}, {}, {}, {}},
    {"Bitnami POSTGRESQL_* variables", {}, false, {}, "POSTGRESQL_HOST", {}, "POSTGRESQL_PORT_NUMBER",
     "POSTGRESQL_USERNAME", "POSTGRESQL_PASSWORD", "POSTGRESQL_DATABASE", {}, {}, {}, {}, {}, {}},
    {"PG* variables", {}, false, {}, "PGHOST", {}, "PGPORT", "PGUSER", "PGPASSWORD", "PGDATABASE",
     {}, {}, "PGSSLMODE", "PGSSLROOTCERT", "PGSSLCERT", "PGSSLKEY"},
};

std::optional<std::string> nonempty(std::optional<std::string> v) {
  if (!v || v->empty()) return std::nullopt;
  return v;
}

std::optional<std::string> get(const Node& map, std::string_view key) {
  if (key.empty()) return std::nullopt;
  return nonempty(value_at(&map, key));
}

std::optional<std::string> get_nocase(const Node& map, std::string_view key) {
  if (key.empty()) return std::nullopt;
  return nonempty(value_at_nocase(&map, key));
}

std::optional<std::string> checked_port(std::optional<std::string> port) {
  if (port && !is_port(*port)) return std::nullopt;
  return port;
}

std::optional<Found> found(Endpoint e, std::string_view framework) {
  if (!usable(e)) return std::nullopt;
  return Found{std::move(e), std::string(framework), {}};
}

// A URL that names a host and a database stands on its own.
std::optional<Endpoint> standalone_url(std::optional<std::string> text) {
  if (!text) return std::nullopt;
  auto e = parse_connection_url(*text);
  if (!e || !e->host || !e->database) return std::nullopt;
  return e;
}

std::optional<Found> read_key_set(const Node& doc, const KeySet& set) {
  if (!set.marker.empty()) {
    auto marker = get(doc, set.marker);
    if (marker ? !names_postgres(*marker) : set.marker_required) return std::nullopt;
  }
  Endpoint e;
  if (auto url = get(doc, set.url)) {
    if (auto parsed = parse_connection_url(*url)) e = *parsed;
  }
  Endpoint keys;
  keys.host = get(doc, set.host);
  if (!keys.host) keys.host = get(doc, set.host_alt);
  keys.port = checked_port(get(doc, set.port));
  keys.user = get(doc, set.user);
  keys.password = get(doc, set.password);
  keys.database = get(doc, set.database);
  keys.tls.sslmode = get(doc, set.sslmode);
  keys.tls.sslrootcert = get(doc, set.sslrootcert);
  keys.tls.sslcert = get(doc, set.sslcert);
  keys.tls.sslkey = get(doc, set.sslkey);
  bool engaged = !keys.empty() || !e.empty();
  e.fill_from(keys);
  bool inferred = false;
  if (!e.database && (e.database = get(doc, set.database_default))) inferred = true;
  if (!e.database && engaged && !set.default_literal.empty()) {
    e.database = std::string(set.default_literal);
    inferred = true;
  }
  auto result = found(std::move(e), set.framework);
  if (result) result->database_inferred = inferred;
  return result;
}

std::optional<Found> read_dotenv(const Node& doc) {
  for (std::string_view key : kUrlKeys)
    if (auto e = standalone_url(get(doc, key))) return found(std::move(*e), key);
  for (const KeySet& set : kKeySets)
    if (auto f = read_key_set(doc, set)) return f;
  return std::nullopt;
}

// --- Django -------------------------------------------------------------------

bool truthy(const Node* n) {
  if (n == nullptr) return false;
  switch (n->kind) {
    case Node::Kind::null: return false;
    case Node::Kind::boolean: return n->scalar == "true";
    case Node::Kind::number: return n->scalar.find_first_not_of("0.") != std::string::npos;
    case Node::Kind::text: return !n->scalar.empty();
    case Node::Kind::list: return !n->items.empty();
    case Node::Kind::map: return !n->entries.empty();
  }
  return false;
}

std::optional<std::string> django_value(const Node& entry, KeyList spellings) {
  std::size_t i = pick_spelling(spellings, [&](std::string_view k) { return truthy(entry.get(k)); });
  return get(entry, spellings[i]);
}

std::optional<Found> read_django(const Node& databases) {
  for (const auto& [name, entry] : databases.entries) {
    if (!entry.is_map()) continue;
    auto engine = get(entry, "ENGINE");
    if (!engine || !names_postgres(*engine)) continue;
    Endpoint e;
    e.user = django_value(entry, django_aliases[0].spellings);
    e.password = django_value(entry, django_aliases[1].spellings);
    e.database = django_value(entry, django_aliases[2].spellings);
    e.host = django_value(entry, django_aliases[3].spellings);
    e.port = checked_port(django_value(entry, django_aliases[4].spellings));
    if (const Node* options = entry.get("OPTIONS"); options && options->is_map()) {
      e.tls.sslmode = get(*options, "sslmode");
      e.tls.sslrootcert = get(*options, "sslrootcert");
      e.tls.sslcert = get(*options, "sslcert");
      e.tls.sslkey = get(*options, "sslkey");
    }
    return found(std::move(e), "Django");
  }
  return std::nullopt;
}

// --- Rails --------------------------------------------------------------------

// An ERB tag is evaluated by Rails, not here: such a value is unknown.
std::optional<std::string> literal(std::optional<std::string> v) {
  if (v && v->find("<%") != std::string::npos) return std::nullopt;
  return v;
}

const Node* rails_section(const Node& doc, const Environment& env) {
  auto rails_env = lookup(env, "RAILS_ENV");
  std::string_view name = rails_env && !rails_env->empty() ? *rails_env : "development"sv;
  const Node* section = doc.is_map() ? doc.get(name) : nullptr;
  if (section == nullptr || !section->is_map()) return nullptr;
  // Several databases per environment: the primary one, else the first.
  if (!section->get("adapter") && !section->get("database") && !section->get("url")) {
    if (const Node* primary = section->get("primary"); primary && primary->is_map()) return primary;
    for (const auto& [key, value] : section->entries)
      if (value.is_map()) return &value;
  }
  return section;
}

std::optional<Found> read_rails(const Node& doc, const Environment& env) {
  const Node* s = rails_section(doc, env);
  if (s == nullptr) return std::nullopt;
  auto adapter = literal(get(*s, "adapter"));
  if (adapter && !names_postgres(*adapter)) return std::nullopt;
  Endpoint e;
  e.host = literal(get(*s, "host"));
  e.port = checked_port(literal(get(*s, "port")));
  e.user = literal(get(*s, "username"));
  e.password = literal(get(*s, "password"));
  e.database = literal(get(*s, "database"));
  e.tls.sslmode = literal(get(*s, "sslmode"));
  e.tls.sslrootcert = literal(get(*s, "sslrootcert"));
  e.tls.sslcert = literal(get(*s, "sslcert"));
  e.tls.sslkey = literal(get(*s, "sslkey"));
  if (auto url = literal(get(*s, "url"))) {
    if (auto parsed = parse_connection_url(*url)) e.fill_from(*parsed);
  }
  return found(std::move(e), "Rails");
}

// --- Spring Boot --------------------------------------------------------------

// ${NAME} and ${NAME:default}, from the environment; nullopt when a
// placeholder stays open.
std::optional<std::string> resolve_placeholders(std::optional<std::string> value,
                                                const Environment& env) {
  if (!value) return value;
  std::string out;
  std::string_view rest = *value;
  while (true) {
    std::size_t open = rest.find("${");
    if (open == std::string_view::npos) break;
    std::size_t close = rest.find('}', open);
    if (close == std::string_view::npos) return std::nullopt;
    out.append(rest.substr(0, open));
    std::string_view inner = rest.substr(open + 2, close - open - 2);
    std::size_t colon = inner.find(':');
    auto from_env = lookup(env, inner.substr(0, colon));
    if (from_env && !from_env->empty())
      out.append(*from_env);
    else if (colon != std::string_view::npos)
      out.append(inner.substr(colon + 1));
    else
      return std::nullopt;
    rest = rest.substr(close + 1);
  }
  out.append(rest);
  return nonempty(out);
}

std::optional<Found> read_spring(const Node& doc, const Environment& env) {
  Node flat = flatten_dotted(doc);
  auto url = resolve_placeholders(get(flat, "spring.datasource.url"), env);
  if (!url) return std::nullopt;
  auto e = parse_connection_url(*url);
  if (!e) return std::nullopt;
  if (auto user = resolve_placeholders(get(flat, "spring.datasource.username"), env)) e->user = user;
  if (auto pw = resolve_placeholders(get(flat, "spring.datasource.password"), env)) e->password = pw;
  return found(std::move(*e), "Spring Boot");
}

// --- config.json and friends ------------------------------------------------

constexpr std::string_view kNestingKeys[] = {"database", "db", "postgres", "postgresql", "default"};
constexpr std::string_view kEngineKeys[] = {"type", "engine", "dialect", "adapter", "driver",
                                            "client", "db_type"};
constexpr std::string_view kConfigUrlKeys[] = {"url", "uri", "database_url", "connection_string",
                                               "connectionString", "dsn"};
constexpr std::string_view kConfigHostKeys[] = {"host", "hostname", "server"};
constexpr std::string_view kConfigUserKeys[] = {"user", "username"};
constexpr std::string_view kConfigPasswordKeys[] = {"password", "pass", "passwd"};
// "name" and "db" only where the block is about the database anyway.
constexpr std::string_view kFlatDatabaseKeys[] = {"database", "dbname", "db_name"};
constexpr std::string_view kNestedDatabaseKeys[] = {"database", "dbname", "db_name", "name", "db"};

template <std::size_t N>
std::optional<std::string> first_nocase(const Node& map, const std::string_view (&keys)[N]) {
  for (std::string_view key : keys)
    if (auto v = get_nocase(map, key)) return v;
  return std::nullopt;
}

std::optional<Found> read_config_block(const Node& block, bool nested) {
  auto engine = first_nocase(block, kEngineKeys);
  if (engine && !names_postgres(*engine)) return std::nullopt;
  Endpoint e;
  if (auto url = first_nocase(block, kConfigUrlKeys)) {
    if (auto parsed = parse_connection_url(*url)) e = *parsed;
  }
  // Top-level keys of an arbitrary config.json say nothing about a database
  // unless it says PostgreSQL or carries a URL.
  if (!nested && !engine && e.empty()) return std::nullopt;
  Endpoint keys;
  keys.host = first_nocase(block, kConfigHostKeys);
  keys.port = checked_port(get_nocase(block, "port"));
  keys.user = first_nocase(block, kConfigUserKeys);
  keys.password = first_nocase(block, kConfigPasswordKeys);
  keys.database = nested ? first_nocase(block, kNestedDatabaseKeys)
                         : first_nocase(block, kFlatDatabaseKeys);
  keys.tls.sslmode = get_nocase(block, "sslmode");
  e.fill_from(keys);
  return found(std::move(e), "config file");
}

std::optional<Found> read_config(const Node& doc) {
  const Node* root = &doc;
  // ormconfig.json may hold a list of connections: the first one.
  if (doc.kind == Node::Kind::list && !doc.items.empty()) root = &doc.items.front();
  if (!root->is_map()) return std::nullopt;
  for (std::string_view key : kNestingKeys) {
    const Node* block = root->get_nocase(key);
    if (block == nullptr || !block->is_map()) continue;
    if (auto f = read_config_block(*block, true)) return f;
  }
  return read_config_block(*root, false);
}

// --- INI ----------------------------------------------------------------------

// Odoo writes False for a value it leaves to libpq.
std::optional<std::string> odoo_value(const Node& map, std::string_view key) {
  auto v = get_nocase(map, key);
  if (v && iequals(*v, "false")) return std::nullopt;
  return v;
}

std::optional<Found> read_database_section(const Node& s) {
  auto type = first_nocase(s, {"type"sv, "db_type"sv});
  if (type && !names_postgres(*type)) return std::nullopt;
  Endpoint e;
  // Gitea and Grafana write host:port in one value.
  if (auto host = get_nocase(s, "host")) {
    std::size_t colon = host->rfind(':');
    if (colon != std::string::npos && host->find(':') == colon && is_port(host->substr(colon + 1))) {
      e.port = host->substr(colon + 1);
      e.host = nonempty(host->substr(0, colon));
    } else {
      e.host = host;
    }
  }
  if (auto port = checked_port(get_nocase(s, "port"))) e.port = port;
  e.database = first_nocase(s, {"name"sv, "database"sv, "dbname"sv});
  e.user = first_nocase(s, {"user"sv, "username"sv});
  e.password = first_nocase(s, {"passwd"sv, "password"sv});
  e.tls.sslmode = first_nocase(s, {"ssl_mode"sv, "sslmode"sv});
  return found(std::move(e), "INI [database]");
}

std::optional<Found> read_odoo(const Node& s) {
  Endpoint e;
  e.host = odoo_value(s, "db_host");
  e.port = checked_port(odoo_value(s, "db_port"));
  e.user = odoo_value(s, "db_user");
  e.password = odoo_value(s, "db_password");
  e.database = odoo_value(s, "db_name");
  e.tls.sslmode = odoo_value(s, "db_sslmode");
  return found(std::move(e), "Odoo");
}

std::optional<Found> read_ini(const Node& doc) {
  if (!doc.is_map()) return std::nullopt;
  if (const Node* s = doc.get_nocase("database"); s && s->is_map())
    if (auto f = read_database_section(*s)) return f;
  if (const Node* s = doc.get_nocase("options"); s && s->is_map())
    if (auto f = read_odoo(*s)) return f;
  // Lines before the first section read like a .env file.
  return read_dotenv(doc);
}

// --- Docker Compose -----------------------------------------------------------

constexpr std::string_view kPostgresImages[] = {"postgres", "postgis", "timescaledb", "pgvector"};

bool postgres_image(std::string_view image) {
  std::string lower = ascii_lower(image);
  for (std::string_view name : kPostgresImages)
    if (lower.find(name) != std::string::npos) return true;
  return false;
}

// The service's environment, `environment:` as a map or as KEY=VALUE items,
// interpolated; values from an env_file stand behind it.
Node service_environment(const Node& service, const Environment& env) {
  Node out = Node::map();
  if (const Node* given = service.get("environment")) {
    if (given->is_map()) {
      for (const auto& [key, value] : given->entries)
        if (auto v = value.value()) out.add(key, Node::text(compose_interpolate(*v, env)));
    } else if (given->kind == Node::Kind::list) {
      for (const Node& item : given->items) {
        auto v = item.value();
        if (!v) continue;
        std::size_t eq = v->find('=');
        if (eq == std::string::npos) continue;
        out.add(v->substr(0, eq), Node::text(compose_interpolate(v->substr(eq + 1), env)));
      }
    }
  }
  if (service.get("env_file")) {
    for (const auto& [key, value] : env)
      if (!out.get(key)) out.add(key, Node::text(value));
  }
  return out;
}

struct Published {
  std::optional<std::string> host, port;
};

// Where the container's port 5432 is published: "5433:5432",
// "127.0.0.1:5433:5432/tcp", or {target: 5432, published: 5433, host_ip: ...}.
std::optional<Published> published_port(const Node& service, const Environment& env) {
  const Node* ports = service.get("ports");
  if (ports == nullptr || ports->kind != Node::Kind::list) return std::nullopt;
  for (const Node& entry : ports->items) {
    Published p;
    std::string target;
    if (entry.is_map()) {
      target = value_at(&entry, "target").value_or("");
      p.port = value_at(&entry, "published");
      p.host = value_at(&entry, "host_ip");
    } else if (auto text = entry.value()) {
      std::string mapping = compose_interpolate(*text, env);
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

std::optional<Found> read_compose(const Node& doc, const Environment& env) {
  const Node* services = doc.is_map() ? doc.get("services") : nullptr;
  if (services == nullptr || !services->is_map()) return std::nullopt;
  for (const auto& [name, service] : services->entries) {
    if (!service.is_map()) continue;
    auto image = value_at(&service, "image");
    if (!image || !postgres_image(*image)) continue;
    auto published = published_port(service, env);
    if (!published) continue;  // not reachable from this machine
    Node vars = service_environment(service, env);
    Endpoint e;
    e.host = published->host;
    e.port = published->port;
    e.user = nonempty(value_at(&vars, "POSTGRES_USER"));
    if (!e.user) e.user = nonempty(value_at(&vars, "POSTGRESQL_USERNAME"));
    e.password = nonempty(value_at(&vars, "POSTGRES_PASSWORD"));
    if (!e.password) e.password = nonempty(value_at(&vars, "POSTGRESQL_PASSWORD"));
    e.database = nonempty(value_at(&vars, "POSTGRES_DB"));
    if (!e.database) e.database = nonempty(value_at(&vars, "POSTGRESQL_DATABASE"));
    // The image's own defaults: the database is named after the user, the
    // user is postgres.
    if (!e.user) e.user = "postgres";
    if (!e.database) e.database = e.user;
    return found(std::move(e), "Docker Compose");
  }
  return std::nullopt;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && iequals(s.substr(s.size() - suffix.size()), suffix);
}

std::string_view base_name(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// --- the walk -----------------------------------------------------------------

std::string join(const std::string& dir, const std::string& name) {
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::vector<std::string> subdirectories(ListingCache& cache, const std::string& dir) {
  std::vector<std::string> out;
  ListingCache::Directory& d = cache.directory(dir);
  const std::vector<DirEntry>* entries = nullptr;
  bool exact = false;
  if (cache.list(d, dir, entries, exact) != 0) return out;
  for (const DirEntry& entry : *entries) {
    if (skipped_directory(entry.name)) continue;
    bool is_dir = exact && entry.type == EntryType::directory;
    if (!is_dir && !(exact && (entry.type == EntryType::regular || entry.type == EntryType::other))) {
      FileKind kind;
      is_dir = cache.stat_in(d, dir, entry.name, false, kind) == 0 && kind == FileKind::directory;
    }
    if (is_dir) out.push_back(entry.name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// `root` and its subdirectories, level by level, down to `down`. Links
// make one directory reachable by many paths (and a loop by endless ones):
// each directory comes once, by the first path that reaches it.
void add_subtree(ListingCache& cache, const std::string& root, long long down,
                 std::vector<std::string>& order, std::set<const void*>& seen) {
  if (!seen.insert(&cache.directory(root)).second) return;
  order.push_back(root);
  std::vector<std::string> level{root};
  for (long long depth = 0; depth < down && !level.empty(); ++depth) {
    std::vector<std::string> next;
    for (const std::string& dir : level) {
      for (const std::string& name : subdirectories(cache, dir)) {
        std::string child = join(dir, name);
        if (!seen.insert(&cache.directory(child)).second) continue;
        order.push_back(child);
        next.push_back(std::move(child));
      }
    }
    level = std::move(next);
  }
}

std::string levels_text(long long up, long long down) {
  std::string where;
  if (down > 0) where += ", " + std::to_string(down) + (down == 1 ? " level" : " levels") + " below";
  if (up > 0) where += ", " + std::to_string(up + 1) + " levels above";
  return where;
}

}  // namespace

const std::span<const ProjectFile> project_files{kProjectFiles};

bool names_postgres(std::string_view value) {
  std::string lowered = ascii_lower(value);
  for (std::string_view name : kPostgresNames)
    if (lowered == name) return true;
  return false;
}

bool usable(const Endpoint& e) { return e.database.has_value() && !e.database->empty(); }

Format format_for(std::string_view file_name) {
  std::string_view name = base_name(file_name);
  if (ends_with(name, ".py")) return Format::python;
  if (ends_with(name, ".json")) return Format::json;
  if (ends_with(name, ".yml") || ends_with(name, ".yaml")) return Format::yaml;
  if (ends_with(name, ".toml")) return Format::toml;
  if (ends_with(name, ".properties")) return Format::properties;
  if (ends_with(name, ".ini") || ends_with(name, ".conf") || ends_with(name, ".cfg") ||
      name == ".odoorc")
    return Format::ini;
  return Format::dotenv;
}

std::vector<Reader> readers_for(std::string_view file_name) {
  std::string_view name = base_name(file_name);
  switch (format_for(name)) {
    case Format::python: return {Reader::django};
    case Format::properties: return {Reader::spring};
    case Format::ini: return {Reader::ini};
    case Format::dotenv: return {Reader::dotenv};
    case Format::json:
    case Format::toml: return {Reader::config, Reader::dotenv};
    case Format::yaml:
      if (ascii_lower(name).find("compose") != std::string::npos) return {Reader::compose};
      if (iequals(name, "database.yml") || iequals(name, "database.yaml"))
        return {Reader::rails, Reader::config};
      return {Reader::spring, Reader::config, Reader::rails, Reader::dotenv};
  }
  return {Reader::dotenv};
}

std::optional<Found> recognise(Reader reader, const Node& document, const Environment& env) {
  switch (reader) {
    case Reader::dotenv: return document.is_map() ? read_dotenv(document) : std::nullopt;
    case Reader::django: return document.is_map() ? read_django(document) : std::nullopt;
    case Reader::rails: return read_rails(document, env);
    case Reader::spring: return read_spring(document, env);
    case Reader::config: return read_config(document);
    case Reader::ini: return read_ini(document);
    case Reader::compose: return read_compose(document, env);
  }
  return std::nullopt;
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

std::vector<std::string> project_directories(ListingCache& cache, const std::string& start,
                                             long long up, long long down) {
  std::vector<std::string> order;
  std::set<const void*> seen;
  add_subtree(cache, start, down, order, seen);
  std::string current = start;
  for (long long i = 0; up > 0 && i <= up; ++i) {
    std::string parent = parent_path(current);
    if (parent == current || parent == parent_path(parent)) break;  // the root is never scanned
    add_subtree(cache, parent, down, order, seen);
    current = parent;
  }
  return order;
}

std::string nothing_found_hint(std::string_view start, long long up, long long down,
                               std::string_view named_file) {
  if (!named_file.empty())
    return "💡 Read " + std::string(named_file) +
           " as named before the command, then DATABASE_URL and the PG* variables; none of them "
           "names a database. Run with --debug to see what was read.";
  return "💡 Looked for settings.py, config.json, .env, .json, .yaml and the settings files of "
         "Django, Rails, Laravel, Spring Boot, Docker Compose and other projects in " +
         std::string(start) + levels_text(up, down) + " (-dl " + std::to_string(down) + ", -ul " +
         std::to_string(up) +
         "), then in DATABASE_URL and the PG* variables; none of them names a database. Run with "
         "--debug to see the search, or name the file before the command: talvo path/to/.env "
         "show tables";
}

}  // namespace talvo::core
