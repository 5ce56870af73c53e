// Driving a frame: send, throw and close delegate to the iterator the body is
// awaiting the way `yield from` does, and a single loop resumes the frame
// until it parks on an iterator that yields, or finishes.
#include <utility>

#include "bridge/frame.hpp"

namespace nb = nanobind;

namespace talvo::bridge::detail {

void destroy_frame(CoroObject* self) {
  if (!self->frame) return;
  Handle h = handle_of(self);
  self->frame = nullptr;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  h.destroy();
  PyErr_Restore(type, value, traceback);
}

bool check_not_awaited(CoroObject* self) {
  if (self->state == State::Suspended) {
    PyErr_SetString(PyExc_RuntimeError, "coroutine is being awaited already");
    return false;
  }
  return true;
}

namespace {

// The body has finished: its result or error, then the frame goes.
PySendResult finish(CoroObject* self, PyObject** out) {
  Promise& p = promise_of(self);
  self->state = State::Done;
  nb::object result = std::move(p.result_);
  std::exception_ptr escaped = std::exchange(p.exception_, nullptr);
  if (escaped) {
    raise_escaped(escaped);
    replace_stop_iteration();
  }
  destroy_frame(self);
  if (escaped) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    escaped = nullptr;
    PyErr_Restore(type, value, traceback);
    return PYGEN_ERROR;
  }
  *out = result.is_valid() ? result.release().ptr() : Py_NewRef(Py_None);
  return PYGEN_RETURN;
}

// The parked iterator has finished: its result, or the error it raised, is
// what the body's co_await resumes with.
void take_outcome(detail::Promise& p, PySendResult status, PyObject* yielded) {
  p.inner_.reset();
  if (status == PYGEN_RETURN)
    p.sent_ = nb::steal(yielded);
  else
    p.error_.emplace();
}

// The one driver loop. The promise holds what the frame resumes with; each
// pass resumes it, and if it parks on a new iterator, starts that iterator.
PySendResult resume_loop(CoroObject* self, bool closing, PyObject** out) {
  Handle h = handle_of(self);
  Promise& p = h.promise();
  for (;;) {
    {
      RunningFrame running(p);
      h.resume();
    }
    if (h.done()) return finish(self, out);
    PyObject* yielded = nullptr;
    PySendResult status = PyIter_Send(p.inner_.ptr(), Py_None, &yielded);
    if (status == PYGEN_NEXT) {
      self->state = State::Suspended;
      if (closing) {
        Py_DECREF(yielded);
        PyErr_SetString(PyExc_RuntimeError, "coroutine ignored GeneratorExit");
        return PYGEN_ERROR;
      }
      *out = yielded;
      return PYGEN_NEXT;
    }
    take_outcome(p, status, yielded);
  }
}

bool check_not_running(CoroObject* self) {
  if (self->state == State::Running) {
    PyErr_SetString(PyExc_ValueError, "coroutine already executing");
    return false;
  }
  return true;
}

PyObject* send_result(PySendResult status, PyObject* out) {
  if (status == PYGEN_RETURN) {
    set_stop_iteration(out);
    Py_DECREF(out);
    return nullptr;
  }
  return status == PYGEN_NEXT ? out : nullptr;
}

// Closes an iterator the way `yield from` does before raising GeneratorExit.
int close_iterator(PyObject* it) {
  PyObject* close = PyObject_GetAttrString(it, "close");
  if (!close) {
    if (PyErr_ExceptionMatches(PyExc_AttributeError))
      PyErr_Clear();
    else
      PyErr_WriteUnraisable(it);
    return 0;
  }
  PyObject* result = PyObject_CallNoArgs(close);
  Py_DECREF(close);
  if (!result) return -1;
  Py_DECREF(result);
  return 0;
}

// Delivers `exc` (a normalized exception instance, owned) to the coroutine.
PyObject* throw_into(CoroObject* self, PyObject* exc) {
  nb::object error = nb::steal(exc);
  if (!check_not_running(self)) return nullptr;
  if (self->state == State::Done) {
    PyErr_SetString(PyExc_RuntimeError, "cannot reuse already awaited coroutine");
    return nullptr;
  }
  if (self->state == State::Created) {
    self->state = State::Done;
    destroy_frame(self);
    PyErr_Restore(Py_NewRef(Py_TYPE(exc)), error.release().ptr(), PyException_GetTraceback(exc));
    return nullptr;
  }
  Promise& p = promise_of(self);
  self->state = State::Running;
  auto raise_at_await = [&] {
    PyErr_Restore(Py_NewRef(Py_TYPE(exc)), error.release().ptr(), PyException_GetTraceback(exc));
    p.error_.emplace();
  };
  if (p.inner_.is_valid()) {
    if (PyErr_GivenExceptionMatches(exc, PyExc_GeneratorExit)) {
      nb::object inner = std::move(p.inner_);
      if (close_iterator(inner.ptr()) < 0)
        p.error_.emplace();
      else
        raise_at_await();
    } else {
      PyObject* method = PyObject_GetAttrString(p.inner_.ptr(), "throw");
      if (!method) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
          self->state = State::Suspended;
          return nullptr;
        }
        PyErr_Clear();
        p.inner_.reset();
        raise_at_await();
      } else {
        PyObject* yielded = PyObject_CallOneArg(method, exc);
        Py_DECREF(method);
        if (yielded) {
          self->state = State::Suspended;
          return yielded;
        }
        p.inner_.reset();
        if (PyObject* value = fetch_stop_value())
          p.sent_ = nb::steal(value);
        else
          p.error_.emplace();
      }
    }
  } else {
    raise_at_await();
  }
  PyObject* out = nullptr;
  PySendResult status = resume_loop(self, false, &out);
  return send_result(status, out);
}

}  // namespace

PySendResult coro_am_send(PyObject* o, PyObject* arg, PyObject** out) {
  CoroObject* self = as_coro(o);
  *out = nullptr;
  if (!check_not_running(self)) return PYGEN_ERROR;
  if (self->state == State::Done) {
    PyErr_SetString(PyExc_RuntimeError, "cannot reuse already awaited coroutine");
    return PYGEN_ERROR;
  }
  if (self->state == State::Created && arg != Py_None) {
    PyErr_SetString(PyExc_TypeError, "can't send non-None value to a just-started coroutine");
    return PYGEN_ERROR;
  }
  Promise& p = promise_of(self);
  self->state = State::Running;
  if (p.inner_.is_valid()) {
    PyObject* yielded = nullptr;
    PySendResult status = PyIter_Send(p.inner_.ptr(), arg, &yielded);
    if (status == PYGEN_NEXT) {
      self->state = State::Suspended;
      *out = yielded;
      return PYGEN_NEXT;
    }
    take_outcome(p, status, yielded);
  }
  return resume_loop(self, false, out);
}

PyObject* coro_send(PyObject* o, PyObject* arg) {
  PyObject* out = nullptr;
  PySendResult status = coro_am_send(o, arg, &out);
  return send_result(status, out);
}

PyObject* coro_iternext(PyObject* o) {
  PyObject* out = nullptr;
  PySendResult status = coro_am_send(o, Py_None, &out);
  if (status == PYGEN_RETURN && out == Py_None) {
    Py_DECREF(out);
    return nullptr;
  }
  return send_result(status, out);
}

PyObject* coro_throw(PyObject* o, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 1 || nargs > 3) {
    PyErr_Format(PyExc_TypeError, "throw expected at least 1 argument, got %zd", nargs);
    return nullptr;
  }
  PyObject* type = args[0];
  PyObject* value = nargs > 1 ? args[1] : Py_None;
  PyObject* traceback = nargs > 2 ? args[2] : Py_None;
  if (traceback == Py_None) {
    traceback = nullptr;
  } else if (!PyTraceBack_Check(traceback)) {
    PyErr_SetString(PyExc_TypeError, "throw() third argument must be a traceback object");
    return nullptr;
  }
  PyObject* exc = nullptr;
  if (PyExceptionClass_Check(type)) {
    PyObject* t = Py_NewRef(type);
    PyObject* v = value == Py_None ? nullptr : Py_NewRef(value);
    PyObject* tb = Py_XNewRef(traceback);
    PyErr_NormalizeException(&t, &v, &tb);
    if (!v) return nullptr;
    if (tb) PyException_SetTraceback(v, tb);
    Py_XDECREF(t);
    Py_XDECREF(tb);
    exc = v;
  } else if (PyExceptionInstance_Check(type)) {
    if (value != Py_None) {
      PyErr_SetString(PyExc_TypeError, "instance exception may not have a separate value");
      return nullptr;
    }
    exc = Py_NewRef(type);
    if (traceback) PyException_SetTraceback(exc, traceback);
  } else {
    PyErr_Format(PyExc_TypeError,
                 "exceptions must be classes or instances deriving from BaseException, not %s",
                 Py_TYPE(type)->tp_name);
    return nullptr;
  }
  return throw_into(as_coro(o), exc);
}

PyObject* coro_close(PyObject* o, PyObject* /*unused*/) {
  CoroObject* self = as_coro(o);
  if (!check_not_running(self)) return nullptr;
  if (self->state == State::Done) Py_RETURN_NONE;
  if (self->state == State::Created) {
    self->state = State::Done;
    destroy_frame(self);
    Py_RETURN_NONE;
  }
  Promise& p = promise_of(self);
  self->state = State::Running;
  int err = 0;
  if (p.inner_.is_valid()) {
    nb::object inner = std::move(p.inner_);
    err = close_iterator(inner.ptr());
  }
  if (err == 0) PyErr_SetNone(PyExc_GeneratorExit);
  p.error_.emplace();
  PyObject* out = nullptr;
  PySendResult status = resume_loop(self, true, &out);
  if (status == PYGEN_RETURN) {
    Py_DECREF(out);
    Py_RETURN_NONE;
  }
  if (PyErr_ExceptionMatches(PyExc_StopIteration) || PyErr_ExceptionMatches(PyExc_GeneratorExit)) {
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  return nullptr;
}

}  // namespace talvo::bridge::detail
