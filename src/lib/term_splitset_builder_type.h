// The Python class `TermSplitSetBuilder`.
#ifndef VELLUM_LIB_TERM_SPLITSET_BUILDER_TYPE_H_
#define VELLUM_LIB_TERM_SPLITSET_BUILDER_TYPE_H_

#include "lib/python.h"

namespace vellum::py {

PyObject* make_term_splitset_builder_type();

}  // namespace vellum::py

#endif  // VELLUM_LIB_TERM_SPLITSET_BUILDER_TYPE_H_
