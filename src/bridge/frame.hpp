// What the bridge's own files share: the Python object that owns a C++
// coroutine frame, and the steps of its protocol. Nothing outside
// src/bridge/ includes this.
#pragma once

#include <exception>

#include "bridge/coroutine.hpp"

namespace talvo::bridge::detail {

using Handle = Coroutine::handle_type;

enum class State { Created, Suspended, Running, Done };

struct CoroObject {
  PyObject_HEAD
  void* frame;  // the coroutine_handle's address; null once destroyed
  State state;
  PyObject* name;
  PyObject* qualname;
};

inline CoroObject* as_coro(PyObject* o) { return reinterpret_cast<CoroObject*>(o); }
inline Handle handle_of(CoroObject* self) { return Handle::from_address(self->frame); }
inline Promise& promise_of(CoroObject* self) { return handle_of(self).promise(); }

// While it lives, Traced values made on this thread join `frame`'s list.
class RunningFrame {
 public:
  explicit RunningFrame(Promise& frame) noexcept;
  RunningFrame(const RunningFrame&) = delete;
  RunningFrame& operator=(const RunningFrame&) = delete;
  ~RunningFrame();

 private:
  Promise* previous_;
};

// coroutine_type.cpp: whether `o` is a coroutine object of this extension.
bool is_coroutine_object(PyObject* o);

// driver.cpp: the protocol, in CPython's slot signatures.
PySendResult coro_am_send(PyObject* o, PyObject* arg, PyObject** out);
PyObject* coro_send(PyObject* o, PyObject* arg);
PyObject* coro_iternext(PyObject* o);
PyObject* coro_throw(PyObject* o, PyObject* const* args, Py_ssize_t nargs);
PyObject* coro_close(PyObject* o, PyObject* unused);
// Runs the frame's destructors; the pending Python error, if any, survives.
void destroy_frame(CoroObject* self);
// Two awaiters sending into one coroutine would interleave its steps.
bool check_not_awaited(CoroObject* self);

// errors.cpp: crossings between C++ exceptions and Python errors.
void set_stop_iteration(PyObject* value);
PyObject* fetch_stop_value();
void raise_escaped(const std::exception_ptr& escaped) noexcept;
void replace_stop_iteration();

}  // namespace talvo::bridge::detail
