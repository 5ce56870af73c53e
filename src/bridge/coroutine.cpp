// The Python coroutine type that drives a C++ coroutine frame. Its protocol
// follows CPython's coroutine objects: send/throw/close delegate to the
// iterator the body is awaiting the way `yield from` does, and a single loop
// resumes the frame until it parks on an iterator that yields or finishes.
#include "bridge/coroutine.hpp"

#include <new>
#include <stdexcept>
#include <utility>

namespace nb = nanobind;

namespace talvo::bridge {

namespace {

using Handle = Coroutine::handle_type;

enum class State { Created, Suspended, Running, Done };

struct CoroObject {
  PyObject_HEAD
  void* frame;  // the coroutine_handle's address; null once destroyed
  State state;
  PyObject* name;
  PyObject* qualname;
};

PyTypeObject* coro_type = nullptr;

constexpr int iterable_coroutine_flag = 0x0100;  // CO_ITERABLE_COROUTINE

Handle handle_of(CoroObject* self) { return Handle::from_address(self->frame); }
detail::Promise& promise_of(CoroObject* self) { return handle_of(self).promise(); }

// Runs the frame's destructors; the pending Python error, if any, survives.
void destroy_frame(CoroObject* self) {
  if (!self->frame) return;
  Handle h = handle_of(self);
  self->frame = nullptr;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  h.destroy();
  PyErr_Restore(type, value, traceback);
}

void set_stop_iteration(PyObject* value) {
  // An instance made from the single value keeps a tuple value intact.
  PyObject* exc = PyObject_CallOneArg(PyExc_StopIteration, value);
  if (!exc) return;
  PyErr_SetObject(PyExc_StopIteration, exc);
  Py_DECREF(exc);
}

// Takes a pending StopIteration and returns its value; null without one.
PyObject* fetch_stop_value() {
  if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return nullptr;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyObject* result = Py_None;
  if (value && PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(PyExc_StopIteration)))
    result = reinterpret_cast<PyStopIterationObject*>(value)->value;
  Py_INCREF(result);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return result;
}

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

// The escaped C++ exception as the pending Python error, translated the way
// nanobind translates exceptions leaving a bound function.
void raise_escaped(const std::exception_ptr& escaped) noexcept {
  try {
    std::rethrow_exception(escaped);
  } catch (nb::python_error& e) {
    e.restore();
  } catch (nb::builtin_exception& e) {
    PyObject* type = PyExc_RuntimeError;
    switch (e.type()) {
      case nb::exception_type::stop_iteration: type = PyExc_StopIteration; break;
      case nb::exception_type::index_error: type = PyExc_IndexError; break;
      case nb::exception_type::key_error: type = PyExc_KeyError; break;
      case nb::exception_type::value_error: type = PyExc_ValueError; break;
      case nb::exception_type::type_error: type = PyExc_TypeError; break;
      case nb::exception_type::buffer_error: type = PyExc_BufferError; break;
      case nb::exception_type::import_error: type = PyExc_ImportError; break;
      case nb::exception_type::attribute_error: type = PyExc_AttributeError; break;
      default: break;
    }
    PyErr_SetString(type, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::domain_error& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::invalid_argument& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::length_error& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::out_of_range& e) {
    PyErr_SetString(PyExc_IndexError, e.what());
  } catch (const std::range_error& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::overflow_error& e) {
    PyErr_SetString(PyExc_OverflowError, e.what());
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown C++ exception escaped a coroutine");
  }
}

// A StopIteration leaving the body would read as the coroutine's return:
// it becomes RuntimeError, chained to the original.
void replace_stop_iteration() {
  if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback) PyException_SetTraceback(value, traceback);
  PyErr_SetString(PyExc_RuntimeError, "coroutine raised StopIteration");
  PyObject *rtype, *rvalue, *rtraceback;
  PyErr_Fetch(&rtype, &rvalue, &rtraceback);
  PyErr_NormalizeException(&rtype, &rvalue, &rtraceback);
  Py_INCREF(value);
  PyException_SetCause(rvalue, value);
  PyException_SetContext(rvalue, value);
  PyErr_Restore(rtype, rvalue, rtraceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
}

// The body has finished: its result or error, then the frame goes.
PySendResult finish(CoroObject* self, PyObject** out) {
  detail::Promise& p = promise_of(self);
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

// The one driver loop. The promise holds what the frame resumes with; each
// pass resumes it, and if it parks on a new iterator, starts that iterator.
PySendResult resume_loop(CoroObject* self, bool closing, PyObject** out) {
  Handle h = handle_of(self);
  detail::Promise& p = h.promise();
  for (;;) {
    h.resume();
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
    p.inner_.reset();
    if (status == PYGEN_RETURN)
      p.sent_ = nb::steal(yielded);
    else
      p.error_.emplace();
  }
}

bool check_not_running(CoroObject* self) {
  if (self->state == State::Running) {
    PyErr_SetString(PyExc_ValueError, "coroutine already executing");
    return false;
  }
  return true;
}

PySendResult coro_am_send(PyObject* o, PyObject* arg, PyObject** out) {
  auto* self = reinterpret_cast<CoroObject*>(o);
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
  detail::Promise& p = promise_of(self);
  self->state = State::Running;
  if (p.inner_.is_valid()) {
    PyObject* yielded = nullptr;
    PySendResult status = PyIter_Send(p.inner_.ptr(), arg, &yielded);
    if (status == PYGEN_NEXT) {
      self->state = State::Suspended;
      *out = yielded;
      return PYGEN_NEXT;
    }
    p.inner_.reset();
    if (status == PYGEN_RETURN)
      p.sent_ = nb::steal(yielded);
    else
      p.error_.emplace();
  }
  return resume_loop(self, false, out);
}

PyObject* send_result(PySendResult status, PyObject* out) {
  if (status == PYGEN_RETURN) {
    set_stop_iteration(out);
    Py_DECREF(out);
    return nullptr;
  }
  return status == PYGEN_NEXT ? out : nullptr;
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
  detail::Promise& p = promise_of(self);
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
  return throw_into(reinterpret_cast<CoroObject*>(o), exc);
}

PyObject* coro_close(PyObject* o, PyObject* /*unused*/) {
  auto* self = reinterpret_cast<CoroObject*>(o);
  if (!check_not_running(self)) return nullptr;
  if (self->state == State::Done) Py_RETURN_NONE;
  if (self->state == State::Created) {
    self->state = State::Done;
    destroy_frame(self);
    Py_RETURN_NONE;
  }
  detail::Promise& p = promise_of(self);
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

// Two awaiters sending into one coroutine would interleave its steps.
bool check_not_awaited(CoroObject* self) {
  if (self->state == State::Suspended) {
    PyErr_SetString(PyExc_RuntimeError, "coroutine is being awaited already");
    return false;
  }
  return true;
}

PyObject* coro_await(PyObject* o) {
  if (!check_not_awaited(reinterpret_cast<CoroObject*>(o))) return nullptr;
  return Py_NewRef(o);
}

PyObject* coro_repr(PyObject* o) {
  auto* self = reinterpret_cast<CoroObject*>(o);
  return PyUnicode_FromFormat("<coroutine object %U at %p>", self->qualname, o);
}

// A suspended coroutine that is dropped is closed, so its cleanup runs; one
// that never started warns, as Python's own coroutines do.
void coro_finalize(PyObject* o) {
  auto* self = reinterpret_cast<CoroObject*>(o);
  if (self->state == State::Done || !self->frame) return;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (self->state == State::Created) {
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "coroutine '%U' was never awaited",
                         self->qualname) < 0)
      PyErr_WriteUnraisable(o);
    self->state = State::Done;
    destroy_frame(self);
  } else if (self->state == State::Suspended) {
    PyObject* result = coro_close(o, nullptr);
    if (result)
      Py_DECREF(result);
    else
      PyErr_WriteUnraisable(o);
  }
  PyErr_Restore(type, value, traceback);
}

int coro_traverse(PyObject* o, visitproc visit, void* arg) {
  auto* self = reinterpret_cast<CoroObject*>(o);
  Py_VISIT(Py_TYPE(o));
  Py_VISIT(self->name);
  Py_VISIT(self->qualname);
  if (self->frame) {
    detail::Promise& p = promise_of(self);
    Py_VISIT(p.inner_.ptr());
    Py_VISIT(p.sent_.ptr());
    Py_VISIT(p.result_.ptr());
    if (p.error_) Py_VISIT(p.error_->value().ptr());
  }
  return 0;
}

int coro_clear(PyObject* o) {
  auto* self = reinterpret_cast<CoroObject*>(o);
  if (self->frame && self->state != State::Running) {
    detail::Promise& p = promise_of(self);
    p.inner_.reset();
    p.sent_.reset();
    p.result_.reset();
  }
  return 0;
}

void coro_dealloc(PyObject* o) {
  auto* self = reinterpret_cast<CoroObject*>(o);
  if (PyObject_CallFinalizerFromDealloc(o) < 0) return;  // resurrected
  PyObject_GC_UnTrack(o);
  destroy_frame(self);
  Py_CLEAR(self->name);
  Py_CLEAR(self->qualname);
  PyTypeObject* type = Py_TYPE(o);
  type->tp_free(o);
  Py_DECREF(type);
}

PyObject* get_name(PyObject* o, void*) {
  return Py_NewRef(reinterpret_cast<CoroObject*>(o)->name);
}
PyObject* get_qualname(PyObject* o, void*) {
  return Py_NewRef(reinterpret_cast<CoroObject*>(o)->qualname);
}

int set_text(PyObject** slot, PyObject* value, const char* what) {
  if (!value || !PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
    return -1;
  }
  Py_SETREF(*slot, Py_NewRef(value));
  return 0;
}
int set_name(PyObject* o, PyObject* value, void*) {
  return set_text(&reinterpret_cast<CoroObject*>(o)->name, value, "__name__");
}
int set_qualname(PyObject* o, PyObject* value, void*) {
  return set_text(&reinterpret_cast<CoroObject*>(o)->qualname, value, "__qualname__");
}

PyObject* get_running(PyObject* o, void*) {
  return PyBool_FromLong(reinterpret_cast<CoroObject*>(o)->state == State::Running);
}
PyObject* get_await(PyObject* o, void*) {
  auto* self = reinterpret_cast<CoroObject*>(o);
  if (self->frame && promise_of(self).inner_.is_valid())
    return Py_NewRef(promise_of(self).inner_.ptr());
  Py_RETURN_NONE;
}
PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

PyMethodDef coro_methods[] = {
    {"send", coro_send, METH_O, "send(arg) -> send 'arg' into coroutine,\nreturn next iterated value or raise StopIteration."},
    {"throw", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(coro_throw)), METH_FASTCALL,
     "throw(value)\nthrow(type[,value[,traceback]])\n\nRaise exception in coroutine, return next iterated value or raise StopIteration."},
    {"close", coro_close, METH_NOARGS, "close() -> raise GeneratorExit inside coroutine."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef coro_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"cr_running", get_running, nullptr, nullptr, nullptr},
    {"cr_await", get_await, nullptr, nullptr, nullptr},
    {"cr_frame", get_none, nullptr, nullptr, nullptr},
    {"cr_code", get_none, nullptr, nullptr, nullptr},
    {"cr_origin", get_none, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

}  // namespace

namespace detail {

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
  if (type == coro_type) {
    if (!check_not_awaited(reinterpret_cast<CoroObject*>(o))) throw nb::python_error();
    return nb::borrow(awaitable);
  }
  if (PyCoro_CheckExact(o)) {
    PyObject* awaiting = PyObject_GetAttrString(o, "cr_await");
    if (!awaiting) throw nb::python_error();
    bool busy = awaiting != Py_None;
    Py_DECREF(awaiting);
    if (busy) {
      PyErr_SetString(PyExc_RuntimeError, "coroutine is being awaited already");
      throw nb::python_error();
    }
    return nb::borrow(awaitable);
  }
  if (is_iterable_coroutine(o)) return nb::borrow(awaitable);
  unaryfunc get = type->tp_as_async ? type->tp_as_async->am_await : nullptr;
  if (!get) {
    PyErr_Format(PyExc_TypeError, "object %.100s can't be used in 'await' expression",
                 type->tp_name);
    throw nb::python_error();
  }
  PyObject* it = get(o);
  if (!it) throw nb::python_error();
  if (PyCoro_CheckExact(it) || is_iterable_coroutine(it)) {
    Py_DECREF(it);
    PyErr_SetString(PyExc_TypeError, "__await__() returned a coroutine");
    throw nb::python_error();
  }
  if (!PyIter_Check(it)) {
    PyErr_Format(PyExc_TypeError, "__await__() returned non-iterator of type '%.100s'",
                 Py_TYPE(it)->tp_name);
    Py_DECREF(it);
    throw nb::python_error();
  }
  return nb::steal(it);
}

}  // namespace detail

Coroutine::~Coroutine() {
  if (handle_) handle_.destroy();
}

nb::object Coroutine::to_python() && {
  if (!coro_type) throw std::logic_error("the coroutine type is not registered");
  PyObject* o = coro_type->tp_alloc(coro_type, 0);
  if (!o) throw nb::python_error();
  auto* self = reinterpret_cast<CoroObject*>(o);
  nb::object result = nb::steal(o);
  self->name = PyUnicode_FromString(handle_.promise().name_);
  if (!self->name) throw nb::python_error();
  self->qualname = Py_NewRef(self->name);
  self->state = State::Created;
  self->frame = std::exchange(handle_, {}).address();
  return result;
}

void define_coroutine_type(nb::module_& m) {
  static PyType_Slot slots[] = {
      {Py_tp_dealloc, reinterpret_cast<void*>(coro_dealloc)},
      {Py_tp_repr, reinterpret_cast<void*>(coro_repr)},
      {Py_tp_traverse, reinterpret_cast<void*>(coro_traverse)},
      {Py_tp_clear, reinterpret_cast<void*>(coro_clear)},
      {Py_tp_finalize, reinterpret_cast<void*>(coro_finalize)},
      {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
      {Py_tp_iternext, reinterpret_cast<void*>(coro_iternext)},
      {Py_tp_methods, coro_methods},
      {Py_tp_getset, coro_getset},
      {Py_am_await, reinterpret_cast<void*>(coro_await)},
      {Py_am_send, reinterpret_cast<void*>(coro_am_send)},
      {Py_tp_doc, const_cast<char*>("A coroutine implemented in C++.")},
      {0, nullptr}};
  static PyType_Spec type_slots_spec = {"talvo.talvo.Coroutine", sizeof(CoroObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC |
                                 Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             slots};
  PyObject* type = PyType_FromSpec(&type_slots_spec);
  if (!type) throw nb::python_error();
  coro_type = reinterpret_cast<PyTypeObject*>(type);
  m.attr("Coroutine") = nb::steal(type);
}

}  // namespace talvo::bridge

namespace nanobind::detail {

handle type_caster<talvo::bridge::Coroutine>::from_cpp(talvo::bridge::Coroutine&& c, rv_policy,
                                                      cleanup_list*) noexcept {
  try {
    return std::move(c).to_python().release();
  } catch (python_error& e) {
    e.restore();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return handle();
}

}  // namespace nanobind::detail
