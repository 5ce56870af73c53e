// Small coroutines that drive the bridge from Python: results, errors,
// cleanup on cancellation and close, the protocol's corner cases, and what
// the cycle collector sees. They form an extension module of their own,
// built only for the tests, so the installed package carries none of them.
#include <nanobind/stl/string.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "bridge/coroutine.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace talvo::bridge {

namespace {

nb::object selftest_module() { return nb::module_::import_("talvo_bridge_test"); }

Coroutine await_all(nb::list awaitables) {
  Traced<nb::list> results;
  for (nb::handle a : awaitables) results.append(co_await nb::borrow(a));
  co_return results;
}

Coroutine await_n(nb::object factory, long n) {
  long count = 0;
  for (long i = 0; i < n; ++i) {
    co_await factory();
    ++count;
  }
  co_return count;
}

Coroutine catching(nb::object awaitable) {
  try {
    nb::object result = co_await std::move(awaitable);
    co_return result;
  } catch (const nb::python_error& e) {
    if (!e.matches(PyExc_Exception)) throw;
    co_return nb::make_tuple("error", nb::str(e.type().attr("__name__")), nb::str(e.value()));
  }
}

// Appends to the log when the frame goes, however the body ended.
struct LogOnExit {
  Traced<nb::list> log;
  ~LogOnExit() { log.append("cleanup"); }
};

Coroutine with_cleanup(nb::object awaitable, nb::list log, nb::object on_cancel) {
  LogOnExit guard{log};
  Traced<std::optional<nb::python_error>> failure;
  bool cancelled = false;
  Traced<> result;
  try {
    result = co_await std::move(awaitable);
    log.append("done");
  } catch (const nb::python_error& e) {
    nb::object cancelled_error = nb::module_::import_("asyncio").attr("CancelledError");
    if (e.matches(cancelled_error)) {
      cancelled = true;
      log.append("cancelled");
    } else if (e.matches(PyExc_GeneratorExit)) {
      log.append("closed");
    } else {
      log.append("error");
    }
    failure.emplace(e);
  }
  // Awaiting is not allowed in a catch block; cleanup that awaits runs here.
  if (cancelled && !on_cancel.is_none()) {
    co_await on_cancel();
    log.append("cancel cleanup done");
  }
  log.append("after try");
  if (failure) throw std::move(*failure);
  co_return result;
}

Coroutine raise_stop_iteration() {
  PyErr_SetString(PyExc_StopIteration, "from the body");
  throw nb::python_error();
  co_return nb::none();
}

Coroutine raise_cpp(std::string kind) {
  if (kind == "runtime") throw std::runtime_error("runtime failure");
  if (kind == "range") throw std::out_of_range("out of range");
  if (kind == "value") throw nb::value_error("bad value");
  if (kind == "stop") throw nb::stop_iteration("stop");
  if (kind == "int") throw 42;
  co_return nb::none();
}

Coroutine await_twice_after_exit(nb::object first, nb::object second) {
  try {
    co_await std::move(first);
  } catch (const nb::python_error& e) {
    if (!e.matches(PyExc_GeneratorExit)) throw;
  }
  nb::object result = co_await std::move(second);
  co_return result;
}

// Awaits through `depth` bridge coroutines, each the Python face of the next.
Coroutine nested(long depth, nb::object awaitable) {
  if (depth == 0) {
    nb::object result = co_await std::move(awaitable);
    co_return result;
  }
  nb::object result = co_await selftest_module().attr("nested")(depth - 1, awaitable);
  co_return result;
}

// Awaits another C++ coroutine directly, not through a module lookup.
Coroutine await_direct(nb::object awaitable) {
  nb::object result = co_await nested(1, std::move(awaitable));
  co_return nb::make_tuple("direct", result);
}

// Keeps a parameter across a suspension.
Coroutine hold(nb::object value, nb::object awaitable) {
  co_await std::move(awaitable);
  co_return value;
}

// Keeps the first result, in a local, across the second suspension.
Coroutine hold_result(nb::object first, nb::object second) {
  Traced<> kept = co_await std::move(first);
  co_await std::move(second);
  co_return kept;
}

}  // namespace

}  // namespace talvo::bridge

NB_MODULE(talvo_bridge_test, t) {
  using namespace talvo::bridge;
  define_coroutine_type(t);
  t.def("await_all", &await_all, "awaitables"_a);
  t.def("await_n", &await_n, "factory"_a, "n"_a);
  t.def("catching", &catching, "awaitable"_a);
  t.def("with_cleanup", &with_cleanup, "awaitable"_a, "log"_a, "on_cancel"_a.none() = nb::none());
  t.def("raise_stop_iteration", &raise_stop_iteration);
  t.def("raise_cpp", &raise_cpp, "kind"_a);
  t.def("await_twice_after_exit", &await_twice_after_exit, "first"_a, "second"_a);
  t.def("nested", &nested, "depth"_a, "awaitable"_a);
  t.def("await_direct", &await_direct, "awaitable"_a);
  t.def("hold", &hold, "value"_a, "awaitable"_a);
  t.def("hold_result", &hold_result, "first"_a, "second"_a);
}
