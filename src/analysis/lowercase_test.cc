#include "analysis/lowercase.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(LowerFull, AsciiAndSingleMappings) {
  EXPECT_EQ(to_lower_full(""), "");
  EXPECT_EQ(to_lower_full("Year 2020, OK?"), "year 2020, ok?");
  EXPECT_EQ(to_lower_full("\u00C9T\u00C9 \u1E9E \u212A"), "\u00E9t\u00E9 \u00DF k");
  EXPECT_EQ(to_lower_full("\u1C89\uA7DC"), "\u1C8A\u019B");
  EXPECT_EQ(to_lower_full("\U00010400x"), "\U00010428x");
}

TEST(LowerFull, MultiCodePointMapping) {
  EXPECT_EQ(to_lower_full("\u0130STANBUL"), "i\u0307stanbul");
}

TEST(LowerFull, FinalSigma) {
  const char* S = "\u03A3";
  const struct {
    std::string in, out;
  } cases[] = {
      {"\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2"},  // word end
      {S, "\u03C3"},                                              // nothing before
      {std::string(S) + "\u0391", "\u03C3\u03B1"},                // word start
      {"\u0391" + std::string(S) + "\u0391", "\u03B1\u03C3\u03B1"},
      {"\u0391" + std::string(S) + " \u0391", "\u03B1\u03C2 \u03B1"},
      {"\u0391" + std::string(S) + ".", "\u03B1\u03C2."},
      {"1" + std::string(S), "1\u03C3"},                          // digits are not cased
      {"AB" + std::string(S), "ab\u03C2"},                        // context reaches ASCII
      // Case-ignorable characters are skipped on both sides.
      {"\u0391'" + std::string(S), "\u03B1'\u03C2"},
      {"A\u0301" + std::string(S), "a\u0301\u03C2"},
      {"\u0391" + std::string(S) + "'\u0391", "\u03B1\u03C3'\u03B1"},
      {"\u0391" + std::string(S) + "\u00AD\u0301", "\u03B1\u03C2\u00AD\u0301"},
      // A non-ignorable uncased character ends the look-back.
      {"\u0391-" + std::string(S), "\u03B1-\u03C3"},
      // Two sigmas: the first is followed by a cased letter.
      {"\u0391" + std::string(S) + S, "\u03B1\u03C3\u03C2"},
      // U+02B0 is both cased and case-ignorable; it is skipped as ignorable.
      {"\u02B0" + std::string(S), "\u02B0\u03C3"},
      {"\u0391" + std::string(S) + "\u02B0", "\u03B1\u03C2\u02B0"},
      {"\u0391\u02B0" + std::string(S), "\u03B1\u02B0\u03C2"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_lower_full(c.in), c.out) << c.in;
}

TEST(LowerFull, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(to_lower_full("A\xFF\xC3"), "a\uFFFD\uFFFD");
}

}  // namespace
}  // namespace vellum
