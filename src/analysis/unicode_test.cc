#include "analysis/unicode.h"

#include <gtest/gtest.h>

#include <set>

#include "analysis/unicode_tables.h"

namespace vellum::unicode {
namespace {

using GC = GeneralCategory;

TEST(UnicodeCategory, OneCodePointPerCategory) {
  const struct {
    char32_t cp;
    GC gc;
  } cases[] = {
      {'A', GC::kLu},       {'z', GC::kLl},       {0x01C5, GC::kLt},   {0x02B0, GC::kLm},
      {0x05D0, GC::kLo},    {0x0301, GC::kMn},    {0x0903, GC::kMc},   {0x20DD, GC::kMe},
      {'5', GC::kNd},       {0x0660, GC::kNd},    {0x2160, GC::kNl},   {0x00B2, GC::kNo},
      {'_', GC::kPc},       {'-', GC::kPd},       {'(', GC::kPs},      {')', GC::kPe},
      {0x00AB, GC::kPi},    {0x00BB, GC::kPf},    {'!', GC::kPo},      {'+', GC::kSm},
      {'$', GC::kSc},       {'^', GC::kSk},       {0x00A9, GC::kSo},   {' ', GC::kZs},
      {0x2028, GC::kZl},    {0x2029, GC::kZp},    {0x0000, GC::kCc},   {0x0085, GC::kCc},
      {0x00AD, GC::kCf},    {0x200B, GC::kCf},    {0xD800, GC::kCs},   {0xDFFF, GC::kCs},
      {0xE000, GC::kCo},    {0xF0000, GC::kCo},   {0x10FFFD, GC::kCo}, {0x0378, GC::kCn},
      {0xFFFF, GC::kCn},    {0x10FFFF, GC::kCn},  {0x110000, GC::kCn}, {0xFFFFFFFF, GC::kCn},
      {0x4E00, GC::kLo},    {0x2EBF0, GC::kLo},   {0x31350, GC::kLo},  {0x1F600, GC::kSo},
      {0x1C89, GC::kLu},    {0x1C8A, GC::kLl},    {0xA7DC, GC::kLu},   {0x1E5D0, GC::kLo},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(general_category(c.cp), c.gc) << std::hex << static_cast<uint32_t>(c.cp);
  }
}

TEST(UnicodeCategory, LetterOrDigitIsExactlyLettersAndNd) {
  EXPECT_TRUE(is_letter_or_digit('a'));
  EXPECT_TRUE(is_letter_or_digit(0x0660));
  EXPECT_TRUE(is_letter_or_digit(0x02B0));
  EXPECT_FALSE(is_letter_or_digit(0x2160));  // Nl
  EXPECT_FALSE(is_letter_or_digit(0x00B2));  // No
  EXPECT_FALSE(is_letter_or_digit(0x0301));
  EXPECT_FALSE(is_letter_or_digit(0xE000));
  EXPECT_FALSE(is_letter_or_digit(0x110000));
}

TEST(UnicodeProperties, WhiteSpaceIsExactlyTheListedSet) {
  const std::set<char32_t> ws = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                 0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t cp = 0; cp <= 0x110000; ++cp) {
    ASSERT_EQ(is_white_space(cp), ws.count(cp) == 1) << std::hex << static_cast<uint32_t>(cp);
  }
}

TEST(UnicodeProperties, KeyCharAgreesWithTheSeparateLookups) {
  for (char32_t cp = 0; cp <= 0x110002; ++cp) {
    const char32_t want = is_white_space(cp)       ? kSplitChar
                          : !is_letter_or_digit(cp) ? kDropChar
                                                    : cp;
    ASSERT_EQ(key_char(cp, false), want) << std::hex << static_cast<uint32_t>(cp);
    ASSERT_EQ(key_char(cp, true), want == cp ? to_lower_first(cp) : want)
        << std::hex << static_cast<uint32_t>(cp);
  }
}

TEST(UnicodeProperties, CasedAlphabeticCaseIgnorable) {
  // U+0345 is a lowercase (so cased, alphabetic) nonspacing mark (so ignorable).
  EXPECT_TRUE(is_cased(0x0345));
  EXPECT_TRUE(is_alphabetic(0x0345));
  EXPECT_TRUE(is_case_ignorable(0x0345));
  EXPECT_TRUE(is_cased(0x02B0));  // modifier letter: cased and ignorable
  EXPECT_TRUE(is_case_ignorable(0x02B0));
  EXPECT_TRUE(is_cased('A'));
  EXPECT_FALSE(is_case_ignorable('A'));
  EXPECT_TRUE(is_case_ignorable('\''));  // word-break MidNumLet
  EXPECT_TRUE(is_case_ignorable('.'));
  EXPECT_TRUE(is_case_ignorable(0x00AD));
  EXPECT_FALSE(is_case_ignorable('1'));
  EXPECT_FALSE(is_cased('1'));
  EXPECT_FALSE(is_alphabetic('1'));
  EXPECT_TRUE(is_alphabetic(0x2160));  // Nl is alphabetic and cased
  EXPECT_TRUE(is_cased(0x2160));
  EXPECT_TRUE(is_alphabetic(0x4E00));
  EXPECT_FALSE(is_cased(0x4E00));
  EXPECT_FALSE(is_alphabetic(0x110000));
}

TEST(UnicodeLowercase, SimpleAndFullMappings) {
  const struct {
    char32_t from, to;
  } simple[] = {
      {'A', 'a'},        {'a', 'a'},         {'1', '1'},         {0x00C0, 0x00E0},
      {0x00DF, 0x00DF},  {0x0178, 0x00FF},   {0x03A3, 0x03C3},   {0x1E9E, 0x00DF},
      {0x2126, 0x03C9},  {0x212A, 'k'},      {0x212B, 0x00E5},   {0x10400, 0x10428},
      {0x1F88, 0x1F80},  {0xFB00, 0xFB00},   {0x2C7E, 0x023F},   {0xA7AE, 0x026A},
      {0x1C89, 0x1C8A},  {0xA7DC, 0x019B},   {0x110000, 0x110000}, {0x0130, 'i'},
  };
  for (const auto& c : simple) {
    EXPECT_EQ(to_lower_first(c.from), c.to) << std::hex << static_cast<uint32_t>(c.from);
    char32_t out[3];
    if (c.from != 0x0130) {
      ASSERT_EQ(to_lower_full(c.from, out), 1u);
      EXPECT_EQ(out[0], c.to);
    }
  }
  char32_t out[3];
  ASSERT_EQ(to_lower_full(0x0130, out), 2u);
  EXPECT_EQ(out[0], U'i');
  EXPECT_EQ(out[1], char32_t{0x0307});
}

TEST(UnicodeTables, Latin1ShortcutAgreesWithTrie) {
  namespace t = tables;
  constexpr unsigned kMidBits = t::kTopShift - t::kLeafShift;
  for (char32_t cp = 0; cp < 0x100; ++cp) {
    unsigned region = t::kTop[cp >> t::kTopShift];
    unsigned leaf = t::kMid[(region << kMidBits) | ((cp >> t::kLeafShift) & ((1u << kMidBits) - 1))];
    unsigned rec = t::kLeaf[(leaf << t::kLeafShift) | (cp & ((1u << t::kLeafShift) - 1))];
    EXPECT_EQ(rec, t::kLatin1[cp]) << std::hex << static_cast<uint32_t>(cp);
  }
}

TEST(UnicodeTables, MultiCodePointMappingsAreFlaggedExactly) {
  size_t multi = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    char32_t out[3];
    size_t n = to_lower_full(cp, out);
    ASSERT_GE(n, 1u);
    ASSERT_LE(n, 3u);
    EXPECT_EQ(out[0], to_lower_first(cp));
    if (n > 1) ++multi;
  }
  EXPECT_EQ(multi, tables::kLowerMultiCount);
}

}  // namespace
}  // namespace vellum::unicode
