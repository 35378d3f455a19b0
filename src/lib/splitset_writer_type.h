// The SplitSetWriter class of the module.
#ifndef VELLUM_LIB_SPLITSET_WRITER_TYPE_H_
#define VELLUM_LIB_SPLITSET_WRITER_TYPE_H_

#include "lib/python.h"

namespace vellum::py {

PyObject* make_splitset_writer_type();

}  // namespace vellum::py

#endif  // VELLUM_LIB_SPLITSET_WRITER_TYPE_H_
