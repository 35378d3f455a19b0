// vellum_tools._native: core functions that the command-line tools need
// and that the public `vellum` module deliberately does not expose. It is
// a module of its own so that `vellum` keeps exactly its public attributes.
//
// Functions are registered through the same declarative bindings as the
// public module; for now the table holds only the build's identity, which
// the tools check before relying on the native side.

#include "lib/binding.h"
#include "lib/py_ref.h"
#include "lib/python.h"

namespace vellum::py {

namespace {

constexpr Callable kLimitedApi{
    "limited_api", {},
    "The CPython limited-API version this module was built against, as a hex "
    "number such as 0x030B0000."};
uint64_t limited_api() { return Py_LIMITED_API; }

PyModuleDef kToolsModule = {
    PyModuleDef_HEAD_INIT, "vellum_tools._native", "", 0, nullptr,
    nullptr,               nullptr,                nullptr, nullptr,
};

struct ToolsFunction {
  const char* name;
  PyMethodDef* def;
};

PyObject* init_tools() {
  static PyMethodDef limited_api_def = function<kLimitedApi, limited_api>();
  const ToolsFunction functions[] = {{"limited_api", &limited_api_def}};
  Ref module(PyModule_Create(&kToolsModule));
  if (!module) return nullptr;
  Ref module_name(PyUnicode_FromString("vellum_tools._native"));
  if (!module_name) return nullptr;
  for (const ToolsFunction& f : functions) {
    Ref fn(make_function(f.def, module_name.get()));
    if (!fn || PyModule_AddObjectRef(module.get(), f.name, fn.get()) < 0) return nullptr;
  }
  return module.release();
}

}  // namespace

}  // namespace vellum::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
  return vellum::py::init_tools();
}
