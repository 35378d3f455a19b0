#include "common/quote.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(QuoteLiteralTest, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(quote_literal(""), "\"\"");
  EXPECT_EQ(quote_literal("eng"), "\"eng\"");
  EXPECT_EQ(quote_literal("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quote_literal(std::string("\t\r\n\0", 4)), "\"\\t\\r\\n\\0\"");
  EXPECT_EQ(quote_literal("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
}

TEST(QuoteLiteralTest, KeepsPrintableTextAndEscapesInvisibleCharacters) {
  EXPECT_EQ(quote_literal(" EN "), "\" EN \"");
  EXPECT_EQ(quote_literal("naïve ß 日本"), "\"naïve ß 日本\"");
  // Zero-width space (Cf), no-break space (Zs), line separator (Zl).
  EXPECT_EQ(quote_literal("\u200b\u00a0\u2028"), "\"\\u{200b}\\u{a0}\\u{2028}\"");
  EXPECT_EQ(quote_literal("\xff"), "\"\uFFFD\"");
}

}  // namespace
}  // namespace vellum
