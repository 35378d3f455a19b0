#include "analysis/stem_language.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum {
namespace {

TEST(StemLanguage, NamesCodesAndHeaderCodesInIndexOrder) {
  const struct {
    const char* name;
    const char* iso;
  } table[] = {
      {"english", "en"},    {"spanish", "es"},  {"arabic", "ar"},    {"danish", "da"},
      {"dutch", "nl"},      {"finnish", "fi"},  {"french", "fr"},    {"german", "de"},
      {"greek", "el"},      {"hungarian", "hu"}, {"italian", "it"},  {"norwegian", "no"},
      {"portuguese", "pt"}, {"romanian", "ro"}, {"russian", "ru"},   {"swedish", "sv"},
      {"tamil", "ta"},      {"turkish", "tr"},
  };
  static_assert(std::size(table) == kStemLanguageCount);
  for (size_t i = 0; i < kStemLanguageCount; ++i) {
    const auto lang = static_cast<StemLanguage>(i);
    EXPECT_EQ(language_name(lang), table[i].name);
    EXPECT_EQ(language_iso_code(lang), table[i].iso);
    EXPECT_EQ(language_code(lang), i + 1);
    EXPECT_EQ(parse_language(table[i].name), lang);
    EXPECT_EQ(parse_language(table[i].iso), lang);
  }
}

TEST(ParseLanguage, TrimsUnicodeWhiteSpaceAndFoldsAsciiOnly) {
  EXPECT_EQ(parse_language(" EN "), StemLanguage::kEnglish);
  EXPECT_EQ(parse_language("English"), StemLanguage::kEnglish);
  EXPECT_EQ(parse_language("\t\r\nfR\v\f"), StemLanguage::kFrench);
  // NO-BREAK SPACE, EM SPACE, NEXT LINE, IDEOGRAPHIC SPACE are White_Space.
  EXPECT_EQ(parse_language("\u00A0\u2003de\u0085\u3000"), StemLanguage::kGerman);
  // ZERO WIDTH SPACE is not White_Space.
  EXPECT_EQ(parse_language("\u200Bde"), std::nullopt);
  // Only A-Z are lower-cased: the Kelvin sign and dotted capital I stay.
  EXPECT_EQ(parse_language("\u0130t"), std::nullopt);
  EXPECT_EQ(parse_language("dutc\u212A"), std::nullopt);
}

TEST(ParseLanguage, RejectsEverythingElse) {
  for (const std::string& bad : std::vector<std::string>{"", "   ", "eng", "e", "englis", "englishh", "en-us", "e n", "porter",
        "hindi", std::string("en\0", 3), "\xFF" "en", "nb"}) {
    EXPECT_EQ(parse_language(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace vellum
