// Conversions of vector arguments: a `sequence of float` (one vector) and
// the (doc_id, vector) pairs of VectorBuilder.add_many.
//
// A vector that exports a one-dimensional buffer of float32 or float64 in
// native byte order (a NumPy row, a memoryview, an array.array) is read
// straight from its memory; anything else goes element by element through
// the interpreter's float conversion. Both give the same floats, since an
// element's value is the same number either way, and every object the
// buffer path does not take falls back to the element path and its errors.
#ifndef VELLUM_LIB_VECTOR_ARGS_H_
#define VELLUM_LIB_VECTOR_ARGS_H_

#include <vector>

#include "lib/args.h"
#include "lib/python.h"
#include "vector_build/vector_builder.h"

namespace vellum::py {

struct FloatVector {
  std::vector<float> values;
};

// Appends the components of `o` to `out`; on failure `out` is unchanged.
bool append_floats(PyObject* o, std::vector<float>* out);

template <>
struct Arg<FloatVector> {
  static bool convert(PyObject* o, FloatVector* out) {
    std::vector<float> values;
    if (!append_floats(o, &values)) return false;
    out->values = std::move(values);
    return true;
  }
};

// A sequence of (int u32, sequence of float) tuples, all or nothing.
template <>
struct Arg<VectorBatch> {
  static bool convert(PyObject* o, VectorBatch* out);
};

}  // namespace vellum::py

#endif  // VELLUM_LIB_VECTOR_ARGS_H_
