#include "lib/report_py.h"

#include <type_traits>

#include "lib/errors.h"
#include "lib/py_ref.h"
#include "lib/to_py.h"

namespace vellum::py {

namespace {

PyObject* list_to_py(const ReportList& items) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* item = to_py(items[i]);
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return list.release();
}

PyObject* map_to_py(const ReportMap& items) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [key, value] : items) {
    Ref v(to_py(value));
    if (!v || PyDict_SetItemString(dict.get(), key.c_str(), v.get()) < 0) return nullptr;
  }
  return dict.release();
}

}  // namespace

PyObject* to_py(const Report& report) {
  return std::visit(
      [](const auto& v) -> PyObject* {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          Py_RETURN_NONE;
        } else if constexpr (std::is_same_v<T, double>) {
          return PyFloat_FromDouble(v);
        } else if constexpr (std::is_same_v<T, ReportBytes>) {
          return to_py(Bytes{v.data});
        } else if constexpr (std::is_same_v<T, ReportList>) {
          return list_to_py(v);
        } else if constexpr (std::is_same_v<T, ReportMap>) {
          return map_to_py(v);
        } else {
          return vellum::py::to_py(v);
        }
      },
      report.value());
}

PyObject* problem_to_py(const Problem& p) {
  return map_to_py(ReportMap{{"file", Report(p.file)},
                             {"region", Report(p.region)},
                             {"offset", Report(p.offset)},
                             {"what", Report(p.what)}});
}

PyObject* raise_problem(const Problem& p) {
  return raise(Error(ErrorKind::kInvalidArgument, p.file.empty() ? p.what : p.describe()));
}

}  // namespace vellum::py
