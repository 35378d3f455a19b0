// Lloyd's k-means with a fixed iteration count, as used for the coarse
// quantizer and for every sub-quantizer. Deterministic: the result depends
// only on the points, k, the iteration count and the random state.
#ifndef VELLUM_VECTOR_BUILD_KMEANS_H_
#define VELLUM_VECTOR_BUILD_KMEANS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/status.h"
#include "vector_build/nearest_centroid.h"

namespace vellum {

struct KMeansResult {
  std::vector<float> centroids;     // k x d
  std::vector<uint32_t> assignment;  // n indices below k
};

// Clusters the n x d row-major `points` into k centroids: k draws pick the
// initial centroids (repeats allowed, k may exceed n); each of `iters`
// iterations assigns every point, sums each cluster in point order and sets
// a centroid to its sum times the single-precision reciprocal of its count,
// re-seeding an empty cluster from a drawn point; a last pass assigns the
// points to the final centroids. `*state` is left advanced by every draw.
// Needs n, d and iters >= 1 and 1 <= k < 2^32.
Result<KMeansResult> kmeans(const float* points, size_t n, size_t d, size_t k, size_t iters,
                            uint64_t* state, AssignKernel kernel = best_assign_kernel());

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_KMEANS_H_
