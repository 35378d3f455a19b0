// The Python class `TermBuilder` and the module function
// `write_term_index`, which share the (doc_id, text) batch conversion.
#ifndef VELLUM_LIB_TERM_BUILDER_TYPE_H_
#define VELLUM_LIB_TERM_BUILDER_TYPE_H_

#include "lib/python.h"

namespace vellum::py {

PyObject* make_term_builder_type();
PyObject* make_write_term_index(PyObject* module_name);

}  // namespace vellum::py

#endif  // VELLUM_LIB_TERM_BUILDER_TYPE_H_
