#include "db/connect.hpp"

#include <string>

#include "settings/environment.hpp"

namespace talvo::db {

bridge::Coroutine open_connection(nb::dict kwargs) {
  kwargs["timeout"] = kConnectTimeoutSeconds;
  settings::add_tls_arguments(kwargs);
  try {
    co_return co_await nb::module_::import_("asyncpg").attr("connect")(**kwargs);
  } catch (nb::python_error& e) {
    // The driver's timeout has no message at all.
    if (!e.matches(PyExc_TimeoutError)) throw;
  }
  std::string msg = "no answer from " + text(kwargs.get("host", nb::none())) + ":" +
                    text(kwargs.get("port", nb::none())) + " within " +
                    std::to_string(kConnectTimeoutSeconds) + " seconds";
  PyErr_SetString(PyExc_TimeoutError, msg.c_str());
  throw nb::python_error();
}

}  // namespace talvo::db
