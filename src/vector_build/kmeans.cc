#include "vector_build/kmeans.h"

#include <algorithm>
#include <limits>

#include "vector_build/ivfpq.h"
#include "vector_build/xorshift.h"

namespace vellum {

namespace {

void copy_drawn_point(const float* points, size_t n, size_t d, uint64_t* state, float* dst) {
  const size_t r = static_cast<size_t>(draw_index(state, n));
  std::copy_n(points + r * d, d, dst);
}

// Per-cluster sums and counts, each cluster summed in point order.
void accumulate(const float* points, size_t n, size_t d, const uint32_t* assignment,
                std::vector<float>* sums, std::vector<uint32_t>* counts) {
  std::fill(sums->begin(), sums->end(), 0.0f);
  std::fill(counts->begin(), counts->end(), 0u);
  float* s = sums->data();
  for (size_t i = 0; i < n; ++i) {
    const size_t c = assignment[i];
    ++(*counts)[c];
    const float* x = points + i * d;
    float* dst = s + c * d;
    for (size_t j = 0; j < d; ++j) dst[j] = dst[j] + x[j];
  }
}

void update(const float* points, size_t n, size_t d, const std::vector<float>& sums,
            const std::vector<uint32_t>& counts, uint64_t* state, std::vector<float>* centroids) {
  const size_t k = counts.size();
  for (size_t c = 0; c < k; ++c) {
    float* dst = centroids->data() + c * d;
    if (counts[c] == 0) {
      copy_drawn_point(points, n, d, state, dst);
      continue;
    }
    // A reciprocal then one product per component, not a division each.
    const float inv = 1.0f / static_cast<float>(counts[c]);
    const float* src = sums.data() + c * d;
    for (size_t j = 0; j < d; ++j) dst[j] = src[j] * inv;
  }
}

}  // namespace

Result<KMeansResult> kmeans(const float* points, size_t n, size_t d, size_t k, size_t iters,
                            uint64_t* state, AssignKernel kernel) {
  if (n == 0 || d == 0 || k == 0 || iters == 0 ||
      k > std::numeric_limits<uint32_t>::max()) {
    return VectorBuildError::bad_params("kmeans needs points, k in 1..2^32-1 and iters >= 1");
  }
  KMeansResult result;
  result.centroids.resize(k * d);
  result.assignment.resize(n);
  for (size_t c = 0; c < k; ++c) {
    copy_drawn_point(points, n, d, state, result.centroids.data() + c * d);
  }
  // Every buffer of the iterations is allocated here, once.
  CentroidPanel panel(k, d);
  std::vector<float> sums(k * d);
  std::vector<uint32_t> counts(k);
  uint32_t* assignment = result.assignment.data();
  for (size_t it = 0; it < iters; ++it) {
    panel.load(result.centroids.data());
    assign_nearest(kernel, points, n, panel, assignment);
    accumulate(points, n, d, assignment, &sums, &counts);
    update(points, n, d, sums, counts, state, &result.centroids);
  }
  panel.load(result.centroids.data());
  assign_nearest(kernel, points, n, panel, assignment);
  return result;
}

}  // namespace vellum
