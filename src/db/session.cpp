#include "db/session.hpp"

#include <optional>
#include <utility>

namespace talvo::db {

bridge::Coroutine in_session(nb::object connecting, SessionWork work, OnInterrupt on_interrupt) {
  bridge::Traced<> conn = co_await std::move(connecting);
  if (conn.is_none()) co_return nb::none();

  bridge::Traced<std::optional<nb::python_error>> failure;
  bridge::Traced<> result;
  try {
    result = co_await work(conn);
  } catch (nb::python_error& e) {
    // Being closed: nothing may be awaited any more.
    if (e.matches(PyExc_GeneratorExit) ||
        (on_interrupt == OnInterrupt::terminate && !is_ordinary(e))) {
      conn.attr("terminate")();
      throw;
    }
    failure.emplace(std::move(e));
  }

  // A second interruption while closing, or a close that fails, must not
  // hide the first error nor leave the socket open.
  bool closed = false;
  try {
    co_await conn.attr("close")();
    closed = true;
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_GeneratorExit) || !failure) {
      conn.attr("terminate")();
      throw;
    }
  }
  if (!closed) conn.attr("terminate")();
  if (failure) throw std::move(*failure);
  co_return result;
}

}  // namespace talvo::db
