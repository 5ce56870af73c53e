#include "core/value_shapes.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/connection_url.hpp"
#include "core/document.hpp"
#include "core/vocabulary.hpp"

namespace talvo::core {

namespace {

using namespace std::string_view_literals;

std::string_view unquoted(std::string_view s) {
  s = trim(s);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    s = trim(s.substr(1, s.size() - 2));
  return s;
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

// libpq's connection keywords (PostgreSQL 17).
constexpr std::string_view kLibpqKeywords[] = {
    "host", "hostaddr", "port", "dbname", "user", "password", "passfile", "require_auth",
    "channel_binding", "connect_timeout", "client_encoding", "options", "application_name",
    "fallback_application_name", "keepalives", "keepalives_idle", "keepalives_interval",
    "keepalives_count", "tcp_user_timeout", "replication", "gssencmode", "sslmode",
    "requiressl", "sslcompression", "sslcert", "sslkey", "sslpassword", "sslcertmode",
    "sslrootcert", "sslcrl", "sslcrldir", "sslsni", "requirepeer", "ssl_min_protocol_version",
    "ssl_max_protocol_version", "krbsrvname", "gsslib", "gssdelegation", "service",
    "target_session_attrs", "load_balance_hosts", "sslnegotiation",
};

// Keys only SQL Server's and MySQL's clients know: such a string is theirs.
constexpr std::string_view kForeignAdoKeys[] = {
    "data source", "initial catalog", "integrated security", "trusted_connection",
    "multipleactiveresultsets", "attachdbfilename", "trustservercertificate", "encrypt",
    "allowuservariables", "convert zero datetime", "allowzerodatetime", "charset",
    "treattinyasboolean", "sslca", "mode",
};

template <std::size_t N>
bool one_of_nocase(std::string_view word, const std::string_view (&list)[N]) {
  for (std::string_view w : list)
    if (iequals(w, word)) return true;
  return false;
}

// The text of a URL as its client would read it: %% is one % where
// ConfigParser interpolates (alembic.ini), db+ and db: are Celery's and
// Sqitch's wrappers, and pg: is Sqitch's name for PostgreSQL.
std::string url_text(std::string_view value) {
  std::string text(unquoted(value));
  for (std::size_t at = text.find("%%"); at != std::string::npos; at = text.find("%%", at + 1))
    text.erase(at, 1);
  if (starts_with_nocase(text, "db+")) text.erase(0, 3);
  if (starts_with_nocase(text, "db:")) text.erase(0, 3);
  if (starts_with_nocase(text, "pg://")) text.replace(0, 2, "postgresql");
  return text;
}

// jdbc:postgresql:shop and jdbc:postgresql:/ name no host.
std::optional<Endpoint> jdbc_without_host(std::string_view url) {
  constexpr std::string_view prefix = "jdbc:postgresql:";
  if (!starts_with_nocase(url, prefix) || url.substr(prefix.size()).starts_with("//"))
    return std::nullopt;
  std::string_view rest = url.substr(prefix.size());
  std::size_t question = rest.find('?');
  std::string_view path = rest.substr(0, question);
  if (path.starts_with('/')) path.remove_prefix(1);
  if (path.empty() || path.find_first_of(":/ ") != std::string_view::npos) return std::nullopt;
  Endpoint e;
  e.database = percent_decode(path);
  if (question != std::string_view::npos) apply_query(e, rest.substr(question + 1));
  return e;
}

std::string lower_key(std::string_view key) {
  std::string out;
  for (char c : trim(key)) {
    if (c == '\t') c = ' ';
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  return ascii_lower(out);
}

// Key=Value pairs split at ';' outside quotes; nullopt when a part is no pair.
std::optional<std::vector<std::pair<std::string, std::string>>> ado_pairs(std::string_view s) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t eq = s.find('=', i);
    std::size_t semi = s.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      if (!trim(s.substr(i, semi == std::string_view::npos ? s.npos : semi - i)).empty())
        return std::nullopt;
      if (semi == std::string_view::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = lower_key(s.substr(i, eq - i));
    if (key.empty()) return std::nullopt;
    std::size_t j = eq + 1;
    while (j < s.size() && (s[j] == ' ' || s[j] == '\t')) ++j;
    std::string value;
    if (j < s.size() && (s[j] == '"' || s[j] == '\'')) {
      char quote = s[j];
      std::size_t close = s.find(quote, j + 1);
      if (close == std::string_view::npos) return std::nullopt;
      value = std::string(s.substr(j + 1, close - j - 1));
      j = close + 1;
      while (j < s.size() && s[j] != ';') {
        if (s[j] != ' ' && s[j] != '\t') return std::nullopt;
        ++j;
      }
    } else {
      std::size_t end = s.find(';', j);
      value = std::string(trim(s.substr(j, end == std::string_view::npos ? s.npos : end - j)));
      j = end == std::string_view::npos ? s.size() : end;
    }
    pairs.emplace_back(std::move(key), std::move(value));
    i = j + 1;
  }
  return pairs;
}

void set_host(Endpoint& e, std::string_view host) {
  host = host.substr(0, host.find(','));
  std::size_t colon = host.rfind(':');
  if (colon != std::string_view::npos && host.find(':') == colon && is_port(host.substr(colon + 1))) {
    if (!e.port) e.port = std::string(host.substr(colon + 1));
    host = host.substr(0, colon);
  }
  if (!host.empty()) e.host = std::string(host);
}

}  // namespace

std::optional<Endpoint> parse_keyword_value(std::string_view value) {
  std::string_view s = trim(value);
  Endpoint e;
  int pairs = 0;
  bool names_server = false;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    std::size_t eq = s.find('=', i);
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = trim(s.substr(i, eq - i));
    if (!one_of_nocase(key, kLibpqKeywords) || key.find(' ') != std::string_view::npos)
      return std::nullopt;
    std::size_t j = eq + 1;
    while (j < s.size() && (s[j] == ' ' || s[j] == '\t')) ++j;
    std::string v;
    if (j < s.size() && s[j] == '\'') {
      ++j;
      while (j < s.size() && s[j] != '\'') {
        if (s[j] == '\\' && j + 1 < s.size()) ++j;
        v.push_back(s[j++]);
      }
      if (j >= s.size()) return std::nullopt;
      ++j;
    } else {
      while (j < s.size() && s[j] != ' ' && s[j] != '\t') {
        if (s[j] == '\\' && j + 1 < s.size()) ++j;
        v.push_back(s[j++]);
      }
    }
    i = j;
    ++pairs;
    std::string k = ascii_lower(key);
    if (v.empty()) continue;
    if (k == "port" && !is_port(v.substr(0, v.find(',')))) return std::nullopt;
    if (k == "host" || k == "hostaddr" || k == "dbname" || k == "user") names_server = true;
    set_libpq_parameter(e, k, v);
  }
  if (pairs < 2 || !names_server) return std::nullopt;
  return e;
}

std::optional<Endpoint> parse_ado_net(std::string_view value, bool& host_key) {
  auto pairs = ado_pairs(trim(value));
  if (!pairs || pairs->size() < 2) return std::nullopt;
  Endpoint e;
  bool server = false;
  host_key = false;
  for (const auto& [key, v] : *pairs) {
    if (one_of_nocase(key, kForeignAdoKeys)) return std::nullopt;
    if (v.empty()) continue;
    if (key == "host") {
      host_key = server = true;
      set_host(e, v);
    } else if (key == "server") {
      server = true;
      set_host(e, v);
    } else if (key == "port") {
      if (!is_port(v)) return std::nullopt;
      e.port = v;
    } else if (key == "database" || key == "db") {
      e.database = v;
    } else if (key == "username" || key == "user name" || key == "user id" || key == "userid" ||
               key == "uid" || key == "user") {
      e.user = v;
    } else if (key == "password" || key == "pwd" || key == "psw") {
      e.password = v;
    } else if (key == "ssl mode" || key == "sslmode") {
      std::string mode = ascii_lower(v);
      e.tls.sslmode = mode == "verifyca" ? "verify-ca" : mode == "verifyfull" ? "verify-full" : mode;
    } else if (key == "root certificate") {
      e.tls.sslrootcert = v;
    } else if (key == "ssl certificate") {
      e.tls.sslcert = v;
    } else if (key == "ssl key") {
      e.tls.sslkey = v;
    }
  }
  if (!server || !e.database) return std::nullopt;
  return e;
}

std::optional<ShapedValue> connection_value(std::string_view value) {
  std::string_view text = unquoted(value);
  if (text.empty() || text.size() > 4096) return std::nullopt;
  if (text.find("://") != std::string_view::npos || starts_with_nocase(text, "jdbc:")) {
    std::string url = url_text(text);
    Shape shape = starts_with_nocase(url, "jdbc:") ? Shape::jdbc : Shape::url;
    if (auto e = parse_connection_url(url)) return ShapedValue{std::move(*e), shape, false};
    if (auto e = jdbc_without_host(url)) return ShapedValue{std::move(*e), Shape::jdbc, false};
    return std::nullopt;
  }
  if (starts_with_nocase(text, "pgsql:")) {
    // PHP's PDO DSN, which PDO hands to libpq with its ';' made blanks.
    std::string pairs(text.substr(6));
    std::replace(pairs.begin(), pairs.end(), ';', ' ');
    if (auto e = parse_keyword_value(pairs)) return ShapedValue{std::move(*e), Shape::keyword_value, false};
    return std::nullopt;
  }
  if (text.find(';') != std::string_view::npos) {
    bool host_key = false;
    if (auto e = parse_ado_net(text, host_key))
      return ShapedValue{std::move(*e), Shape::ado_net, !host_key};
    return std::nullopt;
  }
  if (text.find('=') != std::string_view::npos) {
    if (auto e = parse_keyword_value(text)) return ShapedValue{std::move(*e), Shape::keyword_value, false};
  }
  return std::nullopt;
}

bool other_engine_value(std::string_view value) {
  std::string text = url_text(value);
  std::string_view t = text;
  if (starts_with_nocase(t, "jdbc:")) t.remove_prefix(5);
  if (std::size_t colon = t.find(':'); colon != std::string_view::npos && colon > 0) {
    std::string_view scheme = t.substr(0, colon);
    bool schemeish = scheme.find_first_of(" =;") == std::string_view::npos;
    // A URL, a JDBC URL, or a PDO DSN (mysql:host=...;dbname=...).
    bool pdo = t.substr(colon + 1).find('=') != std::string_view::npos;
    if (schemeish && (t.substr(colon).starts_with("://") || starts_with_nocase(text, "jdbc:") || pdo))
      return engine_named(scheme) == Engine::other;
  }
  if (t.find(';') != std::string_view::npos && t.find('=') != std::string_view::npos) {
    auto pairs = ado_pairs(t);
    if (!pairs) return false;
    for (const auto& [key, v] : *pairs)
      if (one_of_nocase(key, kForeignAdoKeys)) return true;
  }
  return false;
}

}  // namespace talvo::core
