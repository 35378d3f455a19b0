// Module initialisation: creates the classes and functions in their fixed
// order and lists each in __all__ as it is added.

#include "lib/builder_type.h"
#include "lib/py_ref.h"
#include "lib/splitset_builder_type.h"
#include "lib/splitset_writer_type.h"
#include "lib/python.h"
#include "lib/stats.h"
#include "lib/term_builder_type.h"
#include "lib/term_splitset_builder_type.h"
#include "lib/tokenize.h"
#include "lib/vector_builder_type.h"
#include "lib/vlvi_import.h"

namespace vellum::py {

namespace {

// Single-phase initialisation with no per-module state: the classes keep
// process-wide pointers, so a second initialisation is refused.
bool g_initialised = false;

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "vellum", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

struct Registration {
  const char* name;
  PyObject* (*make)(PyObject* module_name);
};

const Registration kRegistrations[] = {
    {"Builder", [](PyObject*) { return make_builder_type(); }},
    {"BuildStats", [](PyObject*) { return make_stats_type(StatsKind::kBuild); }},
    {"VectorBuilder", [](PyObject*) { return make_vector_builder_type(); }},
    {"VectorBuildStats", [](PyObject*) { return make_stats_type(StatsKind::kVectorBuild); }},
    {"tokenize", make_tokenize},
    {"write_vlvi_from_faiss", make_write_vlvi_from_faiss},
    {"write_term_index", make_write_term_index},
    {"TermBuilder", [](PyObject*) { return make_term_builder_type(); }},
    {"SplitSetBuilder", [](PyObject*) { return make_splitset_builder_type(); }},
    {"TermSplitSetBuilder", [](PyObject*) { return make_term_splitset_builder_type(); }},
    {"SplitSetBuildStats",
     [](PyObject*) { return make_stats_type(StatsKind::kSplitSetBuild); }},
    {"SplitSetWriter", [](PyObject*) { return make_splitset_writer_type(); }},
};

PyObject* init() {
  if (g_initialised) {
    PyErr_SetString(PyExc_ImportError,
                    "vellum may only be initialized once per interpreter process");
    return nullptr;
  }
  Ref module(PyModule_Create(&kModule));
  if (!module) return nullptr;
  Ref all(PyList_New(0));
  if (!all) return nullptr;
  Ref module_name(PyUnicode_FromString("vellum"));
  if (!module_name) return nullptr;
  for (const Registration& r : kRegistrations) {
    Ref attr(r.make(module_name.get()));
    if (!attr) return nullptr;
    if (PyModule_AddObjectRef(module.get(), r.name, attr.get()) < 0) return nullptr;
    Ref name(PyUnicode_FromString(r.name));
    if (!name || PyList_Append(all.get(), name.get()) < 0) return nullptr;
  }
  if (PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) return nullptr;
  g_initialised = true;
  return module.release();
}

}  // namespace

}  // namespace vellum::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_vellum() {
  return vellum::py::init();
}
