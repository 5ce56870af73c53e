// C++20 coroutines whose Python face is a real coroutine object.
//
//   bridge::Coroutine show_tables(nb::object args) {
//     bridge::Traced<> conn = co_await routine("get_connection")(...);
//     ...
//     co_return nb::none();
//   }
//   m.def("show_tables", &show_tables);   // returns a Python coroutine
//
// Inside a body, `co_await x` accepts any Python awaitable (an nb::object or
// subclass, taken by rvalue) and resumes with its result, or throws
// nb::python_error carrying the Python exception and its traceback. The
// Python object's __name__ and __qualname__ are the C++ function's name.
// Nothing here knows about databases.
//
// Cancellation arrives as asyncio.CancelledError and close() as GeneratorExit,
// both thrown at the suspended co_await; neither derives from Exception.
//
// The cycle collector sees what a suspended frame holds, as it does for an
// `async def`: parameters taken as nb::object (or a subclass) by value, and
// locals declared bridge::Traced (traced.hpp). A Python reference that lives
// across a co_await in anything else stays invisible, and a reference cycle
// through it is never collected. Temporaries of the co_await expression live
// across the suspension too: keep owned references out of them (a method call
// such as conn.attr("close")() holds none; a copy of conn would).
#pragma once

#include <nanobind/nanobind.h>

#include <array>
#include <coroutine>
#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "bridge/traced.hpp"

namespace talvo::bridge {

class Coroutine;

namespace detail {

// Suspends the body on an awaitable's iterator, which the driver then runs.
struct Awaiter {
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<>) noexcept;
  nanobind::object await_resume();

  nanobind::object iterator_;
  Promise* promise_;
};

// More nb::object parameters than this make a coroutine too wide to trace.
inline constexpr std::size_t kMaxTracedParameters = 12;

// What the body and the Python object share: the iterator the body waits on,
// what to resume it with, how the body ended, and the Python references its
// frame holds.
struct Promise {
  Promise() = default;
  Promise(const Promise&) = delete;
  Promise& operator=(const Promise&) = delete;
  ~Promise();

  // Visits every reference the frame holds, for tp_traverse.
  int traverse(const Visit& visit) const;

  // The frame's copy of an nb::object parameter.
  void trace_parameter(const nanobind::object& copy) noexcept;
  void link(TraceLink& entry) noexcept;
  static void unlink(TraceLink& entry) noexcept;

  nanobind::object inner_;                          // parked iterator, if any
  nanobind::object sent_;                           // result for await_resume
  std::optional<nanobind::python_error> error_;     // error for await_resume
  nanobind::object result_;                         // co_return value
  std::exception_ptr exception_;                    // escaped exception
  const char* name_ = "coroutine";

 private:
  std::array<const nanobind::object*, kMaxTracedParameters> parameters_{};
  std::size_t parameter_count_ = 0;
  TraceLink* locals_ = nullptr;                     // most recently linked first
};

// The await_transform step: turns an awaitable into its iterator as the
// `await` statement does, raising TypeError for objects that are not
// awaitable.
nanobind::object awaitable_iterator(nanobind::handle awaitable);

template <class P>
using bare = std::remove_cvref_t<P>;

// A parameter's frame copy owns a Python reference that the promise traces.
template <class P>
inline constexpr bool traced_parameter = std::is_base_of_v<nanobind::object, P>;

// Parameters the frame could not own soundly. A reference or a bare handle is
// owned by someone else and may be gone when the body runs; and since the
// promise sees every parameter as an lvalue, a traced reference parameter
// would be visited as if the frame owned it.
template <class P>
inline constexpr bool unsound_parameter =
    (std::is_reference_v<P> && std::is_base_of_v<nanobind::handle, bare<P>>) ||
    (std::is_same_v<bare<P>, nanobind::handle>) || is_traced<bare<P>>;

}  // namespace detail

class Coroutine {
 public:
  struct promise_type : detail::Promise {
    // The promise is built from the frame's copies of the coroutine's
    // parameters; the Python ones among them are traced.
    template <class... Params>
    explicit promise_type(Params&... params) noexcept {
      (trace_if_object(params), ...);
    }

    // The default argument names the coroutine function that makes the frame.
    Coroutine get_return_object(const char* name = __builtin_FUNCTION()) noexcept {
      name_ = name;
      return Coroutine(std::coroutine_handle<promise_type>::from_promise(*this));
    }
    std::suspend_always initial_suspend() const noexcept { return {}; }
    std::suspend_always final_suspend() const noexcept { return {}; }
    void unhandled_exception() noexcept { exception_ = std::current_exception(); }

    template <class T>
    void return_value(T&& value) {
      if constexpr (std::is_base_of_v<nanobind::handle, std::decay_t<T>>)
        result_ = nanobind::borrow(value);
      else
        result_ = nanobind::cast(std::forward<T>(value));
    }

    // Awaitables are taken by rvalue and moved out of, so the frame never
    // holds a Python reference that the cycle collector cannot see.
    template <class T>
      requires std::is_base_of_v<nanobind::object, std::remove_cvref_t<T>>
    detail::Awaiter await_transform(T&& awaitable) {
      static_assert(!std::is_lvalue_reference_v<T> && !std::is_const_v<std::remove_reference_t<T>>,
                    "co_await takes a Python awaitable by rvalue: co_await std::move(x)");
      nanobind::object held = std::move(awaitable);
      return detail::Awaiter{detail::awaitable_iterator(held), this};
    }

    // Another C++ coroutine is awaited through its Python face.
    detail::Awaiter await_transform(Coroutine&& other) {
      return await_transform(std::move(other).to_python());
    }

   private:
    template <class P>
    void trace_if_object(P& param) noexcept {
      if constexpr (detail::traced_parameter<std::remove_cv_t<P>>) trace_parameter(param);
    }
  };
  using handle_type = std::coroutine_handle<promise_type>;

  explicit Coroutine(handle_type h) noexcept : handle_(h) {}
  Coroutine(Coroutine&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  Coroutine& operator=(Coroutine&&) = delete;
  ~Coroutine();

  // Hands the frame over to a new Python coroutine object named after the
  // C++ function.
  nanobind::object to_python() &&;

 private:
  handle_type handle_;
};

// Makes the Python coroutine type and gives it to the module `m`, which owns
// it from then on: it is published as m.Coroutine and kept as
// m._coroutine_type, where coroutine objects are made from. Must run in the
// module's initialisation, before any routine returning a Coroutine is called.
void define_coroutine_type(nanobind::module_& m);

}  // namespace talvo::bridge

// Every bridge coroutine's signature is checked here, where the parameters'
// declared types are still known.
template <class... Params>
struct std::coroutine_traits<talvo::bridge::Coroutine, Params...> {
  static_assert(!(talvo::bridge::detail::unsound_parameter<Params> || ...),
                "a bridge coroutine takes Python objects as nb::object (or a subclass) by value, "
                "so that its frame owns them and the cycle collector sees them");
  static_assert((0 + ... + (talvo::bridge::detail::traced_parameter<
                                talvo::bridge::detail::bare<Params>> ? 1 : 0)) <=
                    talvo::bridge::detail::kMaxTracedParameters,
                "too many nb::object parameters to trace; raise kMaxTracedParameters");
  using promise_type = talvo::bridge::Coroutine::promise_type;
};

namespace nanobind::detail {

// Routines declared as returning bridge::Coroutine return the Python
// coroutine object.
template <>
struct type_caster<talvo::bridge::Coroutine> {
  static constexpr auto Name = const_name("collections.abc.Coroutine");
  template <typename T_>
  using Cast = movable_cast_t<T_>;
  template <typename T_>
  static constexpr bool can_cast() {
    return true;
  }
  static handle from_cpp(talvo::bridge::Coroutine&& c, rv_policy, cleanup_list*) noexcept;
};

}  // namespace nanobind::detail
