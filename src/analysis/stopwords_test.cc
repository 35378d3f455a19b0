#include "analysis/stopwords.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <thread>
#include <vector>

#include "analysis/stopword_data.h"

namespace vellum {
namespace {

constexpr std::array<size_t, kStemLanguageCount> kExpectedCounts = {
    31, 313, 701, 94, 101, 229, 157, 232, 265, 198, 279, 172, 207, 356, 151, 114, 125, 53};

TEST(StopwordLists, CountsAreExactAndTotal3778) {
  size_t total = 0;
  for (size_t i = 0; i < kStemLanguageCount; ++i) {
    const auto lang = static_cast<StemLanguage>(i);
    EXPECT_EQ(stopword_list(lang).size(), kExpectedCounts[i]) << language_name(lang);
    total += stopword_list(lang).size();
  }
  EXPECT_EQ(total, 3778u);
}

// Binary search is only right over strictly ascending raw bytes; signed
// char comparison would misorder every non-ASCII entry.
TEST(StopwordLists, StrictlyAscendingByUnsignedBytes) {
  for (size_t i = 0; i < kStemLanguageCount; ++i) {
    const auto list = stopword_list(static_cast<StemLanguage>(i));
    for (size_t k = 1; k < list.size(); ++k) {
      const std::string_view a = list[k - 1], b = list[k];
      const size_t n = std::min(a.size(), b.size());
      size_t d = 0;
      while (d < n && a[d] == b[d]) ++d;
      const bool less = d == n ? a.size() < b.size()
                               : static_cast<uint8_t>(a[d]) < static_cast<uint8_t>(b[d]);
      EXPECT_TRUE(less) << language_name(static_cast<StemLanguage>(i)) << ": " << a << " / " << b;
    }
  }
}

TEST(StopwordLists, StoredAsCrLfLinesAndEntriesPointIntoThatText) {
  for (size_t i = 0; i < kStemLanguageCount; ++i) {
    const std::string_view text = kStopwordText[i];
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (std::string_view e : stopword_list(static_cast<StemLanguage>(i))) {
      EXPECT_FALSE(e.empty());
      EXPECT_EQ(e.find_first_of("\r\n"), std::string_view::npos) << e;
      EXPECT_GE(e.data(), text.data());
      EXPECT_LE(e.data() + e.size(), text.data() + text.size());
    }
  }
}

TEST(StopwordLists, FirstAndLastEntriesAndPunctuatedOnes) {
  const auto en = stopword_list(StemLanguage::kEnglish);
  EXPECT_EQ(en.front(), "a");
  EXPECT_EQ(en.back(), "with");
  EXPECT_EQ(stopword_list(StemLanguage::kTurkish).back(), "şu");
  EXPECT_EQ(stopword_list(StemLanguage::kArabic).front(), "ء");
  // Entries holding a space, apostrophe, hyphen, full stop or circumflex
  // survive the data path whole.
  EXPECT_TRUE(is_stopword("أفعل به", StemLanguage::kArabic));
  EXPECT_TRUE(is_stopword("δ'", StemLanguage::kGreek));
  EXPECT_TRUE(is_stopword("δ’", StemLanguage::kGreek));
  EXPECT_TRUE(is_stopword("γα^", StemLanguage::kGreek));
  EXPECT_TRUE(is_stopword("ill.", StemLanguage::kHungarian));
  EXPECT_TRUE(is_stopword("ill", StemLanguage::kHungarian));
  EXPECT_TRUE(is_stopword("dintr-", StemLanguage::kRomanian));
  EXPECT_TRUE(is_stopword("sa-mi", StemLanguage::kRomanian));
}

TEST(IsStopword, ExactCaseSensitiveWholeTerm) {
  EXPECT_TRUE(is_stopword("the", StemLanguage::kEnglish));
  EXPECT_FALSE(is_stopword("The", StemLanguage::kEnglish));
  EXPECT_FALSE(is_stopword("th", StemLanguage::kEnglish));
  EXPECT_FALSE(is_stopword("them", StemLanguage::kEnglish));
  EXPECT_FALSE(is_stopword("", StemLanguage::kEnglish));
  EXPECT_FALSE(is_stopword("the", StemLanguage::kFrench));
  EXPECT_TRUE(is_stopword("daß", StemLanguage::kGerman));
  EXPECT_TRUE(is_stopword("über", StemLanguage::kGerman));
  EXPECT_TRUE(is_stopword("я", StemLanguage::kRussian));
}

TEST(IsStopword, RomanianCedillaNotCommaBelow) {
  EXPECT_TRUE(is_stopword("\u015Fi", StemLanguage::kRomanian));    // şi
  EXPECT_FALSE(is_stopword("\u0219i", StemLanguage::kRomanian));   // și
  EXPECT_TRUE(is_stopword("\u0163i", StemLanguage::kRomanian));    // ţi
  EXPECT_FALSE(is_stopword("\u021Bi", StemLanguage::kRomanian));   // ți
}

TEST(StopwordLists, ConcurrentFirstUseSplitsOnce) {
  std::vector<const std::string_view*> seen(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&seen, t] {
      seen[t] = stopword_list(StemLanguage::kPortuguese).data();
      EXPECT_TRUE(is_stopword("você", StemLanguage::kPortuguese));
    });
  }
  for (auto& th : threads) th.join();
  for (const auto* p : seen) EXPECT_EQ(p, seen[0]);
}

}  // namespace
}  // namespace vellum
