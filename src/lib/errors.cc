#include "lib/errors.h"

namespace vellum::py {

namespace {

// The error-mapping table: each core error kind has exactly one exception.
PyObject* exception_for(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kOs:
    case ErrorKind::kIo:
    case ErrorKind::kInvalidInput:
      return PyExc_OSError;
    case ErrorKind::kInvalidArgument:
    case ErrorKind::kFinished:
      return PyExc_ValueError;
  }
  return PyExc_SystemError;
}

}  // namespace

PyObject* raise(const Error& error) {
  PyErr_SetString(exception_for(error.kind()), error.describe().c_str());
  return nullptr;
}

}  // namespace vellum::py
