#include "core/connection_url.hpp"

#include "core/document.hpp"

namespace talvo::core {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view unquote(std::string_view s) {
  s = trim(s);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    s = trim(s.substr(1, s.size() - 2));
  return s;
}

std::optional<std::string> nonempty(std::string value) {
  if (value.empty()) return std::nullopt;
  return value;
}

// Scheme prefixes, compared without regard to case. "+driver" variants of
// the first four are SQLAlchemy's.
constexpr std::string_view kSchemes[] = {"postgresql", "postgres", "pgsql", "postgis"};
constexpr std::string_view kJdbcPrefix = "jdbc:";

// The length of the scheme part including "://", or 0.
std::size_t scheme_length(std::string_view url) {
  std::size_t start = 0;
  if (url.size() >= kJdbcPrefix.size() && iequals(url.substr(0, kJdbcPrefix.size()), kJdbcPrefix))
    start = kJdbcPrefix.size();
  std::size_t colon = url.find("://", start);
  if (colon == std::string_view::npos) return 0;
  std::string_view scheme = url.substr(start, colon - start);
  std::string_view base = scheme.substr(0, scheme.find('+'));
  if (start > 0 && scheme != base) return 0;  // jdbc:postgresql+x is no JDBC URL
  for (std::string_view known : kSchemes) {
    if (!iequals(base, known)) continue;
    if (start > 0 && !iequals(base, "postgresql")) return 0;
    return colon + 3;
  }
  return 0;
}

// host, or host:port, or [v6]:port; the first of a comma-separated list.
bool split_host_port(std::string_view hostport, Endpoint& e) {
  hostport = hostport.substr(0, hostport.find(','));
  std::string_view host = hostport, port;
  if (!hostport.empty() && hostport.front() == '[') {
    std::size_t close = hostport.find(']');
    if (close == std::string_view::npos) return false;
    host = hostport.substr(1, close - 1);
    std::string_view rest = hostport.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
    }
  } else if (std::size_t colon = hostport.rfind(':'); colon != std::string_view::npos) {
    host = hostport.substr(0, colon);
    port = hostport.substr(colon + 1);
  }
  if (!port.empty()) {
    if (!is_port(port)) return false;
    e.port = std::string(port);
  }
  e.host = nonempty(percent_decode(host));
  return true;
}

}  // namespace

std::string percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = hex_digit(text[i + 1]), lo = hex_digit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> parse_query(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;
    std::size_t eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    out.emplace_back(percent_decode(name), percent_decode(value));
  }
  return out;
}

void apply_query(Endpoint& e, std::string_view query) {
  for (auto& [name, value] : parse_query(query)) set_libpq_parameter(e, name, value);
}

bool is_postgres_scheme(std::string_view url) { return scheme_length(unquote(url)) > 0; }

std::optional<Endpoint> parse_connection_url(std::string_view text) {
  std::string_view url = unquote(text);
  std::size_t after_scheme = scheme_length(url);
  if (after_scheme == 0) return std::nullopt;
  std::string_view rest = url.substr(after_scheme);
  rest = rest.substr(0, rest.find('#'));

  std::size_t authority_end = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, authority_end);
  rest = authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);

  Endpoint e;
  if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    std::size_t colon = userinfo.find(':');
    e.user = nonempty(percent_decode(userinfo.substr(0, colon)));
    if (colon != std::string_view::npos) e.password = percent_decode(userinfo.substr(colon + 1));
  }
  if (!split_host_port(authority, e)) return std::nullopt;

  std::size_t question = rest.find('?');
  std::string_view path = rest.substr(0, question);
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  e.database = nonempty(percent_decode(path));
  if (question != std::string_view::npos) apply_query(e, rest.substr(question + 1));
  return e;
}

void set_libpq_parameter(Endpoint& e, std::string_view key, std::string_view value) {
  if (value.empty()) return;
  std::string v(value);
  std::string first = v.substr(0, v.find(','));
  if (key == "host") e.host = first;
  else if (key == "hostaddr") { if (!e.host) e.host = first; }
  else if (key == "port") { if (is_port(first)) e.port = first; }
  else if (key == "user") e.user = v;
  else if (key == "password") e.password = v;
  else if (key == "dbname") e.database = v;
  else if (key == "sslmode") e.tls.sslmode = v;
  else if (key == "sslrootcert") e.tls.sslrootcert = v;
  else if (key == "sslcert") e.tls.sslcert = v;
  else if (key == "sslkey") e.tls.sslkey = v;
}

bool is_port(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  unsigned value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace talvo::core
