#include "build/rank_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>

namespace vellum {
namespace {

std::vector<uint32_t> stable_reference(const std::vector<int64_t>& ranks) {
  std::vector<uint32_t> order(ranks.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return ranks[a] > ranks[b]; });
  return order;
}

TEST(RankOrder, EmptyOneAndExtremes) {
  EXPECT_TRUE(rank_order({}).empty());
  EXPECT_EQ(rank_order(std::vector<int64_t>{-7}), std::vector<uint32_t>{0});
  const int64_t lo = std::numeric_limits<int64_t>::min();
  const int64_t hi = std::numeric_limits<int64_t>::max();
  const std::vector<int64_t> ranks = {5, 9, 5, -1, lo, hi, -1, 0, hi, lo, 256, -256};
  EXPECT_EQ(rank_order(ranks), stable_reference(ranks));
  // Spreads on both sides of 2^32, where the sort changes its layout.
  const int64_t base = -3000000000;
  for (int64_t top : {base + int64_t{UINT32_MAX}, base + (int64_t{1} << 32)}) {
    const std::vector<int64_t> two = {base, top, base + 1, top, base, top - 1};
    EXPECT_EQ(rank_order(two), stable_reference(two)) << top;
  }
}

// Rank spreads that leave different digits constant, with many ties.
TEST(RankOrder, MatchesStableSortOnRandomRanks) {
  std::mt19937_64 rng(12);
  for (uint64_t spread : {uint64_t{1}, uint64_t{3}, uint64_t{255}, uint64_t{1} << 20, uint64_t{1} << 40, uint64_t{0}}) {
    for (size_t n : {2u, 17u, 1000u, 70000u}) {
      std::vector<int64_t> ranks(n);
      for (int64_t& r : ranks) {
        const uint64_t v = rng();
        r = spread == 0 ? static_cast<int64_t>(v) : static_cast<int64_t>(v % spread) - static_cast<int64_t>(spread / 2);
      }
      EXPECT_EQ(rank_order(ranks), stable_reference(ranks)) << "spread " << spread << " n " << n;
    }
  }
}

}  // namespace
}  // namespace vellum
