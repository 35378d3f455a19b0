#include "lib/tools_read.h"

#include "lib/binding.h"
#include "lib/report_py.h"
#include "read/report_target.h"
#include "read/lookup_target.h"
#include "read/verify_target.h"

namespace vellum::py {

// A facet selection: a (field, category) tuple of str.
template <>
struct Arg<FacetSelection> {
  static bool convert(PyObject* o, FacetSelection* out) {
    PyObject* f[2];
    return unpack_tuple(o, 2, f) && to_str(f[0], &out->field) && to_str(f[1], &out->category);
  }
};

namespace {

// A target that cannot be resolved, or an answer that is a problem,
// raises ValueError naming it.
template <typename T>
PyObject* report_or_raise(const Checked<T>& r) {
  if (!r.ok()) return raise_problem(r.problem());
  return to_py(*r);
}

constexpr Callable kInspect{
    "inspect", {{"path"}},
    "Reads a file, a dataset directory or a split set (directory or .vlss manifest) "
    "through the validating readers and returns a dict of its header fields and summary. "
    "Raises ValueError naming the first problem of a damaged target."};
PyObject* inspect_py(std::string path) {
  Checked<Target> t = resolve_target(path);
  if (!t.ok()) return raise_problem(t.problem());
  return report_or_raise(inspect_target(*t));
}

constexpr Callable kVerify{
    "verify", {{"path"}},
    "Checks a file, a dataset directory or a split set completely and returns the "
    "problems found as a list of dicts with 'file', 'region', 'offset' and 'what'; "
    "an empty list means sound. Raises ValueError when the path names none of them."};
PyObject* verify_py(std::string path) {
  Checked<Target> t = resolve_target(path);
  if (!t.ok()) return raise_problem(t.problem());
  const std::vector<Problem> problems = verify_target(*t);
  Ref list(PyList_New(static_cast<Py_ssize_t>(problems.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < problems.size(); ++i) {
    PyObject* item = problem_to_py(problems[i]);
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return list.release();
}

constexpr Callable kLookup{
    "lookup", {{"path"}, {"queries"}, {"facet", "None"}, {"records", "False"}},
    "Returns the ids of the documents matching every query text (substrings, or whole "
    "terms of a term index) and, when given, the (field, category) facet: a dict with "
    "'ids' and 'count', per-split answers under 'splits' for a split set, and the "
    "matching record bytes under 'records' when asked, for a dataset directory."};
PyObject* lookup_py(std::string path, std::vector<std::string> queries, std::optional<FacetSelection> facet,
                    bool records) {
  Checked<Target> t = resolve_target(path);
  if (!t.ok()) return raise_problem(t.problem());
  return report_or_raise(lookup_target(*t, TargetQuery{std::move(queries), std::move(facet), records}));
}

}  // namespace

const NamedFunction* read_functions(size_t* count) {
  static PyMethodDef inspect_def = function<kInspect, inspect_py>();
  static PyMethodDef verify_def = function<kVerify, verify_py>();
  static PyMethodDef lookup_def = function<kLookup, lookup_py>();
  static const NamedFunction functions[] = {
      {"inspect", &inspect_def}, {"verify", &verify_def}, {"lookup", &lookup_def}};
  *count = sizeof functions / sizeof functions[0];
  return functions;
}

}  // namespace vellum::py
