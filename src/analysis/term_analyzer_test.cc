#include "analysis/term_analyzer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis/stopwords.h"

namespace vellum {
namespace {

using V = std::vector<std::string>;

TermAnalyzer make(std::optional<std::string_view> language, std::optional<bool> stem,
                  bool stopwords, bool case_sensitive = false) {
  Result<TermAnalyzer> a = TermAnalyzer::create(language, stem, stopwords, case_sensitive);
  EXPECT_TRUE(a.ok()) << a.error().message();
  return std::move(a).value();
}

std::string create_error(std::optional<std::string_view> language, std::optional<bool> stem,
                         bool stopwords) {
  Result<TermAnalyzer> a = TermAnalyzer::create(language, stem, stopwords, false);
  if (a.ok()) return "accepted";
  EXPECT_EQ(a.error().kind(), ErrorKind::kInvalidArgument);
  return a.error().message();
}

TEST(TermAnalyzerCreate, WithoutLanguage) {
  const std::string need = std::string(kNoLanguageMessage);
  EXPECT_EQ(create_error(std::nullopt, true, false), need);
  EXPECT_EQ(create_error(std::nullopt, std::nullopt, true), need);
  EXPECT_EQ(create_error(std::nullopt, false, true), need);
  const TermAnalyzer a = make(std::nullopt, std::nullopt, false);
  EXPECT_FALSE(a.stem());
  EXPECT_FALSE(a.stopwords());
  EXPECT_TRUE(a.fold());
  EXPECT_EQ(a.language(), std::nullopt);
  EXPECT_EQ(analyze_terms(a, "Running Dogs"), (V{"running", "dogs"}));
}

TEST(TermAnalyzerCreate, UnknownLanguageQuotesTheValueAsGiven) {
  const std::string tail =
      "; use a Snowball name or ISO-639-1 code (e.g. \"english\"/\"en\", \"french\"/\"fr\")";
  EXPECT_EQ(create_error("eng", false, false), "unknown stemmer language \"eng\"" + tail);
  // Reported whatever the flags, and not trimmed or lower-cased.
  EXPECT_EQ(create_error(" Klingon\t", std::nullopt, true),
            "unknown stemmer language \" Klingon\\t\"" + tail);
  EXPECT_EQ(create_error("", true, false), "unknown stemmer language \"\"" + tail);
  EXPECT_EQ(create_error("a\"b\\\n\u200B", false, false),
            "unknown stemmer language \"a\\\"b\\\\\\n\\u{200b}\"" + tail);
}

TEST(TermAnalyzerCreate, LanguageDefaultsAndRecordedLanguage) {
  const TermAnalyzer fr = make("fr", std::nullopt, false);
  EXPECT_TRUE(fr.stem());  // stem defaults to true with a language
  EXPECT_FALSE(fr.stopwords());
  EXPECT_EQ(fr.recorded_language(), StemLanguage::kFrench);
  EXPECT_EQ(analyze_terms(fr, "le chevaux"), (V{"le", "cheval"}));

  const TermAnalyzer inert = make(" EN ", false, false);
  EXPECT_EQ(inert.language(), StemLanguage::kEnglish);
  EXPECT_EQ(inert.recorded_language(), std::nullopt);
  EXPECT_EQ(analyze_terms(inert, "The running"), (V{"the", "running"}));

  const TermAnalyzer stops = make("English", false, true, true);
  EXPECT_FALSE(stops.fold());
  EXPECT_EQ(stops.recorded_language(), StemLanguage::kEnglish);
}

TEST(AnalyzeTerms, StopWordsBeforeStemmingOnTheFoldedRun) {
  EXPECT_EQ(analyze_terms(make("en", false, true), "The cat and the hat"), (V{"cat", "hat"}));
  // Case-sensitive: the capitalised The is not in the lower-case list.
  EXPECT_EQ(analyze_terms(make("en", false, true, true), "The cat and the hat"),
            (V{"The", "cat", "hat"}));
  // "having" is no stop word, though its stem "have" is.
  EXPECT_EQ(analyze_terms(make("en", true, true), "Having THE running cats"),
            (V{"have", "run", "cat"}));
  EXPECT_EQ(analyze_terms(make("en", true, false), "the cats"), (V{"the", "cat"}));
}

TEST(AnalyzeTerms, RepeatsAndOrderKept) {
  EXPECT_EQ(analyze_terms(make(std::nullopt, std::nullopt, false), "b a b A"),
            (V{"b", "a", "b", "a"}));
  EXPECT_EQ(analyze_terms(make(std::nullopt, std::nullopt, false), ""), V{});
  EXPECT_EQ(analyze_terms(make("de", true, true), "... !!"), V{});
}

// Entries with a space (or other punctuation) are never a run, so the
// words around the space are judged alone.
TEST(AnalyzeTerms, PunctuatedStopWordsNeverMatch) {
  const TermAnalyzer ar = make("ar", false, true);
  ASSERT_TRUE(is_stopword("لا سيما", StemLanguage::kArabic));
  ASSERT_FALSE(is_stopword("سيما", StemLanguage::kArabic));
  EXPECT_EQ(analyze_terms(ar, "لا سيما"), V{"سيما"});  // لا is an entry by itself
  EXPECT_EQ(analyze_terms(make("hu", false, true), "ill. x"), V{"x"});  // "ill" is an entry
  EXPECT_EQ(analyze_terms(make("ro", false, true), "printr- x"), (V{"printr", "x"}));
}

TEST(AnalyzeTerms, RomanianCommaBelowIsNotRemoved) {
  const TermAnalyzer ro = make("ro", false, true);
  EXPECT_EQ(analyze_terms(ro, "\u015Fi \u0219i \u0163i \u021Bi"), (V{"\u0219i", "\u021Bi"}));
}

TEST(AnalyzeTerms, FoldingFeedsTheStemmer) {
  // The folded İ is i + U+0307, kept inside the run although U+0307 in
  // the text itself would end it.
  EXPECT_EQ(analyze_terms(make("tr", true, false), "KİTAPLAR"), V{"ki\u0307tap"});
  EXPECT_EQ(analyze_terms(make("tr", true, false), "ki\u0307taplar"), (V{"ki", "tap"}));
  EXPECT_EQ(analyze_terms(make("ru", true, false), "Книги"), V{"книг"});
  EXPECT_EQ(analyze_terms(make("de", true, false, true), "Häuser häuser"),
            (V{"Haus", "haus"}));
}

// Snowball can reduce a word to nothing; the term is then empty. Term
// writers must accept (or deliberately handle) the empty term.
TEST(AnalyzeTerms, StemCanBeEmpty) {
  EXPECT_EQ(analyze_terms(make("el", true, false), "άέί"), V{""});
}

TEST(AnalyzeTerms, OneAnalyzerSharedByThreads) {
  const TermAnalyzer en = make("en", true, true);
  const V expected = analyze_terms(en, "connections connected connecting the runners");
  std::vector<std::thread> threads;
  std::vector<bool> same(4, false);
  for (size_t t = 0; t < same.size(); ++t) {
    threads.emplace_back([&, t] {
      bool ok = true;
      for (int i = 0; i < 2000; ++i) {
        ok = ok && analyze_terms(en, "connections connected connecting the runners") == expected;
      }
      same[t] = ok;
    });
  }
  for (auto& th : threads) th.join();
  for (bool ok : same) EXPECT_TRUE(ok);
  EXPECT_EQ(expected, (V{"connect", "connect", "connect", "runner"}));
}

TEST(Stemmer, EveryLanguageHasItsAlgorithm) {
  for (size_t i = 0; i < kStemLanguageCount; ++i) {
    Result<Stemmer> s = Stemmer::create(static_cast<StemLanguage>(i));
    ASSERT_TRUE(s.ok()) << s.error().message();
    EXPECT_FALSE(s->stem("a").empty());
  }
  EXPECT_EQ(Stemmer::create(StemLanguage::kSpanish)->stem("corriendo"), "corr");
}

}  // namespace
}  // namespace vellum
