#include "settings/environment.hpp"

#include <fstream>
#include <sstream>

#include "core/target.hpp"

namespace talvo::settings {


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

}  // namespace talvo::settings
