// The immutable statistics classes returned by builds. Python cannot
// construct them; each is a fixed list of unsigned integer attributes.
#ifndef VELLUM_LIB_STATS_H_
#define VELLUM_LIB_STATS_H_

#include <cstdint>
#include <initializer_list>

#include "lib/python.h"

namespace vellum::py {

enum class StatsKind { kBuild, kVectorBuild, kSplitSetBuild };

// Creates the class for `kind` (a new reference) and keeps it for
// new_stats(); called once, at module initialisation.
PyObject* make_stats_type(StatsKind kind);

// A new statistics object with `values` in attribute order.
PyObject* new_stats(StatsKind kind, std::initializer_list<uint64_t> values);

}  // namespace vellum::py

#endif  // VELLUM_LIB_STATS_H_
