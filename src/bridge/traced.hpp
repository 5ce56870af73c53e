// Python references that a coroutine frame holds across a suspension, made
// visible to the cycle collector. A frame's parameters are seen through its
// promise; a local that lives across a `co_await` is declared Traced:
//
//   bridge::Traced<> conn = co_await connect(...);        // an nb::object
//   bridge::Traced<std::optional<nb::python_error>> failure;
//   const bridge::Traced<NewRole> role = gather(args);    // trace(NewRole) below
//
// Traced<T> is a T (it derives from it), so the code using it is unchanged.
// Built while a bridge coroutine's body runs, it joins that frame's list of
// traced values and leaves it when destroyed; built anywhere else, it is a
// plain T. A struct of the program's own is traced by a function found by
// argument-dependent lookup:
//
//   int trace(const NewRole& r, const bridge::Visit& visit) {
//     return visit(r.username, r.password, r.database);
//   }
//
// Only what the value owns may be visited: a borrowed handle, or an exception
// shared by several std::exception_ptr, would make the collector free objects
// that are still in use. A Python error is kept in a
// std::optional<nb::python_error>, whose copies own their references.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <type_traits>
#include <utility>

namespace talvo::bridge {

// Hands the references a value owns to the cycle collector, in tp_traverse.
class Visit {
 public:
  Visit(visitproc visit, void* arg) noexcept : visit_(visit), arg_(arg) {}

  // Visits each value in turn; a non-zero result ends the traversal.
  template <class... V>
  int operator()(const V&... values) const {
    int result = 0;
    ((result = result != 0 ? result : one(values)), ...);
    return result;
  }

 private:
  template <class V>
  struct is_optional : std::false_type {};
  template <class V>
  struct is_optional<std::optional<V>> : std::true_type {};

  template <class V>
  int one(const V& value) const {
    if constexpr (std::is_base_of_v<nanobind::object, V>) {
      return owned(value.ptr());
    } else if constexpr (std::is_same_v<V, nanobind::python_error>) {
      return owned(value.value().ptr());
    } else if constexpr (is_optional<V>::value) {
      return value ? one(*value) : 0;
    } else {
      static_assert(!std::is_base_of_v<nanobind::handle, V>,
                    "a handle is borrowed: only what a value owns may be visited");
      return trace(value, *this);  // the type's own trace function
    }
  }

  int owned(PyObject* o) const { return o ? visit_(o, arg_) : 0; }

  visitproc visit_;
  void* arg_;
};

namespace detail {

struct Promise;

// One entry in the list of traced values of the frame whose body was running
// when it was made.
class TraceLink {
 public:
  using Traverse = int (*)(const void* value, const Visit& visit);

  TraceLink(const void* value, Traverse traverse) noexcept;
  TraceLink(const TraceLink&) = delete;
  TraceLink& operator=(const TraceLink&) = delete;
  ~TraceLink();

 private:
  friend struct Promise;

  const void* value_;
  Traverse traverse_;
  Promise* owner_ = nullptr;
  TraceLink* prev_ = nullptr;
  TraceLink* next_ = nullptr;
};

template <class T>
inline constexpr bool is_traced = false;

}  // namespace detail

template <class T = nanobind::object>
class Traced : public T {
  static_assert(!std::is_base_of_v<nanobind::handle, T> || std::is_base_of_v<nanobind::object, T>,
                "a handle is borrowed: trace an nb::object");

 public:
  Traced() : T(), trace_link_(this, &traverse) {}
  Traced(T value) : T(std::move(value)), trace_link_(this, &traverse) {}
  Traced(const Traced& other) : T(other), trace_link_(this, &traverse) {}
  Traced(Traced&& other) noexcept(std::is_nothrow_move_constructible_v<T>)
      : T(std::move(static_cast<T&>(other))), trace_link_(this, &traverse) {}
  ~Traced() = default;

  // Assignment replaces the value; the entry in the frame's list stays.
  Traced& operator=(const Traced& other) {
    T::operator=(other);
    return *this;
  }
  Traced& operator=(Traced&& other) {
    T::operator=(std::move(static_cast<T&>(other)));
    return *this;
  }
  using T::operator=;

 private:
  static int traverse(const void* self, const Visit& visit) {
    return visit(static_cast<const T&>(*static_cast<const Traced*>(self)));
  }

  detail::TraceLink trace_link_;
};

namespace detail {
template <class T>
inline constexpr bool is_traced<Traced<T>> = true;
}  // namespace detail

}  // namespace talvo::bridge
