#include "analysis/ascii_stage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vellum::ascii_stage {
namespace {

std::string staged(std::string_view text, size_t* pos, bool fold, bool allow_ssse3) {
  std::vector<uint8_t> dst(kStageBytes);
  const size_t m = stage(text.data(), text.size(), pos, fold, dst.data(), allow_ssse3);
  return std::string(dst.begin(), dst.begin() + m);
}

TEST(AsciiStage, DropsFoldsAndStopsAtNonAscii) {
  for (bool ssse3 : {false, true}) {
    size_t pos = 0;
    const std::string text = "E-mail, \"Me\"\t(2x)!\x01\x7F" "abc\xC3\xA9zz";
    EXPECT_EQ(staged(text, &pos, true, ssse3), "email me\t2xabc");
    EXPECT_EQ(pos, text.find('\xC3'));
    pos = 0;
    EXPECT_EQ(staged(text, &pos, false, ssse3), "Email Me\t2xabc");
  }
}

TEST(AsciiStage, StopsAfterOneStageOfInput) {
  const std::string text(kInput + 40, 'a');
  size_t pos = 3;
  EXPECT_EQ(staged(text, &pos, true, true).size(), kInput);
  EXPECT_EQ(pos, kInput + 3);
}

TEST(AsciiStage, ShuffleAndPortableCompactionAgree) {
  std::mt19937_64 rng(3);
  for (int iter = 0; iter < 2000; ++iter) {
    std::string text(rng() % 700, ' ');
    const uint64_t drop_rate = 1 + iter % 9;  // from nearly all dropped to few
    for (char& c : text) {
      c = rng() % 10 < drop_rate ? static_cast<char>('a' + rng() % 26)
                                 : static_cast<char>(rng() % 128);
    }
    if (iter % 3 == 0 && !text.empty()) text[rng() % text.size()] = '\x80';
    size_t pos_a = 0, pos_b = 0;
    const bool fold = iter & 1;
    ASSERT_EQ(staged(text, &pos_a, fold, true), staged(text, &pos_b, fold, false)) << text;
    ASSERT_EQ(pos_a, pos_b);
  }
}

TEST(AsciiStage, KeysEndAtKeptBytesWithEnoughBefore) {
  // Context "xyz" (five zeros before it), then "ab cd": grams of 3 end at
  // a (yza), b (zab) and nowhere in "cd".
  std::vector<uint8_t> stage(kStageBytes, 0);
  const std::string s = std::string(5, '\0') + "xyzab cd";
  std::copy(s.begin(), s.end(), stage.begin());
  std::vector<uint64_t> out(16);
  uint64_t* end = keys(stage.data(), s.size(), 3, out.data());
  ASSERT_EQ(end - out.data(), 2);
  EXPECT_EQ(out[0], 0x797A61u);
  EXPECT_EQ(out[1], 0x7A6162u);
}

}  // namespace
}  // namespace vellum::ascii_stage
