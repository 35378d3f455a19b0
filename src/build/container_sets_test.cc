#include "build/container_sets.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/bitmap.h"
#include "index/posting.h"

namespace vellum {
namespace {

// Appends `runs` to one set and checks ids, size and bytes against CRoaring
// holding the same ids.
void expect_runs(const std::vector<std::vector<uint32_t>>& runs) {
  ContainerSets sets;
  sets.create();  // another set's parts interleave with the tested one
  const uint32_t s = sets.create();
  std::vector<uint32_t> all;
  uint32_t other = 0;
  for (const auto& run : runs) {
    sets.append_run(s, run.data(), run.size());
    sets.append_run(0, &other, 1);
    other += 70000;
    all.insert(all.end(), run.begin(), run.end());
  }
  Bitmap b;
  b.add_many(all.data(), all.size());
  std::string bytes;
  StringSink sink(&bytes);
  ASSERT_TRUE(sets.write_posting(s, &sink).ok());
  EXPECT_EQ(bytes, serialize_posting(b));
  EXPECT_EQ(sets.posting_size(s), bytes.size());
  EXPECT_EQ(sets.ids(s), all);
}

std::vector<uint32_t> range(uint32_t from, uint32_t to, uint32_t step = 1) {
  std::vector<uint32_t> v;
  for (uint32_t i = from; i < to; i += step) v.push_back(i);
  return v;
}

// One run per window, runs spanning windows, and the last window.
TEST(ContainerSets, RunsGiveRoaringBytes) {
  expect_runs({range(5, 9)});
  expect_runs({range(0, 65536 * 3, 7)});     // arrays and bitmaps across windows
  expect_runs({range(0, 4096), range(65536, 65536 + 4097)});  // both sides of 4096
  expect_runs({{0xFFFFFFFEu, 0xFFFFFFFFu}});
  expect_runs({range(0xFFFF0000u, 0xFFFFFFFFu, 3), {0xFFFFFFFFu}});
}

// A window's ids split over several runs: merged into one array, or into one
// bitmap when they add up to more than 4096 ids (arrays with arrays, a
// bitmap part with array parts).
TEST(ContainerSets, PartsOfOneWindowMerge) {
  expect_runs({range(0, 100), range(100, 200), range(70000, 70001)});
  expect_runs({range(0, 3000), range(3000, 6000)});
  expect_runs({range(0, 10000), range(10000, 10005), range(20000, 40000, 3)});
  expect_runs({range(65530, 65536), range(65536, 65540), range(65540, 70000)});
  std::mt19937 rng(3);
  std::vector<std::vector<uint32_t>> runs;
  uint32_t next = 0;
  for (int r = 0; r < 200; ++r) {
    std::vector<uint32_t> run;
    for (int i = 0, n = static_cast<int>(rng() % 60); i < n; ++i) {
      next += 1 + rng() % 40;
      run.push_back(next);
    }
    if (!run.empty()) runs.push_back(run);
  }
  expect_runs(runs);
}

}  // namespace
}  // namespace vellum
