// The Python class `VectorBuilder`.
#ifndef VELLUM_LIB_VECTOR_BUILDER_TYPE_H_
#define VELLUM_LIB_VECTOR_BUILDER_TYPE_H_

#include "lib/python.h"

namespace vellum::py {

PyObject* make_vector_builder_type();

}  // namespace vellum::py

#endif  // VELLUM_LIB_VECTOR_BUILDER_TYPE_H_
