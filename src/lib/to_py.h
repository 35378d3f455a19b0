// Conversion of core results into Python objects: ints, names (str), bytes,
// tuples, lists, optional values (None) and error values (raised through
// the one error table). Every function returns a new reference, or nullptr
// with an exception set.
#ifndef VELLUM_LIB_TO_PY_H_
#define VELLUM_LIB_TO_PY_H_

#include <concepts>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/status.h"
#include "lib/args.h"
#include "lib/errors.h"
#include "lib/py_ref.h"
#include "lib/python.h"

namespace vellum::py {

inline PyObject* to_py(PyObject* o) { return o; }
inline PyObject* to_py(Ref&& o) { return o.release(); }

template <std::integral T>
PyObject* to_py(T v) {
  if constexpr (std::is_same_v<T, bool>) {
    return PyBool_FromLong(v);
  } else if constexpr (std::is_signed_v<T>) {
    return PyLong_FromLongLong(v);
  } else {
    return PyLong_FromUnsignedLongLong(v);
  }
}

inline PyObject* to_py(const std::string& s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

inline PyObject* to_py(const Bytes& b) {
  return PyBytes_FromStringAndSize(b.data.data(), static_cast<Py_ssize_t>(b.data.size()));
}

inline PyObject* to_py(const Status& s) {
  if (!s.ok()) return raise(s.error());
  Py_RETURN_NONE;
}

template <typename T>
PyObject* to_py(std::optional<T>&& v) {
  if (!v.has_value()) Py_RETURN_NONE;
  return to_py(std::move(*v));
}

template <typename T>
PyObject* to_py(std::vector<T>&& items) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* item = to_py(std::move(items[i]));
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return list.release();
}

template <typename... T>
PyObject* to_py(std::tuple<T...>&& values) {
  Ref tuple(PyTuple_New(sizeof...(T)));
  if (!tuple) return nullptr;
  bool ok = true;
  Py_ssize_t i = 0;
  std::apply(
      [&](auto&&... v) {
        ((ok = ok && [&] {
           PyObject* item = to_py(std::move(v));
           if (item == nullptr) return false;
           PyTuple_SetItem(tuple.get(), i++, item);  // steals
           return true;
         }()),
         ...);
      },
      std::move(values));
  return ok ? tuple.release() : nullptr;
}

template <typename T>
PyObject* to_py(Result<T>&& r) {
  if (!r.ok()) return raise(r.error());
  return to_py(std::move(r).value());
}

}  // namespace vellum::py

#endif  // VELLUM_LIB_TO_PY_H_
