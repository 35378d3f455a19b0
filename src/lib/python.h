// The one place the module surface pulls in the interpreter's headers.
// Everything here is built against the limited API (abi3, 3.11 and later).
#ifndef VELLUM_LIB_PYTHON_H_
#define VELLUM_LIB_PYTHON_H_

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030B0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#endif  // VELLUM_LIB_PYTHON_H_
