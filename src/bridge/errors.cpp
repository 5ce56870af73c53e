// Errors crossing the bridge: a C++ exception leaving a body becomes the
// Python exception nanobind would raise for it, and StopIteration is handled
// the way generators handle it (PEP 479).
#include <new>
#include <stdexcept>

#include "bridge/frame.hpp"

namespace nb = nanobind;

namespace talvo::bridge::detail {

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

}  // namespace talvo::bridge::detail
