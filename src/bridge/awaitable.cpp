// The `co_await` step: an awaitable becomes the iterator the driver runs, as
// the `await` statement makes it, and the body resumes with what it gave.
#include <utility>

#include "bridge/frame.hpp"

namespace nb = nanobind;

namespace talvo::bridge::detail {

namespace {

constexpr int iterable_coroutine_flag = 0x0100;  // CO_ITERABLE_COROUTINE

bool is_iterable_coroutine(PyObject* o) {
  if (!PyGen_CheckExact(o)) return false;
  PyObject* code = PyObject_GetAttrString(o, "gi_code");
  if (!code) {
    PyErr_Clear();
    return false;
  }
  PyObject* flags = PyObject_GetAttrString(code, "co_flags");
  Py_DECREF(code);
  if (!flags) {
    PyErr_Clear();
    return false;
  }
  long value = PyLong_AsLong(flags);
  Py_DECREF(flags);
  if (value == -1 && PyErr_Occurred()) PyErr_Clear();
  return value != -1 && (value & iterable_coroutine_flag) != 0;
}

[[noreturn]] void raise(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  throw nb::python_error();
}

}  // namespace

void Awaiter::await_suspend(std::coroutine_handle<>) noexcept {
  promise_->inner_ = std::move(iterator_);
}

nb::object Awaiter::await_resume() {
  Promise& p = *promise_;
  if (p.error_) {
    nb::python_error e = std::move(*p.error_);
    p.error_.reset();
    throw e;
  }
  return std::move(p.sent_);
}

nb::object awaitable_iterator(nb::handle awaitable) {
  PyObject* o = awaitable.ptr();
  PyTypeObject* type = Py_TYPE(o);
  if (is_coroutine_object(o)) {
    if (!check_not_awaited(as_coro(o))) throw nb::python_error();
    return nb::borrow(awaitable);
  }
  if (PyCoro_CheckExact(o)) {
    PyObject* awaiting = PyObject_GetAttrString(o, "cr_await");
    if (!awaiting) throw nb::python_error();
    bool busy = awaiting != Py_None;
    Py_DECREF(awaiting);
    if (busy) raise(PyExc_RuntimeError, "coroutine is being awaited already");
    return nb::borrow(awaitable);
  }
  if (is_iterable_coroutine(o)) return nb::borrow(awaitable);
  unaryfunc get = type->tp_as_async ? type->tp_as_async->am_await : nullptr;
  if (!get) {
    PyErr_Format(PyExc_TypeError, "object %.100s can't be used in 'await' expression",
                 type->tp_name);
    throw nb::python_error();
  }
  nb::object it = nb::steal(get(o));
  if (!it.is_valid()) throw nb::python_error();
  if (PyCoro_CheckExact(it.ptr()) || is_iterable_coroutine(it.ptr()))
    raise(PyExc_TypeError, "__await__() returned a coroutine");
  if (!PyIter_Check(it.ptr())) {
    PyErr_Format(PyExc_TypeError, "__await__() returned non-iterator of type '%.100s'",
                 Py_TYPE(it.ptr())->tp_name);
    throw nb::python_error();
  }
  return it;
}

}  // namespace talvo::bridge::detail
