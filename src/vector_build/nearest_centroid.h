// The assignment pass of k-means: for each point, the index of the nearest
// centroid by squared Euclidean distance.
//
// Every distance is the single-precision sum, in component order and
// starting from -0.0, of (point - centroid)^2, with no fused multiply-add;
// the nearest centroid is the lowest index among the smallest distances,
// and a NaN distance never wins (all NaN or +inf: index 0). The kernels
// vectorise across centroids, one SIMD lane per centroid, so each lane does
// exactly the scalar arithmetic and every kernel returns the same indices.
#ifndef VELLUM_VECTOR_BUILD_NEAREST_CENTROID_H_
#define VELLUM_VECTOR_BUILD_NEAREST_CENTROID_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vellum {

// Centroids regrouped for the kernels: groups of kLanes centroids, each
// group component-major ([component][lane]) so that one register holds one
// component of kLanes centroids. Lanes past the last centroid hold NaN.
class CentroidPanel {
 public:
  static constexpr size_t kLanes = 8;

  // Allocates once; load() only copies.
  CentroidPanel(size_t k, size_t d);

  // `centroids` is k x d, row-major.
  void load(const float* centroids);

  size_t k() const { return k_; }
  size_t d() const { return d_; }
  size_t groups() const { return groups_; }
  const float* group(size_t g) const { return data_.data() + g * d_ * kLanes; }

 private:
  size_t k_;
  size_t d_;
  size_t groups_;
  std::vector<float> data_;
};

enum class AssignKernel { kPortable, kAvx2 };

// Whether this processor (and its operating system) can run the AVX2 kernel.
bool avx2_available();

// The fastest kernel this processor runs.
AssignKernel best_assign_kernel();

// Writes to out[i] the nearest centroid of point i, for the n points of
// `points` (n x panel.d(), row-major). kAvx2 runs the portable kernel where
// AVX2 is unavailable.
void assign_nearest(AssignKernel kernel, const float* points, size_t n,
                    const CentroidPanel& panel, uint32_t* out);

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_NEAREST_CENTROID_H_
