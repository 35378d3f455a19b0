#include "lib/stats.h"

#include <cstddef>
#include <string>

#include "lib/binding.h"
#include "lib/py_ref.h"

namespace vellum::py {

namespace {

constexpr int kMaxFields = 5;

struct StatsObject {
  PyObject_HEAD
  int kind;
  uint64_t values[kMaxFields];
};

struct StatsClass {
  const char* qualified_name;
  const char* name;
  const char* doc;
  int field_count;
  PyGetSetDef getset[kMaxFields + 1];
};

PyObject* get_field(PyObject* self, void* closure) {
  auto index = reinterpret_cast<intptr_t>(closure);
  return PyLong_FromUnsignedLongLong(reinterpret_cast<StatsObject*>(self)->values[index]);
}

#define VELLUM_FIELD(name, doc, i) \
  { name, get_field, nullptr, doc, reinterpret_cast<void*>(i) }

StatsClass kClasses[] = {
    {"vellum.BuildStats", "BuildStats",
     "Summary of a completed build, returned by [`Builder::build`].", 3,
     {VELLUM_FIELD("docs", "Number of records written.", 0),
      VELLUM_FIELD("ngrams", "Number of distinct n-gram keys in the text index.", 1),
      VELLUM_FIELD("fields", "Number of facet fields written.", 2),
      {nullptr, nullptr, nullptr, nullptr, nullptr}}},
    {"vellum.VectorBuildStats", "VectorBuildStats",
     "Summary of a completed vector-index build, returned by [`VectorBuilder::build`].", 5,
     {VELLUM_FIELD("vectors", "Number of vectors indexed.", 0),
      VELLUM_FIELD("dim", "Vector dimensionality.", 1),
      VELLUM_FIELD("nlist",
                   "Coarse (IVF) clusters actually trained (clamped to the vector count).", 2),
      VELLUM_FIELD("m", "PQ subquantizers.", 3),
      VELLUM_FIELD("nbits", "Bits per PQ code.", 4),
      {nullptr, nullptr, nullptr, nullptr, nullptr}}},
    {"vellum.SplitSetBuildStats", "SplitSetBuildStats",
     "Summary of a completed split-set build, returned by [`SplitSetBuilder::build`].", 3,
     {VELLUM_FIELD("splits", "Number of splits written.", 0),
      VELLUM_FIELD("docs", "Number of documents indexed.", 1),
      VELLUM_FIELD("total_bytes", "Total bytes across every split file.", 2),
      {nullptr, nullptr, nullptr, nullptr, nullptr}}},
};

#undef VELLUM_FIELD

// Set once at module initialisation (which can happen only once per
// process) and read-only afterwards.
PyObject* g_types[std::size(kClasses)] = {};

PyObject* stats_repr(PyObject* self) {
  auto* s = reinterpret_cast<StatsObject*>(self);
  const StatsClass& c = kClasses[s->kind];
  std::string text = c.name;
  text += '(';
  for (int i = 0; i < c.field_count; ++i) {
    if (i > 0) text += ", ";
    text += c.getset[i].name;
    text += '=';
    text += std::to_string(s->values[i]);
  }
  text += ')';
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace

PyObject* make_stats_type(StatsKind kind) {
  StatsClass& c = kClasses[static_cast<int>(kind)];
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(c.doc)},
      {Py_tp_repr, reinterpret_cast<void*>(stats_repr)},
      {Py_tp_getset, c.getset},
      {Py_tp_dealloc, reinterpret_cast<void*>(free_object)},
      {0, nullptr},
  };
  PyType_Spec spec = {c.qualified_name, sizeof(StatsObject), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION |
                          Py_TPFLAGS_IMMUTABLETYPE,
                      slots};
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) return nullptr;
  Py_XDECREF(g_types[static_cast<int>(kind)]);
  Py_INCREF(type);
  g_types[static_cast<int>(kind)] = type;
  return type;
}

PyObject* new_stats(StatsKind kind, std::initializer_list<uint64_t> values) {
  auto* type = reinterpret_cast<PyTypeObject*>(g_types[static_cast<int>(kind)]);
  if (type == nullptr) {
    PyErr_SetString(PyExc_SystemError, "statistics class is not initialised");
    return nullptr;
  }
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* obj = alloc(type, 0);
  if (obj == nullptr) return nullptr;
  auto* s = reinterpret_cast<StatsObject*>(obj);
  s->kind = static_cast<int>(kind);
  int i = 0;
  for (uint64_t v : values) {
    if (i < kMaxFields) s->values[i++] = v;
  }
  for (; i < kMaxFields; ++i) s->values[i] = 0;
  return obj;
}

}  // namespace vellum::py
