#include "db/connect.hpp"

#include <string>

#include "core/environment_stage.hpp"
#include "output/waiting.hpp"
#include "settings/environment.hpp"
#include "settings/target.hpp"

namespace talvo::db {

bridge::Coroutine open_connection(core::Values target) {
  nb::dict kwargs = settings::connect_keywords(target);
  kwargs["timeout"] = kConnectTimeoutSeconds;
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
