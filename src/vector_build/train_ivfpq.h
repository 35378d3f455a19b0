// IVF-PQ training: a coarse k-means over the (for inner product,
// unit-length) vectors, one k-means per sub-quantizer over the residuals,
// then the inverted lists in staged order. A pure function of the vectors,
// their order, the parameters and the seed.
#ifndef VELLUM_VECTOR_BUILD_TRAIN_IVFPQ_H_
#define VELLUM_VECTOR_BUILD_TRAIN_IVFPQ_H_

#include <cstdint>
#include <span>

#include "common/status.h"
#include "vector_build/ivfpq.h"
#include "vector_build/nearest_centroid.h"

namespace vellum {

// The trainer's own seed, used when IvfPqParams::seed is 0.
inline constexpr uint64_t kBuiltinTrainSeed = 0x9E3779B97F4A7C15ULL;

// One staged vector, viewed in its owner's storage.
struct VectorRef {
  uint32_t id;
  std::span<const float> values;
};

// Validates (no vectors; dim/m; nbits; nlist; vector lengths, in that order)
// and trains. The vectors are only read. `kernel` exists for tests; every
// kernel gives the same index.
Result<IvfPqIndex> train_ivfpq(std::span<const VectorRef> vectors, const IvfPqParams& params,
                               AssignKernel kernel = best_assign_kernel());

// The parameter checks shared with import, as "bad params: ..." errors.
Status check_ivfpq_params(uint64_t dim, uint64_t m, uint8_t nbits, uint64_t nlist);

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_TRAIN_IVFPQ_H_
