// Turning core error values and C++ failures into Python exceptions.
#ifndef VELLUM_LIB_ERRORS_H_
#define VELLUM_LIB_ERRORS_H_

#include <exception>
#include <new>

#include "common/status.h"
#include "lib/python.h"

namespace vellum::py {

// Raises the Python exception for `error` (one table for all kinds) and
// returns nullptr, so callers can `return raise(err);`.
PyObject* raise(const Error& error);

// Runs `fn` (which returns a new reference or nullptr with an exception
// set) and turns anything the C++ runtime throws into a Python exception:
// failures that ordinary input cannot cause must not unwind into the
// interpreter.
template <typename Fn>
PyObject* guarded(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
    return nullptr;
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected native failure");
    return nullptr;
  }
}

}  // namespace vellum::py

#endif  // VELLUM_LIB_ERRORS_H_
