#include "lib/facets_arg.h"

#include "lib/py_ref.h"

namespace vellum::py {

bool to_facets(PyObject* o, FacetList* out) {
  if (!PyDict_Check(o)) return type_error(o, "dict");
  // A snapshot of the items: converting values may run Python code that
  // changes the dict.
  Ref items(PyDict_Items(o));
  if (!items) return false;
  Py_ssize_t n = PyList_Size(items.get());
  FacetList facets;
  facets.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GetItem(items.get(), i);
    if (pair == nullptr) return false;
    std::string field;
    std::vector<std::string> categories;
    if (!to_str(PyTuple_GetItem(pair, 0), &field)) return false;
    if (!to_str_list(PyTuple_GetItem(pair, 1), &categories)) return false;
    facets.emplace_back(std::move(field), std::move(categories));
  }
  *out = std::move(facets);
  return true;
}

}  // namespace vellum::py
