#include "analysis/utf8_encode.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis/utf8.h"

namespace vellum::utf8 {
namespace {

std::string reference(const std::vector<uint32_t>& cps) {
  std::string s;
  for (uint32_t c : cps) append(&s, c);
  return s;
}

// Both paths, into a buffer of exactly encode_room() bytes followed by a
// guard that must stay untouched.
void expect_encodes(const std::vector<uint32_t>& cps) {
  const std::string want = reference(cps);
  for (bool vectorized : {false, true}) {
    std::vector<char> buf(encode_room(cps.size()) + 16, '\x5A');
    char* end = encode(cps.data(), cps.size(), buf.data(), vectorized);
    ASSERT_NE(end, nullptr) << "vectorized " << vectorized;
    ASSERT_EQ(std::string(buf.data(), end), want) << "vectorized " << vectorized;
    for (size_t k = encode_room(cps.size()); k < buf.size(); ++k) ASSERT_EQ(buf[k], '\x5A');
  }
}

TEST(Utf8Encode, EveryScalarValueInOneArray) {
  std::vector<uint32_t> cps;
  for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c < 0xD800 || c > 0xDFFF) cps.push_back(c);
  }
  expect_encodes(cps);
  expect_encodes({});
}

// Lengths around the 16-code-point steps, mixing the four UTF-8 lengths
// and runs of one, as text of several scripts does.
TEST(Utf8Encode, MixedLengthsAndPartialSteps) {
  std::mt19937 rng(7);
  const uint32_t firsts[] = {0, 0x80, 0x800, 0xE000, 0x10000};
  const uint32_t lasts[] = {0x7F, 0x7FF, 0xD7FF, 0xFFFF, 0x10FFFF};
  for (int round = 0; round < 3000; ++round) {
    const size_t n = rng() % 70;
    const unsigned kinds = 1 + rng() % 31;  // which classes this text draws from
    std::vector<uint32_t> cps;
    while (cps.size() < n) {
      const unsigned k = rng() % 5;
      if ((kinds >> k & 1) == 0) continue;
      const uint32_t span = lasts[k] - firsts[k] + 1;
      // Class edges are where a length is decided.
      const uint32_t off = rng() % 4 == 0 ? (rng() % 2 ? 0 : span - 1) : rng() % span;
      cps.push_back(firsts[k] + off);
    }
    expect_encodes(cps);
  }
}

TEST(Utf8Encode, SurrogatesAndValuesAboveTheRangeHaveNoEncoding) {
  for (uint32_t bad : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu, 0x110000u, 0xFFFFFFFFu}) {
    for (size_t at : {0, 5, 15, 16, 31, 40}) {
      std::vector<uint32_t> cps(41, 'a');
      cps[at] = bad;
      for (bool vectorized : {false, true}) {
        std::vector<char> buf(encode_room(cps.size()));
        EXPECT_EQ(encode(cps.data(), cps.size(), buf.data(), vectorized), nullptr)
            << std::hex << bad << " at " << at << " vectorized " << vectorized;
      }
    }
  }
}

}  // namespace
}  // namespace vellum::utf8
