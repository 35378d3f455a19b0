#include "vector_build/nearest_centroid.h"

#include <immintrin.h>

#include <cmath>
#include <limits>

namespace vellum {

namespace {

constexpr size_t kLanes = CentroidPanel::kLanes;
constexpr float kInf = std::numeric_limits<float>::infinity();

// Combines the per-lane winners of one point. A lane that never improved
// holds +inf and index 0, so it cannot displace a finite winner.
uint32_t pick_lane(const float* dist, const uint32_t* index) {
  float best = kInf;
  uint32_t at = 0;
  for (size_t l = 0; l < kLanes; ++l) {
    if (dist[l] < best || (dist[l] == best && index[l] < at)) {
      best = dist[l];
      at = index[l];
    }
  }
  return at;
}

void assign_portable(const float* points, size_t n, const CentroidPanel& panel,
                     uint32_t* out) {
  const size_t d = panel.d();
  for (size_t i = 0; i < n; ++i) {
    const float* x = points + i * d;
    float best[kLanes];
    uint32_t best_index[kLanes];
    for (size_t l = 0; l < kLanes; ++l) {
      best[l] = kInf;
      best_index[l] = 0;
    }
    for (size_t g = 0; g < panel.groups(); ++g) {
      const float* c = panel.group(g);
      float acc[kLanes];
      for (size_t l = 0; l < kLanes; ++l) acc[l] = -0.0f;
      for (size_t j = 0; j < d; ++j) {
        const float v = x[j];
        for (size_t l = 0; l < kLanes; ++l) {
          const float t = v - c[j * kLanes + l];
          acc[l] = acc[l] + t * t;
        }
      }
      for (size_t l = 0; l < kLanes; ++l) {
        if (acc[l] < best[l]) {
          best[l] = acc[l];
          best_index[l] = static_cast<uint32_t>(g * kLanes + l);
        }
      }
    }
    out[i] = pick_lane(best, best_index);
  }
}

#define VELLUM_AVX2 __attribute__((target("avx2")))

VELLUM_AVX2 inline void keep_nearer(__m256* best, __m256i* best_index, __m256 dist,
                                    __m256i index) {
  // Ordered compare: a NaN distance is never nearer.
  const __m256 nearer = _mm256_cmp_ps(dist, *best, _CMP_LT_OQ);
  *best = _mm256_blendv_ps(*best, dist, nearer);
  *best_index = _mm256_castps_si256(_mm256_blendv_ps(
      _mm256_castsi256_ps(*best_index), _mm256_castsi256_ps(index), nearer));
}

// Distances of P points to the Q groups starting at `c` (groups are d x 8
// floats apart), folded into each point's per-lane winners.
template <int P, int Q>
VELLUM_AVX2 inline void avx2_groups(const float* x, size_t d, const float* c, uint32_t first,
                                    __m256* best, __m256i* best_index) {
  __m256 acc[P][Q];
#pragma GCC unroll 8
  for (int p = 0; p < P; ++p) {
#pragma GCC unroll 8
    for (int q = 0; q < Q; ++q) acc[p][q] = _mm256_set1_ps(-0.0f);
  }
  for (size_t j = 0; j < d; ++j) {
    __m256 cv[Q];
#pragma GCC unroll 8
    for (int q = 0; q < Q; ++q) cv[q] = _mm256_loadu_ps(c + (q * d + j) * kLanes);
#pragma GCC unroll 8
    for (int p = 0; p < P; ++p) {
      const __m256 xv = _mm256_broadcast_ss(x + p * d + j);
#pragma GCC unroll 8
      for (int q = 0; q < Q; ++q) {
        const __m256 t = _mm256_sub_ps(xv, cv[q]);
        acc[p][q] = _mm256_add_ps(acc[p][q], _mm256_mul_ps(t, t));
      }
    }
  }
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
#pragma GCC unroll 8
  for (int q = 0; q < Q; ++q) {
    const __m256i index = _mm256_add_epi32(
        lanes, _mm256_set1_epi32(static_cast<int>(first + q * kLanes)));
#pragma GCC unroll 8
    for (int p = 0; p < P; ++p) keep_nearer(&best[p], &best_index[p], acc[p][q], index);
  }
}

// The nearest centroid of P consecutive points; two groups at a time keep
// eight accumulators busy while each centroid load serves P points.
template <int P>
VELLUM_AVX2 void avx2_points(const float* x, const CentroidPanel& panel, uint32_t* out) {
  const size_t d = panel.d();
  __m256 best[P];
  __m256i best_index[P];
  for (int p = 0; p < P; ++p) {
    best[p] = _mm256_set1_ps(kInf);
    best_index[p] = _mm256_setzero_si256();
  }
  size_t g = 0;
  for (; g + 2 <= panel.groups(); g += 2) {
    avx2_groups<P, 2>(x, d, panel.group(g), static_cast<uint32_t>(g * kLanes), best, best_index);
  }
  if (g < panel.groups()) {
    avx2_groups<P, 1>(x, d, panel.group(g), static_cast<uint32_t>(g * kLanes), best, best_index);
  }
  for (int p = 0; p < P; ++p) {
    alignas(32) float dist[kLanes];
    alignas(32) uint32_t index[kLanes];
    _mm256_store_ps(dist, best[p]);
    _mm256_store_si256(reinterpret_cast<__m256i*>(index), best_index[p]);
    out[p] = pick_lane(dist, index);
  }
}

VELLUM_AVX2 void assign_avx2(const float* points, size_t n, const CentroidPanel& panel,
                             uint32_t* out) {
  constexpr size_t kPoints = 4;
  const size_t d = panel.d();
  size_t i = 0;
  for (; i + kPoints <= n; i += kPoints) avx2_points<4>(points + i * d, panel, out + i);
  switch (n - i) {
    case 3: avx2_points<3>(points + i * d, panel, out + i); break;
    case 2: avx2_points<2>(points + i * d, panel, out + i); break;
    case 1: avx2_points<1>(points + i * d, panel, out + i); break;
    default: break;
  }
}

#undef VELLUM_AVX2

}  // namespace

CentroidPanel::CentroidPanel(size_t k, size_t d)
    : k_(k), d_(d), groups_((k + kLanes - 1) / kLanes),
      data_(groups_ * d * kLanes, std::numeric_limits<float>::quiet_NaN()) {}

void CentroidPanel::load(const float* centroids) {
  for (size_t c = 0; c < k_; ++c) {
    float* dst = data_.data() + (c / kLanes) * d_ * kLanes + c % kLanes;
    const float* src = centroids + c * d_;
    for (size_t j = 0; j < d_; ++j) dst[j * kLanes] = src[j];
  }
}

bool avx2_available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

AssignKernel best_assign_kernel() {
  return avx2_available() ? AssignKernel::kAvx2 : AssignKernel::kPortable;
}

void assign_nearest(AssignKernel kernel, const float* points, size_t n,
                    const CentroidPanel& panel, uint32_t* out) {
  // A processor without AVX2 must never reach its instructions.
  if (kernel == AssignKernel::kAvx2 && avx2_available()) {
    assign_avx2(points, n, panel, out);
  } else {
    assign_portable(points, n, panel, out);
  }
}

}  // namespace vellum
