// The module function `write_vlvi_from_faiss`.
#ifndef VELLUM_LIB_VLVI_IMPORT_H_
#define VELLUM_LIB_VLVI_IMPORT_H_

#include "lib/python.h"

namespace vellum::py {

PyObject* make_write_vlvi_from_faiss(PyObject* module_name);

}  // namespace vellum::py

#endif  // VELLUM_LIB_VLVI_IMPORT_H_
