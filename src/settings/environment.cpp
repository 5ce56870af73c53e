#include "settings/environment.hpp"

#include <fstream>
#include <sstream>

#include "core/connection_url.hpp"
#include "core/precedence.hpp"

namespace talvo::settings {

namespace {

std::optional<std::string> entry_text(nb::handle settings, const char* key) {
  nb::object value = settings.attr("get")(key);
  if (!truthy(value)) return std::nullopt;
  return text(value);
}

// TLS entries of a settings dictionary, or those of its URL's query.
core::Tls settings_tls(nb::handle settings) {
  core::Tls tls;
  if (!nb::isinstance<nb::dict>(settings)) return tls;
  tls.sslmode = entry_text(settings, "sslmode");
  tls.sslrootcert = entry_text(settings, "sslrootcert");
  tls.sslcert = entry_text(settings, "sslcert");
  tls.sslkey = entry_text(settings, "sslkey");
  if (auto query = entry_text(settings, "query_params")) {
    core::Endpoint from_query;
    core::apply_query(from_query, *query);
    tls.fill_from(from_query.tls);
  }
  return tls;
}

std::string url_escaped(const std::string& value) {
  nb::object quote = nb::module_::import_("urllib.parse").attr("quote");
  return text(quote(value, "safe"_a = "/"));
}

}  // namespace

core::Environment environment_snapshot() {
  core::Environment env;
  nb::object environ = nb::module_::import_("os").attr("environ");
  for (nb::handle item : environ.attr("items")()) {
    nb::object key = item[0], value = item[1];
    if (nb::isinstance<nb::str>(key) && nb::isinstance<nb::str>(value))
      env.emplace(utf8(key), utf8(value));
  }
  return env;
}

std::optional<std::string> login_name() {
  try {
    nb::object os = nb::module_::import_("os");
    return text(nb::module_::import_("pwd").attr("getpwuid")(os.attr("geteuid")()).attr("pw_name"));
  } catch (nb::python_error& e) {
    if (!e.matches(PyExc_KeyError)) throw;  // no password entry
    return std::nullopt;
  }
}

nb::object deliberate_user() {
  nb::object user = nb::module_::import_("os").attr("environ").attr("get")("USER");
  if (!nb::isinstance<nb::str>(user)) return nb::none();
  std::optional<std::string> login = login_name();
  std::string value = utf8(user);
  return core::user_is_deliberate(value, login) ? user : nb::none();
}

std::optional<std::string> read_text_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return out.str();
}

core::Tls connection_tls() {
  core::Tls tls = settings_tls(self().attr("_settings_cache"));
  tls.fill_from(core::tls_variables(environment_snapshot()));
  return tls;
}

void add_tls_arguments(nb::dict& kwargs) {
  core::Tls tls = connection_tls();
  if (tls.sslmode) kwargs["ssl"] = *tls.sslmode;
  std::string query;
  auto add = [&](const char* name, const std::optional<std::string>& value) {
    if (!value) return;
    query += (query.empty() ? "?" : "&") + std::string(name) + "=" + url_escaped(*value);
  };
  add("sslrootcert", tls.sslrootcert);
  add("sslcert", tls.sslcert);
  add("sslkey", tls.sslkey);
  if (!query.empty()) kwargs["dsn"] = "postgresql://" + query;
}

}  // namespace talvo::settings
