#include "db/connect.hpp"

#include <string>

#include "core/environment_stage.hpp"
#include "output/waiting.hpp"
#include "settings/environment.hpp"

namespace talvo::db {

nb::dict connect_arguments(const settings::Target& t) {
  nb::dict kwargs;
  kwargs["database"] = t.database;
  kwargs["user"] = t.user;
  kwargs["password"] = t.password;
  kwargs["host"] = t.host;
  kwargs["port"] = t.port;
  return kwargs;
}

bridge::Coroutine open_connection(nb::dict kwargs) {
  kwargs["timeout"] = kConnectTimeoutSeconds;
  settings::add_tls_arguments(kwargs);
  // The driver reads no PGAPPNAME itself.
  nb::dict server_settings;
  const std::string name = core::application_name(settings::environment_snapshot());
  server_settings["application_name"] = nb::str(name.data(), name.size());
  kwargs["server_settings"] = server_settings;
  std::string where = text(kwargs.get("host", nb::none())) + ":" + text(kwargs.get("port", nb::none()));
  try {
    co_return co_await output::waiting("connecting to " + where,
                                       nb::module_::import_("asyncpg").attr("connect")(**kwargs));
  } catch (nb::python_error& e) {
    // The driver's timeout has no message at all.
    if (!e.matches(PyExc_TimeoutError)) throw;
  }
  std::string msg = "no answer from " + where + " within " +
                    std::to_string(kConnectTimeoutSeconds) + " seconds";
  PyErr_SetString(PyExc_TimeoutError, msg.c_str());
  throw nb::python_error();
}

}  // namespace talvo::db
