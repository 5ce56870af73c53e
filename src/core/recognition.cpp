#include "core/recognition.hpp"

#include <map>
#include <tuple>

#include "core/connection_url.hpp"
#include "core/project_documents.hpp"
#include "core/value_shapes.hpp"
#include "core/vocabulary.hpp"

namespace talvo::core {

namespace {

using namespace std::string_view_literals;

// Knowledge the words cannot carry, as rows of the scheme.
//
// Groups that only count when an engine key names PostgreSQL: n8n and
// Metabase keep their PostgreSQL settings beside a default of SQLite or H2.
constexpr std::string_view kMarkerRequired[] = {"db postgresdb", "mb db"};

// Labels for the log, by the first key of a group.
constexpr std::pair<std::string_view, std::string_view> kLabels[] = {
    {"DB_CONNECTION", "Laravel"},  {"MB_DB_", "Metabase"},   {"DB_POSTGRESDB_", "n8n"},
    {"DB_TYPE", "n8n"},            {"KC_DB", "Keycloak"},    {"TYPEORM_", "TypeORM"},
    {"POSTGRESQL_", "Bitnami POSTGRESQL_* variables"},       {"POSTGRES_", "POSTGRES_* variables"},
    {"PGHOST", "PG* variables"},   {"PGPORT", "PG* variables"}, {"PGUSER", "PG* variables"},
    {"PGPASSWORD", "PG* variables"}, {"PGDATABASE", "PG* variables"},
};

struct Parsed {
  std::size_t index;
  FieldMatch field;
  std::string group;         // its group's key
  bool speaks = false;       // its own words speak of a database
  bool postgres_word = false;  // ... or name PostgreSQL
  std::optional<ShapedValue> shaped;
};

struct Group {
  std::vector<std::string> words;
  std::vector<std::size_t> members;  // into the parsed settings, in document order
  std::vector<Engine> markers;       // what its engine keys and values name, in order
  std::optional<std::string> label;  // the environment its words name
};

struct Assembled {
  Endpoint endpoint;
  Origins origins;
  bool url = false;
  std::string url_key;
  bool inferred = false;  // the database is the image's default
};

bool has_word(const std::vector<std::string>& words, WordKind kind) {
  for (const std::string& w : words)
    if (word_kind(w) == kind) return true;
  return false;
}

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

bool may_hold_shape(std::string_view v) {
  return v.find("://") != std::string_view::npos || v.find("jdbc:") != std::string_view::npos ||
         v.find(';') != std::string_view::npos || v.find('=') != std::string_view::npos;
}

// A value that still refers elsewhere is not known here.
bool unresolved(std::string_view v) {
  return v.find("${") != std::string_view::npos || v.find("<%") != std::string_view::npos ||
         v.find("{{") != std::string_view::npos;
}

bool plain_value(std::string_view v) { return !v.empty() && !unset_value(v) && !unresolved(v); }

Origin origin_of(const KeyValue& s) { return {s.file, s.key, s.line}; }

class Recogniser {
 public:
  Recogniser(std::span<const KeyValue> settings, const RecognitionOptions& options)
      : settings_(settings), options_(options) {}

  std::vector<Candidate> run() {
    for (std::size_t i = 0; i < settings_.size(); ++i) parse(i);
    engine_menu_ = is_engine_menu();
    std::map<std::string, Assembled> assembled;
    for (const std::string& key : order_) {
      if (auto a = assemble(key)) assembled.emplace(key, std::move(*a));
    }
    std::vector<Candidate> out;
    for (const std::string& key : order_) {
      auto it = assembled.find(key);
      if (it == assembled.end()) continue;
      Assembled a = it->second;
      const Group& g = groups_.at(key);
      if (g.label) inherit(a, g, assembled);
      if (auto c = candidate(key, g, std::move(a))) out.push_back(std::move(*c));
    }
    return out;
  }

 private:
  // A script that lays out a section per engine (Strapi's config/database.js:
  // mysql, postgres, sqlite side by side) chooses one of them when it runs,
  // from a variable the project may not set: its PostgreSQL section is a
  // template's placeholder, not the project's choice. Data files that do the
  // same name the engine they use in their own words, and stay readable.
  bool is_engine_menu() const {
    if (settings_.empty() || format_for(settings_.front().file) != Format::script) return false;
    bool postgres = false, other = false;
    for (const auto& [key, g] : groups_) {
      postgres = postgres || has_word(g.words, WordKind::postgres);
      other = other || has_word(g.words, WordKind::other_engine);
    }
    return postgres && other;
  }

  void parse(std::size_t i) {
    const KeyValue& s = settings_[i];
    if (s.value.empty()) return;
    std::vector<std::string> words = key_words(s.key);
    Parsed p;
    p.index = i;
    p.field = key_field(words);
    std::vector<std::string> prefix(words.begin(), words.end() - static_cast<long>(p.field.words));
    std::vector<std::string> group = group_words(words, p.field.words);
    p.group = joined(group);
    p.postgres_word = has_word(prefix, WordKind::postgres);
    p.speaks = p.postgres_word || has_word(prefix, WordKind::context) ||
               (p.field.words == 1 && fused_database_word(words.back()));
    auto [it, fresh] = groups_.try_emplace(p.group);
    Group& g = it->second;
    if (fresh) {
      g.words = group;
      for (const std::string& w : group)
        if (!g.label) g.label = environment_label(w);
      order_.push_back(p.group);
    }
    if (may_hold_shape(s.value)) {
      p.shaped = connection_value(s.value);
      if (!p.shaped && other_engine_value(s.value)) g.markers.push_back(Engine::other);
    }
    if (!p.shaped) note_engine(p, g, s.value);
    g.members.push_back(parsed_.size());
    parsed_.push_back(std::move(p));
  }

  void note_engine(const Parsed& p, Group& g, std::string_view value) {
    switch (p.field.field) {
      case Field::engine:
      case Field::connection:
      case Field::database:
      case Field::name:
      case Field::db:
        if (Engine e = engine_named(value); e != Engine::unknown) g.markers.push_back(e);
        break;
      default: break;
    }
  }

  // The engine a group is of: its own words, else the nearest engine key
  // of it or a group it lies in, else a URL it holds.
  Engine engine_of(const std::string& key, bool& by_marker) const {
    const Group& g = groups_.at(key);
    by_marker = false;
    if (has_word(g.words, WordKind::other_engine)) return Engine::other;
    std::vector<std::string> prefix = g.words;
    while (true) {
      auto it = groups_.find(joined(prefix));
      if (it != groups_.end() && !it->second.markers.empty()) {
        by_marker = true;
        return it->second.markers.front();
      }
      if (prefix.empty()) break;
      prefix.pop_back();
    }
    for (std::size_t m : g.members)
      if (parsed_[m].shaped && !parsed_[m].shaped->needs_postgres_context) return Engine::postgres;
    if (has_word(g.words, WordKind::postgres)) return Engine::postgres;
    return Engine::unknown;
  }

  std::optional<Assembled> assemble(const std::string& key) {
    const Group& g = groups_.at(key);
    bool by_marker = false;
    Engine engine = engine_of(key, by_marker);
    if (engine == Engine::other) return std::nullopt;
    if (engine_menu_ && has_word(g.words, WordKind::postgres)) return std::nullopt;
    for (std::string_view row : kMarkerRequired)
      if ((key == row || key.starts_with(std::string(row) + " ")) &&
          !(by_marker && engine == Engine::postgres))
        return std::nullopt;
    bool context = has_word(g.words, WordKind::context) || has_word(g.words, WordKind::postgres);
    bool strong = engine == Engine::postgres || context;
    bool weak = g.label.has_value();
    bool postgres_group = has_word(g.words, WordKind::postgres);

    Assembled a;
    // A whole connection value first: its host and port stand, keys fill
    // in what it leaves out of the rest.
    for (std::size_t m : g.members) {
      const Parsed& p = parsed_[m];
      if (!p.shaped) continue;
      const KeyValue& s = settings_[p.index];
      bool hostless_url = (p.shaped->shape == Shape::url || s.value.find("://") != std::string::npos) &&
                          !p.shaped->endpoint.host;
      if (hostless_url) continue;
      if (p.shaped->needs_postgres_context && !(engine == Engine::postgres && (by_marker || postgres_group || p.postgres_word)))
        continue;
      a.endpoint = p.shaped->endpoint;
      a.url = true;
      a.url_key = s.key;
      Origin o = origin_of(s);
      Endpoint& e = a.endpoint;
      if (e.host) a.origins.host = o;
      if (e.port) a.origins.port = o;
      if (e.user) a.origins.user = o;
      if (e.password) a.origins.password = o;
      if (e.database) a.origins.database = o;
      if (e.tls.sslmode) a.origins.sslmode = o;
      break;
    }
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t m : g.members) {
        const Parsed& p = parsed_[m];
        bool joins = pass == 0 ? p.speaks : (!p.speaks && (strong || weak));
        if (!joins) continue;
        if (pass == 1 && !strong && (p.field.field == Field::name || p.field.field == Field::db))
          continue;
        take(a, p, context || p.speaks, postgres_group || p.postgres_word);
      }
    }
    if (options_.image_defaults && key == "postgres" && !a.url && !a.endpoint.database &&
        !a.endpoint.empty()) {
      // The official image: the database is named after the user, and is
      // postgres when no user is given.
      a.endpoint.database = a.endpoint.user ? *a.endpoint.user : "postgres";
      a.origins.database = a.origins.user;
      a.inferred = true;
    }
    if (a.endpoint.empty()) return std::nullopt;
    return a;
  }

  // One key's value into the group's connection, unless one is there.
  void take(Assembled& a, const Parsed& p, bool database_context, bool postgres_group) {
    const KeyValue& s = settings_[p.index];
    const std::string& v = s.value;
    if (!plain_value(v)) return;
    Endpoint& e = a.endpoint;
    Origin o = origin_of(s);
    auto set = [&](std::optional<std::string>& slot, std::optional<Origin>& from, std::string value) {
      if (slot) return;
      slot = std::move(value);
      from = o;
    };
    auto names_database = [&] {
      // "postgres" is an engine, unless the group is the engine's own
      // (POSTGRES_DB=postgres is the image's default database).
      return engine_named(v) == Engine::unknown || postgres_group;
    };
    switch (p.field.field) {
      case Field::host:
        if (a.url || v.find_first_of(" \t") != std::string::npos) return;
        if (std::size_t colon = v.rfind(':');
            colon != std::string::npos && v.find(':') == colon && is_port(v.substr(colon + 1))) {
          set(e.port, a.origins.port, v.substr(colon + 1));
          if (colon > 0) set(e.host, a.origins.host, v.substr(0, colon));
        } else {
          set(e.host, a.origins.host, v);
        }
        break;
      case Field::port:
        if (!a.url && is_port(v)) set(e.port, a.origins.port, v);
        break;
      case Field::user: set(e.user, a.origins.user, v); break;
      case Field::password: set(e.password, a.origins.password, v); break;
      case Field::database:
        if (names_database()) set(e.database, a.origins.database, v);
        break;
      case Field::name:
      case Field::db:
        if (database_context && names_database()) set(e.database, a.origins.database, v);
        break;
      case Field::sslmode:
        if (is_sslmode(v)) set(e.tls.sslmode, a.origins.sslmode, v);
        break;
      default: break;
    }
  }

  // A section of the mode (development.dataSource, %dev.quarkus.datasource)
  // fills what it leaves open from the same section without the mode.
  void inherit(Assembled& a, const Group& g, const std::map<std::string, Assembled>& all) const {
    std::vector<std::string> base;
    for (const std::string& w : g.words)
      if (word_kind(w) != WordKind::environment && !(word_kind(w) == WordKind::connector &&
                                                     (w == "environments" || w == "profiles" ||
                                                      w == "envs" || w == "outputs" || w == "targets")))
        base.push_back(w);
    auto it = all.find(joined(base));
    if (it == all.end() || joined(base) == joined(g.words)) return;
    const Assembled& b = it->second;
    auto fill = [](std::optional<std::string>& v, std::optional<Origin>& o,
                   const std::optional<std::string>& bv, const std::optional<Origin>& bo) {
      if (!v && bv) {
        v = bv;
        o = bo;
      }
    };
    fill(a.endpoint.host, a.origins.host, b.endpoint.host, b.origins.host);
    fill(a.endpoint.port, a.origins.port, b.endpoint.port, b.origins.port);
    fill(a.endpoint.user, a.origins.user, b.endpoint.user, b.origins.user);
    fill(a.endpoint.password, a.origins.password, b.endpoint.password, b.origins.password);
    fill(a.endpoint.database, a.origins.database, b.endpoint.database, b.origins.database);
    fill(a.endpoint.tls.sslmode, a.origins.sslmode, b.endpoint.tls.sslmode, b.origins.sslmode);
  }

  std::optional<Candidate> candidate(const std::string& key, const Group& g, Assembled a) const {
    const Endpoint& e = a.endpoint;
    if (!e.database || e.database->empty()) return std::nullopt;
    std::optional<std::string> label = g.label;
    if (!label && !options_.file_environment.empty()) label = options_.file_environment;
    if (label && !same_environment(*label, options_.mode)) return std::nullopt;
    Candidate c;
    c.group = key;
    c.strength = (a.url || e.user) ? 0 : 1;
    c.mode_rank = label ? 0 : 1;
    for (const std::string& w : g.words)
      if (word_kind(w) == WordKind::plain && !neutral_word(w)) ++c.unknown_words;
    c.kind = a.url ? 0 : 1;
    c.position = g.members.empty() ? 0 : parsed_[g.members.front()].index;
    c.found.endpoint = e;
    c.origins = a.origins;
    record_origins(c.found, a.origins);
    c.found.database_inferred = a.inferred;
    c.found.framework = label_of(g, a);
    c.found.path = a.origins.database ? a.origins.database->file : std::string();
    return c;
  }

  std::string label_of(const Group& g, const Assembled& a) const {
    for (std::size_t m : g.members) {
      const std::string& k = settings_[parsed_[m].index].key;
      for (const auto& [prefix, label] : kLabels)
        if (k.starts_with(prefix)) return std::string(label);
    }
    if (a.url) return a.url_key;
    return g.members.empty() ? std::string() : settings_[parsed_[g.members.front()].index].key;
  }

  std::span<const KeyValue> settings_;
  const RecognitionOptions& options_;
  std::vector<Parsed> parsed_;
  std::map<std::string, Group> groups_;
  std::vector<std::string> order_;
  bool engine_menu_ = false;
};

}  // namespace

std::vector<Candidate> recognise_settings(std::span<const KeyValue> settings,
                                          const RecognitionOptions& options) {
  return Recogniser(settings, options).run();
}

bool ranks_before(const Candidate& a, const Candidate& b) {
  auto key = [](const Candidate& c) {
    return std::tie(c.strength, c.distance, c.mode_rank, c.unknown_words, c.file_order, c.kind,
                    c.position);
  };
  return key(a) < key(b);
}

std::optional<Candidate> best_candidate(std::span<const Candidate> candidates) {
  const Candidate* best = nullptr;
  for (const Candidate& c : candidates)
    if (best == nullptr || ranks_before(c, *best)) best = &c;
  if (best == nullptr) return std::nullopt;
  return *best;
}

std::string file_environment(std::string_view file_name) {
  std::string name = ascii_lower(file_name);
  std::size_t slash = name.rfind('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  // Every word but the extension: "config.development.json",
  // "application-dev.yml", "production.ini".
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of(".-_", start);
    if (end == std::string::npos) end = name.size();
    if (auto label = environment_label(name.substr(start, end - start))) return *label;
    start = end + 1;
  }
  return {};
}

}  // namespace talvo::core
