#include "lib/manifest_dict.h"

#include <cstring>
#include <string>

#include "lib/py_ref.h"
#include "lib/to_py.h"

namespace vellum::py {

namespace {

bool set(PyObject* dict, const char* key, PyObject* value) {
  Ref owned(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* sortcol_to_py(const std::optional<SortColumn>& s) {
  if (!s) Py_RETURN_NONE;
  return to_py(std::make_tuple(s->name, s->num, s->flag));
}

PyObject* split_to_dict(const ParsedManifest& m, size_t i) {
  const ParsedSplit& s = m.splits[i];
  Ref d(PyDict_New());
  const std::string_view summary = m.summary(i);
  if (!d || !set(d.get(), "name", to_py(s.name)) ||
      !set(d.get(), "summary", to_py(Bytes{std::string(summary)})) ||
      !set(d.get(), "epoch", to_py(s.epoch)) || !set(d.get(), "size_bytes", to_py(s.size_bytes)) ||
      !set(d.get(), "doc_count", to_py(s.doc_count)) ||
      !set(d.get(), "first_id", to_py(s.first_id)) || !set(d.get(), "last_id", to_py(s.last_id)) ||
      !set(d.get(), "tier", to_py(s.tier)) || !set(d.get(), "split_flags", to_py(s.split_flags))) {
    return nullptr;
  }
  return d.release();
}

// Walks a dict's items, converting the known keys and refusing others.
template <typename Fn>
bool each_item(PyObject* o, const char* what, Fn&& field) {
  if (!PyDict_Check(o)) return type_error(o, what);
  PyObject* key;
  PyObject* value;
  Py_ssize_t pos = 0;
  while (PyDict_Next(o, &pos, &key, &value)) {
    std::string name;
    if (!to_str(key, &name)) return false;
    int found = field(name, value);
    if (found < 0) return false;
    if (found == 0) {
      PyErr_Format(PyExc_TypeError, "unknown %s key '%s'", what, name.c_str());
      return false;
    }
  }
  return true;
}

// 1 when `name` is `key` and `value` converted into `out`, 0 when the name
// is another key, -1 on a failed conversion.
template <typename T>
int field(const std::string& name, const char* key, PyObject* value, T* out) {
  if (name != key) return 0;
  return Arg<T>::convert(value, out) ? 1 : -1;
}

}  // namespace

PyObject* manifest_to_dict(const ParsedManifest& m) {
  Ref splits(PyList_New(static_cast<Py_ssize_t>(m.splits.size())));
  if (!splits) return nullptr;
  for (size_t i = 0; i < m.splits.size(); ++i) {
    PyObject* item = split_to_dict(m, i);
    if (item == nullptr) return nullptr;
    PyList_SetItem(splits.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  Ref d(PyDict_New());
  if (!d || !set(d.get(), "version", to_py(m.version)) ||
      !set(d.get(), "flags", to_py(m.flags)) || !set(d.get(), "policy", to_py(m.policy)) ||
      !set(d.get(), "body_kind", to_py(m.body_kind)) ||
      !set(d.get(), "tier_count", to_py(m.tier_count)) ||
      !set(d.get(), "base_count", to_py(m.base_count)) ||
      !set(d.get(), "byte_cap", to_py(m.byte_cap)) ||
      !set(d.get(), "gram_size", to_py(m.gram_size)) ||
      !set(d.get(), "case_sensitive", to_py(m.case_sensitive)) ||
      !set(d.get(), "sortcol", sortcol_to_py(m.sortcol)) ||
      !set(d.get(), "splits", splits.release())) {
    return nullptr;
  }
  return d.release();
}

bool Arg<SplitMeta>::convert(PyObject* o, SplitMeta* out) {
  SplitMeta s;
  bool named = false;
  Bytes summary;
  bool ok = each_item(o, "split", [&](const std::string& n, PyObject* v) {
    if (n == "name") {
      named = true;
      return Arg<std::string>::convert(v, &s.name) ? 1 : -1;
    }
    if (n == "summary") return Arg<Bytes>::convert(v, &summary) ? 1 : -1;
    int r = 0;
    if ((r = field(n, "epoch", v, &s.epoch)) != 0) return r;
    if ((r = field(n, "size_bytes", v, &s.size_bytes)) != 0) return r;
    if ((r = field(n, "doc_count", v, &s.doc_count)) != 0) return r;
    if ((r = field(n, "first_id", v, &s.first_id)) != 0) return r;
    if ((r = field(n, "last_id", v, &s.last_id)) != 0) return r;
    if ((r = field(n, "tier", v, &s.tier)) != 0) return r;
    return field(n, "split_flags", v, &s.split_flags);
  });
  if (!ok) return false;
  if (!named) {
    PyErr_SetString(PyExc_TypeError, "a split needs a 'name'");
    return false;
  }
  s.summary = std::move(summary.data);
  *out = std::move(s);
  return true;
}

bool Arg<ManifestParams>::convert(PyObject* o, ManifestParams* out) {
  ManifestParams p;
  bool ok = each_item(o, "manifest", [&](const std::string& n, PyObject* v) {
    if (n == "sortcol") {
      if (v == Py_None) return 1;
      PyObject* f[3];
      SortColumn s;
      if (!unpack_tuple(v, 3, f) || !to_str(f[0], &s.name) || !to_u16(f[1], &s.num) ||
          !to_bool(f[2], &s.flag)) {
        return -1;
      }
      p.sortcol = std::move(s);
      return 1;
    }
    int r = 0;
    if ((r = field(n, "policy", v, &p.policy)) != 0) return r;
    if ((r = field(n, "body_kind", v, &p.body_kind)) != 0) return r;
    if ((r = field(n, "tier_count", v, &p.tier_count)) != 0) return r;
    if ((r = field(n, "base_count", v, &p.base_count)) != 0) return r;
    if ((r = field(n, "byte_cap", v, &p.byte_cap)) != 0) return r;
    if ((r = field(n, "gram_size", v, &p.gram_size)) != 0) return r;
    return field(n, "flags", v, &p.flags);
  });
  if (!ok) return false;
  *out = std::move(p);
  return true;
}

}  // namespace vellum::py
