// The Python coroutine type that owns a C++ coroutine frame: its slots and
// its attributes.
#include <stdexcept>
#include <utility>

#include "bridge/frame.hpp"

namespace nb = nanobind;

namespace talvo::bridge {

namespace detail {

namespace {

PyTypeObject* coro_type = nullptr;

PyObject* coro_await(PyObject* o) {
  if (!check_not_awaited(as_coro(o))) return nullptr;
  return Py_NewRef(o);
}

PyObject* coro_repr(PyObject* o) {
  return PyUnicode_FromFormat("<coroutine object %U at %p>", as_coro(o)->qualname, o);
}

// A suspended coroutine that is dropped is closed, so its cleanup runs; one
// that never started warns, as Python's own coroutines do.
void coro_finalize(PyObject* o) {
  CoroObject* self = as_coro(o);
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
  CoroObject* self = as_coro(o);
  Py_VISIT(Py_TYPE(o));
  Py_VISIT(self->name);
  Py_VISIT(self->qualname);
  if (self->frame) {
    Promise& p = promise_of(self);
    Py_VISIT(p.inner_.ptr());
    Py_VISIT(p.sent_.ptr());
    Py_VISIT(p.result_.ptr());
    if (p.error_) Py_VISIT(p.error_->value().ptr());
  }
  return 0;
}

int coro_clear(PyObject* o) {
  CoroObject* self = as_coro(o);
  if (self->frame && self->state != State::Running) {
    Promise& p = promise_of(self);
    p.inner_.reset();
    p.sent_.reset();
    p.result_.reset();
  }
  return 0;
}

void coro_dealloc(PyObject* o) {
  CoroObject* self = as_coro(o);
  if (PyObject_CallFinalizerFromDealloc(o) < 0) return;  // resurrected
  PyObject_GC_UnTrack(o);
  destroy_frame(self);
  Py_CLEAR(self->name);
  Py_CLEAR(self->qualname);
  PyTypeObject* type = Py_TYPE(o);
  type->tp_free(o);
  Py_DECREF(type);
}

PyObject* get_name(PyObject* o, void*) { return Py_NewRef(as_coro(o)->name); }
PyObject* get_qualname(PyObject* o, void*) { return Py_NewRef(as_coro(o)->qualname); }

int set_text(PyObject** slot, PyObject* value, const char* what) {
  if (!value || !PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
    return -1;
  }
  Py_SETREF(*slot, Py_NewRef(value));
  return 0;
}
int set_name(PyObject* o, PyObject* value, void*) {
  return set_text(&as_coro(o)->name, value, "__name__");
}
int set_qualname(PyObject* o, PyObject* value, void*) {
  return set_text(&as_coro(o)->qualname, value, "__qualname__");
}

PyObject* get_running(PyObject* o, void*) {
  return PyBool_FromLong(as_coro(o)->state == State::Running);
}
PyObject* get_await(PyObject* o, void*) {
  CoroObject* self = as_coro(o);
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

PyType_Slot coro_slots[] = {
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

}  // namespace

bool is_coroutine_object(PyObject* o) { return Py_TYPE(o) == coro_type; }

}  // namespace detail

Coroutine::~Coroutine() {
  if (handle_) handle_.destroy();
}

nb::object Coroutine::to_python() && {
  PyTypeObject* type = detail::coro_type;
  if (!type) throw std::logic_error("the coroutine type is not registered");
  PyObject* o = type->tp_alloc(type, 0);
  if (!o) throw nb::python_error();
  detail::CoroObject* self = detail::as_coro(o);
  nb::object result = nb::steal(o);
  self->name = PyUnicode_FromString(handle_.promise().name_);
  if (!self->name) throw nb::python_error();
  self->qualname = Py_NewRef(self->name);
  self->state = detail::State::Created;
  self->frame = std::exchange(handle_, {}).address();
  return result;
}

void define_coroutine_type(nb::module_& m) {
  static PyType_Spec spec = {"talvo.talvo.Coroutine", sizeof(detail::CoroObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC |
                                 Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             detail::coro_slots};
  PyObject* type = PyType_FromSpec(&spec);
  if (!type) throw nb::python_error();
  detail::coro_type = reinterpret_cast<PyTypeObject*>(type);
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
