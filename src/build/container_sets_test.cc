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
// holding the same ids. With `by_window`, runs within one window go in as
// their low bits.
void expect_runs_once(const std::vector<std::vector<uint32_t>>& runs, bool by_window) {
  ContainerSets sets;
  sets.create();  // another set's parts interleave with the tested one
  const uint32_t s = sets.create();
  std::vector<uint32_t> all;
  uint32_t other = 0;
  for (const auto& run : runs) {
    const uint32_t high = run[0] >> 16;
    if (by_window && high == run.back() >> 16) {
      std::vector<uint16_t> lows(run.begin(), run.end());  // keeps the low bits
      sets.append_window(s, high, lows.data(), lows.size());
    } else {
      sets.append_run(s, run.data(), run.size());
    }
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

void expect_runs(const std::vector<std::vector<uint32_t>>& runs) {
  expect_runs_once(runs, false);
  expect_runs_once(runs, true);
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

// Many sets filled batch by batch, as the collector does: runs of a few ids
// to a few thousand, so windows gather many array parts, bitmap parts among
// arrays, and runs that cross into the next window. Every set, written one
// after another into one sink, must give CRoaring's bytes.
TEST(ContainerSets, ManySetsOfManyPartsGiveRoaringBytes) {
  std::mt19937_64 rng(9);
  constexpr int kSets = 24;
  ContainerSets sets;
  std::vector<std::vector<uint32_t>> want(kSets);
  std::vector<uint64_t> next(kSets, 0);
  for (int s = 0; s < kSets; ++s) sets.create();
  for (int batch = 0; batch < 300; ++batch) {
    for (int s = 0; s < kSets; ++s) {
      const uint64_t r = rng() % 100;
      const size_t n = r < 3 ? 3000 + rng() % 3000 : r < 40 ? 0 : rng() % 80;
      const uint64_t gap = s % 3 == 0 ? 3000 : s % 3 == 1 ? 40 : 2;
      std::vector<uint32_t> run;
      for (size_t i = 0; i < n && next[s] <= 0xFFFFFFFFu; ++i) {
        run.push_back(static_cast<uint32_t>(next[s]));
        next[s] += 1 + rng() % gap;
      }
      if (run.empty()) continue;
      sets.append_run(static_cast<uint32_t>(s), run.data(), run.size());
      want[s].insert(want[s].end(), run.begin(), run.end());
    }
  }
  std::string all;
  StringSink sink(&all);
  std::string expected;
  for (int s = 0; s < kSets; ++s) {
    SCOPED_TRACE("set " + std::to_string(s));
    Bitmap b;
    b.add_many(want[s].data(), want[s].size());
    const std::string bytes = serialize_posting(b);
    EXPECT_EQ(sets.posting_size(static_cast<uint32_t>(s)), bytes.size());
    ASSERT_TRUE(sets.write_posting(static_cast<uint32_t>(s), &sink).ok());
    expected += bytes;
    ASSERT_EQ(all, expected);
  }
}

// Sets written, then grown (as when collection resumes), then written
// again: the second writing sees the new parts and every set's bytes.
TEST(ContainerSets, WritingAgainAfterMoreParts) {
  ContainerSets sets;
  const uint32_t a = sets.create();
  const uint32_t b = sets.create();
  std::vector<uint32_t> want_a = range(0, 5000, 3);
  std::vector<uint32_t> want_b = range(1, 300);
  sets.append_run(a, want_a.data(), want_a.size());
  sets.append_run(b, want_b.data(), want_b.size());
  std::string first;
  StringSink first_sink(&first);
  ASSERT_TRUE(sets.write_posting(b, &first_sink).ok());
  const std::vector<uint32_t> more_a = range(5000, 140000, 5);
  const std::vector<uint32_t> more_b = range(300, 70000, 11);
  sets.append_run(b, more_b.data(), more_b.size());
  sets.append_run(a, more_a.data(), more_a.size());
  want_a.insert(want_a.end(), more_a.begin(), more_a.end());
  want_b.insert(want_b.end(), more_b.begin(), more_b.end());
  for (auto [set, want] : {std::pair{a, &want_a}, std::pair{b, &want_b}}) {
    Bitmap expected;
    expected.add_many(want->data(), want->size());
    std::string bytes;
    StringSink sink(&bytes);
    ASSERT_TRUE(sets.write_posting(set, &sink).ok());
    EXPECT_EQ(bytes, serialize_posting(expected));
  }
}

}  // namespace
}  // namespace vellum
