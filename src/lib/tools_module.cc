// vellum_tools._native: core functions that the command-line tools need
// and that the public `vellum` module deliberately does not expose. It is
// a module of its own so that `vellum` keeps exactly its public attributes.
//
// Functions are registered through the same declarative bindings as the
// public module: the build's identity, and manifest parsing and writing for
// the store lifecycle (which splits a stored manifest names) and for
// merging split sets built elsewhere; and the validating readers
// (lib/tools_read.h).

#include "lib/binding.h"
#include "lib/manifest_dict.h"
#include "lib/py_ref.h"
#include "lib/python.h"
#include "lib/tools_read.h"
#include "splitset/manifest.h"

namespace vellum::py {

namespace {

constexpr Callable kLimitedApi{
    "limited_api", {},
    "The CPython limited-API version this module was built against, as a hex "
    "number such as 0x030B0000."};
uint64_t limited_api() { return Py_LIMITED_API; }

constexpr Callable kParseManifest{
    "parse_manifest", {{"data"}},
    "Parses VLSS manifest bytes into a dict of its header fields and a list of split "
    "dicts (each with its own summary bytes). Raises ValueError on malformed bytes."};
PyObject* parse_manifest_py(Bytes data) {
  FormatResult<ParsedManifest> parsed = parse_manifest(data.data);
  if (!parsed.ok()) return raise(parsed.error().to_error(ErrorKind::kInvalidArgument));
  return manifest_to_dict(*parsed);
}

constexpr Callable kWriteManifest{
    "write_manifest", {{"splits"}, {"params"}},
    "Serializes a VLSS manifest from a list of split dicts and a dict of header "
    "parameters, in the shapes parse_manifest returns. Raises OSError on a format limit."};
Result<Bytes> write_manifest_py(std::vector<SplitMeta> splits, ManifestParams params) {
  VELLUM_ASSIGN_OR_RETURN(std::string bytes, write_manifest(splits, params));
  return Bytes{std::move(bytes)};
}

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
  static PyMethodDef parse_def = function<kParseManifest, parse_manifest_py>();
  static PyMethodDef write_def = function<kWriteManifest, write_manifest_py>();
  const ToolsFunction functions[] = {{"limited_api", &limited_api_def},
                                     {"parse_manifest", &parse_def},
                                     {"write_manifest", &write_def}};
  Ref module(PyModule_Create(&kToolsModule));
  if (!module) return nullptr;
  Ref module_name(PyUnicode_FromString("vellum_tools._native"));
  if (!module_name) return nullptr;
  for (const ToolsFunction& f : functions) {
    Ref fn(make_function(f.def, module_name.get()));
    if (!fn || PyModule_AddObjectRef(module.get(), f.name, fn.get()) < 0) return nullptr;
  }
  size_t read_count = 0;
  const NamedFunction* read = read_functions(&read_count);
  for (size_t i = 0; i < read_count; ++i) {
    Ref fn(make_function(read[i].def, module_name.get()));
    if (!fn || PyModule_AddObjectRef(module.get(), read[i].name, fn.get()) < 0) return nullptr;
  }
  return module.release();
}

}  // namespace

}  // namespace vellum::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
  return vellum::py::init_tools();
}
