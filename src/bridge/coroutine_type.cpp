// The Python coroutine type that owns a C++ coroutine frame: its slots, its
// attributes, and the module that owns the type itself.
#include <stdexcept>
#include <string>
#include <utility>

#include "bridge/frame.hpp"

namespace nb = nanobind;

namespace talvo::bridge {

namespace detail {

namespace {

// Where the owning module keeps the type for the bridge, apart from the name
// it is published under, so that deleting or replacing that name changes
// nothing.
constexpr const char* kTypeKey = "_coroutine_type";

// The module this extension's type belongs to, and the type's dotted name
// (which the type keeps pointing into). Plain text, set by the module's
// initialisation; the type itself is found through the module every time.
struct Owner {
  std::string module;
  std::string type_name;
};

Owner& owner() {
  static Owner o;
  return o;
}

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
  if (!self->frame) return 0;
  return promise_of(self).traverse(Visit(visit, arg));
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

bool is_coroutine_object(PyObject* o) { return Py_TYPE(o)->tp_dealloc == coro_dealloc; }

namespace {

bool is_coroutine_type(PyObject* type) {
  return PyType_Check(type) && reinterpret_cast<PyTypeObject*>(type)->tp_dealloc == coro_dealloc;
}

// The type, as the owning module keeps it. Looked up on every use rather
// than remembered: a pointer kept here would outlive the module.
nb::object owned_type() {
  const Owner& o = owner();
  if (o.module.empty()) throw std::logic_error("the coroutine type is not registered");
  nb::module_ m = nb::module_::import_(o.module.c_str());
  nb::object type = nb::borrow(PyDict_GetItemString(PyModule_GetDict(m.ptr()), kTypeKey));
  if (!type.is_valid() || !is_coroutine_type(type.ptr())) {
    PyErr_Format(PyExc_RuntimeError,
                 "%s.%s was deleted or replaced: no coroutine object can be made",
                 o.module.c_str(), kTypeKey);
    throw nb::python_error();
  }
  return type;
}

}  // namespace

}  // namespace detail

Coroutine::~Coroutine() {
  if (handle_) handle_.destroy();
}

nb::object Coroutine::to_python() && {
  nb::object type = detail::owned_type();
  auto* t = reinterpret_cast<PyTypeObject*>(type.ptr());
  PyObject* o = t->tp_alloc(t, 0);
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
  detail::Owner& o = detail::owner();
  if (o.module.empty()) {
    const char* name = PyModule_GetName(m.ptr());
    if (!name) throw nb::python_error();
    o.module = name;
    o.type_name = o.module + ".Coroutine";
  }
  static PyType_Spec type_spec = {o.type_name.c_str(), sizeof(detail::CoroObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC |
                                 Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             detail::coro_slots};
  // The type refers to its module, and the module to the type: the pair lives
  // as long as the module or any coroutine object.
  nb::object type = nb::steal(PyType_FromModuleAndSpec(m.ptr(), &type_spec, nullptr));
  if (!type.is_valid()) throw nb::python_error();
  m.attr("Coroutine") = type;
  m.attr(detail::kTypeKey) = type;
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
