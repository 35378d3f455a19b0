// Conversion of a `sortcol` parameter: a 3-tuple (str, int u16, bool).
// Every split-set producer binds it through this.
#ifndef VELLUM_LIB_SORTCOL_ARG_H_
#define VELLUM_LIB_SORTCOL_ARG_H_

#include "lib/args.h"
#include "splitset/manifest.h"

namespace vellum::py {

template <>
struct Arg<SortColumn> {
  static bool convert(PyObject* o, SortColumn* out) {
    PyObject* f[3];
    return unpack_tuple(o, 3, f) && Arg<std::string>::convert(f[0], &out->name) &&
           Arg<uint16_t>::convert(f[1], &out->num) && Arg<bool>::convert(f[2], &out->flag);
  }
};

}  // namespace vellum::py

#endif  // VELLUM_LIB_SORTCOL_ARG_H_
