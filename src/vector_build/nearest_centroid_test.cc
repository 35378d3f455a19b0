#include "vector_build/nearest_centroid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "vector_build/xorshift.h"

namespace vellum {
namespace {

// The plain scan the kernels must agree with.
uint32_t scan_nearest(const float* x, const std::vector<float>& c, size_t k, size_t d) {
  float best = std::numeric_limits<float>::infinity();
  uint32_t at = 0;
  for (size_t i = 0; i < k; ++i) {
    float s = -0.0f;
    for (size_t j = 0; j < d; ++j) {
      const float t = x[j] - c[i * d + j];
      s = s + t * t;
    }
    if (s < best) {
      best = s;
      at = static_cast<uint32_t>(i);
    }
  }
  return at;
}

// Small integers force many exact ties, across lanes and across groups;
// a sprinkling of NaN and infinities exercises the never-wins rule.
std::vector<float> values(size_t count, std::mt19937* g, bool special) {
  std::uniform_int_distribution<int> small(-2, 2), pick(0, 40);
  std::vector<float> v(count);
  for (float& f : v) {
    f = static_cast<float>(small(*g)) * 0.5f;
    if (!special) continue;
    const int p = pick(*g);
    if (p == 0) f = std::numeric_limits<float>::quiet_NaN();
    if (p == 1) f = std::numeric_limits<float>::infinity();
  }
  return v;
}

void expect_kernels_match_scan(size_t n, size_t k, size_t d, bool special, std::mt19937* g) {
  const std::vector<float> points = values(n * d, g, special);
  const std::vector<float> cents = values(k * d, g, special);
  CentroidPanel panel(k, d);
  panel.load(cents.data());
  std::vector<uint32_t> portable(n), avx2(n);
  assign_nearest(AssignKernel::kPortable, points.data(), n, panel, portable.data());
  assign_nearest(AssignKernel::kAvx2, points.data(), n, panel, avx2.data());
  for (size_t i = 0; i < n; ++i) {
    const uint32_t want = scan_nearest(points.data() + i * d, cents, k, d);
    ASSERT_EQ(portable[i], want) << "portable n=" << n << " k=" << k << " d=" << d << " i=" << i;
    ASSERT_EQ(avx2[i], want) << "avx2 n=" << n << " k=" << k << " d=" << d << " i=" << i;
  }
}

TEST(NearestCentroid, KernelsAgreeWithPlainScanOnTiesAndPartialGroups) {
  std::mt19937 g(7);
  for (size_t k : {1, 2, 7, 8, 9, 16, 17, 24, 33, 256}) {
    for (size_t d : {1, 2, 3, 8, 17}) {
      for (size_t n : {1, 2, 3, 4, 5, 11}) expect_kernels_match_scan(n, k, d, false, &g);
    }
  }
}

TEST(NearestCentroid, KernelsAgreeWithPlainScanOnNanAndInfinity) {
  std::mt19937 g(11);
  for (size_t k : {3, 8, 13, 40}) {
    for (size_t d : {1, 4, 9}) expect_kernels_match_scan(9, k, d, true, &g);
  }
}

TEST(NearestCentroid, AllNanOrInfiniteDistancesGiveIndexZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> cents = {nan, inf, nan, inf, nan, nan, inf, inf, nan, inf};
  const std::vector<float> point = {0.0f};
  CentroidPanel panel(10, 1);
  panel.load(cents.data());
  for (AssignKernel kernel : {AssignKernel::kPortable, AssignKernel::kAvx2}) {
    uint32_t out = 99;
    assign_nearest(kernel, point.data(), 1, panel, &out);
    EXPECT_EQ(out, 0u);
  }
}

TEST(NearestCentroid, Avx2KernelIsTheOneSelectedWhereAvailable) {
  if (!avx2_available()) GTEST_SKIP() << "no AVX2 on this processor";
  EXPECT_EQ(best_assign_kernel(), AssignKernel::kAvx2);
}

TEST(NearestCentroid, LargeRandomPassesAreIdenticalAcrossKernels) {
  std::mt19937 g(3);
  std::normal_distribution<float> normal;
  const size_t n = 1001, k = 61, d = 37;
  std::vector<float> points(n * d), cents(k * d);
  for (float& f : points) f = normal(g);
  for (float& f : cents) f = normal(g);
  CentroidPanel panel(k, d);
  panel.load(cents.data());
  std::vector<uint32_t> portable(n), avx2(n);
  assign_nearest(AssignKernel::kPortable, points.data(), n, panel, portable.data());
  assign_nearest(AssignKernel::kAvx2, points.data(), n, panel, avx2.data());
  EXPECT_EQ(portable, avx2);
  for (size_t i = 0; i < n; i += 97) {
    EXPECT_EQ(portable[i], scan_nearest(points.data() + i * d, cents, k, d));
  }
}

TEST(Xorshift, DrawsFollowTheXorshiftStarSequence) {
  uint64_t s = 1;
  // 1 ^ (1 >> 12) = 1; 1 ^ (1 << 25) = 0x2000001; ^ (>> 27) leaves it.
  const uint64_t first = draw_index(&s, ~uint64_t{0});
  EXPECT_EQ(s, 0x2000001u);
  EXPECT_EQ(first, (0x2000001ULL * 0x2545F4914F6CDD1DULL) % ~uint64_t{0});
  s = 1;
  std::vector<uint64_t> draws;
  for (int i = 0; i < 8; ++i) draws.push_back(draw_index(&s, 4));
  EXPECT_EQ(draws, (std::vector<uint64_t>{1, 1, 3, 1, 0, 1, 1, 1}));
}

}  // namespace
}  // namespace vellum
