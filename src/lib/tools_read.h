// The readers in vellum_tools._native: inspect, verify and lookup of a
// path (a file, a dataset directory, or a split-set directory or manifest).
#ifndef VELLUM_LIB_TOOLS_READ_H_
#define VELLUM_LIB_TOOLS_READ_H_

#include "lib/python.h"

namespace vellum::py {

struct NamedFunction {
  const char* name;
  PyMethodDef* def;
};

// The three functions, for the module to register.
const NamedFunction* read_functions(size_t* count);

}  // namespace vellum::py

#endif  // VELLUM_LIB_TOOLS_READ_H_
