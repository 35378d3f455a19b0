// The module function `tokenize`.
#ifndef VELLUM_LIB_TOKENIZE_H_
#define VELLUM_LIB_TOKENIZE_H_

#include "lib/python.h"

namespace vellum::py {

PyObject* make_tokenize(PyObject* module_name);

}  // namespace vellum::py

#endif  // VELLUM_LIB_TOKENIZE_H_
