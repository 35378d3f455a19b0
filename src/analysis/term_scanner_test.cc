#include "analysis/term_scanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {
namespace {

std::vector<std::string> runs(std::string_view text, bool fold) {
  TermScanner scanner(fold);
  scanner.reset(text);
  std::vector<std::string> out;
  for (std::string_view run; scanner.next(&run);) out.emplace_back(run);
  return out;
}

using V = std::vector<std::string>;

TEST(TermScanner, AsciiLettersAndDigitsOnly) {
  EXPECT_EQ(runs("e-mail 3.14 naïve", true), (V{"e", "mail", "3", "14", "naïve"}));
  EXPECT_EQ(runs("a_b@c#d$e%f^g&h*i(j)k[l]m{n}o|p\\q/r~s`t'u\"v<w>x=y+z", false).size(), 26u);
  EXPECT_EQ(runs("", true), V{});
  EXPECT_EQ(runs(" ,.;!? \t\r\n-- ", true), V{});
  EXPECT_EQ(runs("x", true), V{"x"});
  EXPECT_EQ(runs("  9  ", true), V{"9"});
}

TEST(TermScanner, FoldOrKeepCase) {
  EXPECT_EQ(runs("Hello, World!", true), (V{"hello", "world"}));
  EXPECT_EQ(runs("Hello, World!", false), (V{"Hello", "World"}));
  EXPECT_EQ(runs("ÀÉÎ ÕÜ", true), (V{"àéî", "õü"}));
  EXPECT_EQ(runs("ÀÉÎ", false), (V{"ÀÉÎ"}));
  EXPECT_EQ(runs("mIxEd", true), V{"mixed"});  // a change after an unchanged prefix
  EXPECT_EQ(runs("abcD éF", true), (V{"abcd", "éf"}));
}

// The whole mapping is appended, with no context rules.
TEST(TermScanner, FullLowercaseMappingPerCharacter) {
  EXPECT_EQ(runs("\u0130stanbul", true), V{"i\u0307stanbul"});
  EXPECT_EQ(runs("ΟΔΟΣ ΣΑΣ", true), (V{"οδοσ", "σασ"}));  // no final sigma
  EXPECT_EQ(runs("STRASSE \u1E9E", true), (V{"strasse", "\u00DF"}));
  EXPECT_EQ(runs("\u01C5", true), V{"\u01C6"});               // titlecase Dž
  EXPECT_EQ(runs("\u216B", true), V{"\u217B"});               // Roman numeral (Nl)
  EXPECT_EQ(runs("\U00010400", true), V{"\U00010428"});       // Deseret, 4 bytes
}

TEST(TermScanner, AlphabeticOrNumberDecidesRuns) {
  EXPECT_EQ(runs("x\u00B2 \u00BD", true), (V{"x\u00B2", "\u00BD"}));  // No
  EXPECT_EQ(runs("\u0661\u0662", true), V{"\u0661\u0662"});           // Nd
  EXPECT_EQ(runs("日本語です", true), V{"日本語です"});
  EXPECT_EQ(runs("a\u0345b", true), V{"a\u0345b"});  // Mn, but Alphabetic
  // A combining diaeresis is neither: decomposed text splits.
  EXPECT_EQ(runs("nai\u0308ve", true), (V{"nai", "ve"}));
  // Separators beyond ASCII: no-break space, ideographic comma, emoji, ZWJ.
  EXPECT_EQ(runs("a\u00A0b\u3001c\U0001F600d\u200De", true), (V{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(runs("a_b", true), (V{"a", "b"}));
  // The Tamil virama (pulli) is neither, so it ends a run.
  EXPECT_EQ(runs("\u0B85\u0BA4\u0BA9\u0BBE\u0BB2\u0BCD", true),
            V{"\u0B85\u0BA4\u0BA9\u0BBE\u0BB2"});
}

TEST(TermScanner, MalformedUtf8EndsRuns) {
  EXPECT_EQ(runs("ab\xFF" "cd", true), (V{"ab", "cd"}));
  EXPECT_EQ(runs("ab\xC3", true), V{"ab"});            // truncated at the end
  EXPECT_EQ(runs("\xC3\xA9\xA9x", true), (V{"é", "x"}));  // stray continuation
  EXPECT_EQ(runs("\xC0\xAF" "a", false), V{"a"});       // overlong
}

TEST(TermScanner, UnchangedRunsAreViewsIntoTheText) {
  const std::string text = "lower Upper";
  TermScanner scanner(true);
  scanner.reset(text);
  std::string_view run;
  ASSERT_TRUE(scanner.next(&run));
  EXPECT_EQ(run.data(), text.data());
  ASSERT_TRUE(scanner.next(&run));
  EXPECT_EQ(run, "upper");
  EXPECT_FALSE(scanner.next(&run));
  EXPECT_FALSE(scanner.next(&run));
  scanner.reset("again");
  ASSERT_TRUE(scanner.next(&run));
  EXPECT_EQ(run, "again");
}

// One code point at a time, with no byte-class shortcuts: what the
// scanner's fast paths must agree with.
std::vector<std::string> plain_runs(std::string_view text, bool fold) {
  std::vector<std::string> out;
  std::string run;
  bool in_run = false;
  for (size_t i = 0; i < text.size();) {
    const char32_t cp = utf8::decode(text, &i);
    if (!unicode::is_alphanumeric(cp)) {
      if (in_run) out.push_back(run);
      run.clear();
      in_run = false;
      continue;
    }
    in_run = true;
    char32_t lower[3] = {cp};
    const size_t k = fold ? unicode::to_lower_full(cp, lower) : 1;
    for (size_t m = 0; m < k; ++m) utf8::append(&run, lower[m]);
  }
  if (in_run) out.push_back(run);
  return out;
}

// Runs and separators of many lengths, mixing ASCII, multi-byte and
// malformed sequences, with run ends at every offset and at the text's end.
TEST(TermScanner, FastPathsAgreeWithOneCodePointAtATime) {
  const std::vector<std::string> pieces = {
      "a", "z", "A", "Z", "0", "9", " ", ",", "'", "-", "@", "[", "`", "{", "/", ":",
      "\x7f", "\xc3\xa9", "\xc3\x89", "\xe2\x80\x99", "\xc2\xa0", "\xff", "\x80",
      "\xc3", "\xc4\xb0", "\xf0\x9f\x98\x80"};
  std::mt19937 rng(21);
  for (int round = 0; round < 4000; ++round) {
    const bool ascii = round % 2 == 0;
    std::string text;
    const size_t len = rng() % 70;
    while (text.size() < len) {
      // Long stretches of one kind, then a change of kind.
      const std::string& p = pieces[rng() % (ascii ? 16 : pieces.size())];
      const size_t repeat = rng() % 4 == 0 ? rng() % 20 : 1;
      for (size_t r = 0; r < repeat; ++r) text += p;
    }
    for (bool fold : {true, false}) {
      ASSERT_EQ(runs(text, fold), plain_runs(text, fold)) << "round " << round << " fold " << fold;
    }
  }
}

}  // namespace
}  // namespace vellum
