#include "analysis/ascii_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace vellum::ascii_stage {
namespace {

constexpr Simd kLevels[] = {Simd::kSse2, Simd::kSsse3, Simd::kAvx2, Simd::kAvx512};

std::string staged(std::string_view text, size_t* pos, bool fold, Simd limit) {
  std::vector<uint8_t> dst(kStageBytes);
  const size_t m = stage(text.data(), text.size(), pos, fold, dst.data(), limit);
  return std::string(dst.begin(), dst.begin() + m);
}

TEST(AsciiStage, DropsFoldsAndStopsAtNonAscii) {
  for (Simd level : kLevels) {
    size_t pos = 0;
    const std::string text = "E-mail, \"Me\"\t(2x)!\x01\x7F" "abc\xC3\xA9zz";
    EXPECT_EQ(staged(text, &pos, true, level), "email me\t2xabc");
    EXPECT_EQ(pos, text.find('\xC3'));
    pos = 0;
    EXPECT_EQ(staged(text, &pos, false, level), "Email Me\t2xabc");
  }
}

TEST(AsciiStage, StopsAfterOneStageOfInput) {
  const std::string text(kInput + 40, 'a');
  size_t pos = 3;
  for (Simd level : kLevels) {
    pos = 3;
    EXPECT_EQ(staged(text, &pos, true, level).size(), kInput);
    EXPECT_EQ(pos, kInput + 3);
  }
}

// Where the processor lacks a level, the comparison is of the best it has.
TEST(AsciiStage, EveryLevelStagesAlike) {
  std::mt19937_64 rng(3);
  for (int iter = 0; iter < 2000; ++iter) {
    std::string text(rng() % 700, ' ');
    const uint64_t drop_rate = 1 + iter % 9;  // from nearly all dropped to few
    for (char& c : text) {
      c = rng() % 10 < drop_rate ? static_cast<char>('a' + rng() % 26)
                                 : static_cast<char>(rng() % 128);
    }
    if (iter % 3 == 0 && !text.empty()) text[rng() % text.size()] = '\x80';
    const bool fold = iter & 1;
    size_t pos_a = rng() % (text.size() + 1);
    const size_t from = pos_a;
    const std::string expected = staged(text, &pos_a, fold, Simd::kSse2);
    for (Simd level : {Simd::kSsse3, Simd::kAvx2, Simd::kAvx512}) {
      size_t pos_b = from;
      ASSERT_EQ(staged(text, &pos_b, fold, level), expected) << text;
      ASSERT_EQ(pos_b, pos_a);
    }
  }
}

TEST(AsciiStage, KeysEndAtKeptBytesWithEnoughBefore) {
  // Context "xyz" (five zeros before it), then "ab cd": grams of 3 end at
  // a (yza), b (zab) and nowhere in "cd".
  std::vector<uint8_t> stage(kStageBytes, 0);
  const std::string s = std::string(5, '\0') + "xyzab cd";
  std::copy(s.begin(), s.end(), stage.begin());
  for (Simd level : kLevels) {
    std::vector<uint64_t> out(16);
    uint64_t* end = keys(stage.data(), s.size(), 3, out.data(), level);
    ASSERT_EQ(end - out.data(), 2);
    EXPECT_EQ(out[0], 0x797A61u);
    EXPECT_EQ(out[1], 0x7A6162u);
  }
}

// Random stages of every length, gram size and density. Past the last key
// the buffer holds guard words, which no level may overwrite: callers size
// their buffers for the keys alone.
TEST(AsciiStage, EveryLevelKeysAlike) {
  std::mt19937_64 rng(5);
  for (int iter = 0; iter < 3000; ++iter) {
    std::vector<uint8_t> stage(kStageBytes);
    const size_t total = kContext + rng() % (kInput + 1);
    const uint64_t space_rate = iter % 7;
    for (size_t i = 0; i < total; ++i) {
      stage[i] = rng() % 8 < space_rate ? static_cast<uint8_t>(rng() % 0x21)
                                        : static_cast<uint8_t>(0x21 + rng() % 0x5F);
    }
    const size_t n = 3 + iter % 6;
    std::vector<uint8_t> copy = stage;
    std::vector<uint64_t> wide(kInput);
    const size_t count = keys(copy.data(), total, n, wide.data(), Simd::kSse2) - wide.data();
    constexpr uint64_t kGuard = 0x5A5A5A5A5A5A5A5AULL;
    for (Simd level : {Simd::kSsse3, Simd::kAvx2, Simd::kAvx512}) {
      copy = stage;
      std::vector<uint64_t> out(count + 8, kGuard);
      ASSERT_EQ(keys(copy.data(), total, n, out.data(), level) - out.data(),
                static_cast<ptrdiff_t>(count));
      ASSERT_TRUE(std::equal(out.begin(), out.begin() + count, wide.begin())) << iter;
      ASSERT_TRUE(std::all_of(out.begin() + count, out.end(), [](uint64_t w) { return w == kGuard; }))
          << iter;
    }
  }
}

}  // namespace
}  // namespace vellum::ascii_stage
