#include "analysis/quote.h"

#include <gtest/gtest.h>

#include <string>

namespace vellum {
namespace {

TEST(QuotedLiteral, PlainAndPrintableTextIsCopied) {
  EXPECT_EQ(quoted_literal(""), "\"\"");
  EXPECT_EQ(quoted_literal("eng"), "\"eng\"");
  EXPECT_EQ(quoted_literal("a b'c"), "\"a b'c\"");
  EXPECT_EQ(quoted_literal("naïve ελληνικά 中文 😀"), "\"naïve ελληνικά 中文 😀\"");
  EXPECT_EQ(quoted_literal("e\u0301"), "\"e\u0301\"");  // combining marks print
}

TEST(QuotedLiteral, QuoteBackslashAndNamedControls) {
  EXPECT_EQ(quoted_literal("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quoted_literal("\t\r\n"), "\"\\t\\r\\n\"");
  EXPECT_EQ(quoted_literal(std::string("x\0y", 3)), "\"x\\0y\"");
}

TEST(QuotedLiteral, OtherNonPrintablesAsLowerHexCodePoints) {
  EXPECT_EQ(quoted_literal("\x07\x1b\x7f"), "\"\\u{7}\\u{1b}\\u{7f}\"");   // Cc
  EXPECT_EQ(quoted_literal("\u0085"), "\"\\u{85}\"");                       // Cc
  EXPECT_EQ(quoted_literal("\u00A0x\u3000"), "\"\\u{a0}x\\u{3000}\"");       // Zs
  EXPECT_EQ(quoted_literal("\u200B\u00AD\uFEFF"), "\"\\u{200b}\\u{ad}\\u{feff}\"");  // Cf
  EXPECT_EQ(quoted_literal("\u2028\u2029"), "\"\\u{2028}\\u{2029}\"");       // Zl, Zp
  EXPECT_EQ(quoted_literal("\uE000\U0010FFFD"), "\"\\u{e000}\\u{10fffd}\""); // Co
  EXPECT_EQ(quoted_literal("\u0378\U000E0080"), "\"\\u{378}\\u{e0080}\"");   // Cn
}

TEST(QuotedLiteral, MalformedBytesAreMarkedNotCopied) {
  EXPECT_EQ(quoted_literal("a\xFF" "b"), "\"a\\u{fffd}b\"");
  EXPECT_EQ(quoted_literal("\xED\xA0\x80"), "\"\\u{fffd}\\u{fffd}\\u{fffd}\"");  // surrogate
  EXPECT_EQ(quoted_literal("\uFFFD"), "\"\uFFFD\"");  // the character itself prints
}

}  // namespace
}  // namespace vellum
