#include "vector_build/kmeans.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "vector_build/xorshift.h"

namespace vellum {
namespace {

// Seed 1 draws 1, 1, 3, ... over four points.
TEST(KMeans, HandCheckedRunWithTieAndEmptyCluster) {
  const std::vector<float> pts = {0, 0, 4, 0, 0, 2, 4, 2};
  uint64_t state = 1;
  Result<KMeansResult> r = kmeans(pts.data(), 4, 2, 2, 1, &state);
  ASSERT_TRUE(r.ok());
  // Both centroids start at point 1, so the tie sends every point to
  // centroid 0: its mean is (8, 4) * 0.25; centroid 1 is empty and is
  // re-seeded from the third draw, point 3.
  EXPECT_EQ(r->centroids, (std::vector<float>{2, 1, 4, 2}));
  EXPECT_EQ(r->assignment, (std::vector<uint32_t>{0, 1, 0, 1}));
  uint64_t expected = 1;
  for (int i = 0; i < 3; ++i) draw_index(&expected, 4);
  EXPECT_EQ(state, expected);
}

TEST(KMeans, MoreCentroidsThanPointsCopiesPoints) {
  const std::vector<float> pts = {1, 2, 3, 4};
  uint64_t state = 5;
  Result<KMeansResult> r = kmeans(pts.data(), 2, 2, 5, 3, &state);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r->centroids.size(), 10u);
  for (size_t c = 0; c < 5; ++c) {
    const float x = r->centroids[2 * c];
    EXPECT_TRUE((x == 1 && r->centroids[2 * c + 1] == 2) || (x == 3 && r->centroids[2 * c + 1] == 4));
  }
  EXPECT_EQ(r->centroids[2 * r->assignment[0]], 1);
  EXPECT_EQ(r->centroids[2 * r->assignment[1]], 3);
}

TEST(KMeans, SameStateSameResultAndKernelsAgree) {
  std::mt19937 g(9);
  std::normal_distribution<float> normal;
  const size_t n = 700, d = 12, k = 19;
  std::vector<float> pts(n * d);
  for (float& f : pts) f = normal(g);
  uint64_t s1 = 42, s2 = 42, s3 = 42;
  Result<KMeansResult> a = kmeans(pts.data(), n, d, k, 6, &s1, AssignKernel::kPortable);
  Result<KMeansResult> b = kmeans(pts.data(), n, d, k, 6, &s2, AssignKernel::kAvx2);
  Result<KMeansResult> c = kmeans(pts.data(), n, d, k, 6, &s3, AssignKernel::kPortable);
  ASSERT_TRUE(a.ok() && b.ok() && c.ok());
  EXPECT_EQ(a->centroids, b->centroids);
  EXPECT_EQ(a->assignment, b->assignment);
  EXPECT_EQ(a->centroids, c->centroids);
  EXPECT_EQ(s1, s2);
}

TEST(KMeans, RefusesEmptyInputsInsteadOfDividingByZero) {
  const std::vector<float> pts = {1};
  uint64_t s = 1;
  EXPECT_FALSE(kmeans(pts.data(), 0, 1, 1, 1, &s).ok());
  EXPECT_FALSE(kmeans(pts.data(), 1, 1, 0, 1, &s).ok());
  EXPECT_FALSE(kmeans(pts.data(), 1, 1, 1, 0, &s).ok());
}

}  // namespace
}  // namespace vellum
