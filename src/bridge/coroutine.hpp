// C++20 coroutines whose Python face is a real coroutine object.
//
//   bridge::Coroutine show_tables(nb::object args) {
//     nb::object conn = co_await routine("get_connection")(...);
//     ...
//     co_return nb::none();
//   }
//   m.def("show_tables", &show_tables);   // returns a Python coroutine
//
// Inside a body, `co_await x` accepts any Python awaitable (nb::object, taken
// by rvalue) and resumes with its result, or throws nb::python_error carrying
// the Python exception and its traceback. Nothing here knows about databases.
#pragma once

#include <nanobind/nanobind.h>

#include <coroutine>

namespace talvo::bridge {

class Coroutine {
 public:
  struct promise_type;
  using handle_type = std::coroutine_handle<promise_type>;

  explicit Coroutine(handle_type h) noexcept : handle_(h) {}
  Coroutine(Coroutine&& other) noexcept;
  Coroutine& operator=(Coroutine&&) = delete;
  ~Coroutine();

  // Hands the frame over to a new Python coroutine object named `name`.
  nanobind::object to_python() &&;

 private:
  handle_type handle_;
};

// Registers the Python coroutine type on the module; must run before any
// routine returning a Coroutine is called.
void define_coroutine_type(nanobind::module_& m);

}  // namespace talvo::bridge
