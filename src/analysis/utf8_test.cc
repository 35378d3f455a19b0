#include "analysis/utf8.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellum::utf8 {
namespace {

std::vector<char32_t> decode_all(std::string_view s) {
  std::vector<char32_t> out;
  for (size_t pos = 0; pos < s.size();) {
    size_t before = pos;
    out.push_back(decode(s, &pos));
    EXPECT_GT(pos, before);
    EXPECT_LE(pos, s.size());
  }
  return out;
}

TEST(Utf8, RoundTripsEveryScalarValue) {
  std::string s;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    s.clear();
    append(&s, cp);
    ASSERT_EQ(s.size(), cp < 0x80 ? 1u : cp < 0x800 ? 2u : cp < 0x10000 ? 3u : 4u);
    size_t pos = 0;
    ASSERT_EQ(decode(s, &pos), cp);
    ASSERT_EQ(pos, s.size());
  }
}

TEST(Utf8, KnownEncodings) {
  EXPECT_EQ(decode_all("a\u00E9\u20AC\U0001F600"),
            (std::vector<char32_t>{'a', 0xE9, 0x20AC, 0x1F600}));
  std::string s;
  append(&s, 0x20AC);
  EXPECT_EQ(s, "\xE2\x82\xAC");
}

TEST(Utf8, MalformedBytesBecomeOneReplacementEach) {
  const char32_t R = 0xFFFD;
  EXPECT_EQ(decode_all("\x80"), (std::vector<char32_t>{R}));
  EXPECT_EQ(decode_all("a\xFF" "b"), (std::vector<char32_t>{'a', R, 'b'}));
  EXPECT_EQ(decode_all("\xC0\xAF"), (std::vector<char32_t>{R, R}));          // overlong
  EXPECT_EQ(decode_all("\xE0\x80\xAF"), (std::vector<char32_t>{R, R, R}));   // overlong
  EXPECT_EQ(decode_all("\xED\xA0\x80"), (std::vector<char32_t>{R, R, R}));   // surrogate
  EXPECT_EQ(decode_all("\xF4\x90\x80\x80"), (std::vector<char32_t>{R, R, R, R}));  // > 10FFFF
  EXPECT_EQ(decode_all("\xE2\x82x"), (std::vector<char32_t>{R, R, 'x'}));    // cut short
}

TEST(Utf8, TruncatedSequenceAtEndNeverReadsPast) {
  // The view ends inside a valid sequence of the underlying buffer.
  const std::string buf = "ab\xE2\x82\xAC";
  std::string_view view(buf.data(), 4);
  EXPECT_EQ(decode_all(view), (std::vector<char32_t>{'a', 'b', 0xFFFD, 0xFFFD}));
}

TEST(Utf8, AppendKeepsOutputValid) {
  std::string s;
  append(&s, 0xD800);
  append(&s, 0x110000);
  EXPECT_EQ(s, "\uFFFD\uFFFD");
}

TEST(Utf8, ValidityRejectsEveryMalformedForm) {
  EXPECT_TRUE(is_valid(""));
  EXPECT_TRUE(is_valid("plain ascii"));
  EXPECT_TRUE(is_valid("\uFFFD real replacement character"));
  EXPECT_TRUE(is_valid("\xF4\x8F\xBF\xBF"));  // U+10FFFF
  EXPECT_FALSE(is_valid("\xC0\x80"));          // overlong NUL
  EXPECT_FALSE(is_valid("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid("ab\xE2\x82"));         // truncated at the end
  EXPECT_FALSE(is_valid("\x80"));               // stray continuation
  EXPECT_FALSE(is_valid("\xFF"));
}

}  // namespace
}  // namespace vellum::utf8
