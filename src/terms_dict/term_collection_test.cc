// The pieces a term builder collects with: the string table, the
// vocabulary's cached analysis and the postings collector.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/term_analyzer.h"
#include "common/sink.h"
#include "terms_dict/term_index_writer.h"
#include "terms_dict/string_table.h"
#include "terms_dict/term_postings_collector.h"
#include "terms_dict/term_vocabulary.h"

namespace vellum {
namespace {

TermAnalyzer analyzer(std::optional<std::string_view> language, std::optional<bool> stem,
                      bool stopwords, bool case_sensitive = false) {
  return std::move(TermAnalyzer::create(language, stem, stopwords, case_sensitive)).value();
}

TEST(StringTableTest, GivesDenseIdsThatSurviveGrowth) {
  StringTable table;
  std::vector<std::string> strings = {"", "a", "ab", "abc", "abcdefgh", "abcdefghi", "b"};
  for (int i = 0; i < 50000; ++i) strings.push_back("w" + std::to_string(i * 7919));
  for (size_t i = 0; i < strings.size(); ++i) {
    bool inserted = false;
    EXPECT_EQ(table.find_or_insert(strings[i], hash_string(strings[i]), &inserted), i);
    EXPECT_TRUE(inserted);
  }
  ASSERT_EQ(table.size(), strings.size());
  for (size_t i = 0; i < strings.size(); ++i) {
    bool inserted = true;
    EXPECT_EQ(table.find_or_insert(strings[i], hash_string(strings[i]), &inserted), i);
    EXPECT_FALSE(inserted);
    EXPECT_EQ(table.at(static_cast<uint32_t>(i)), strings[i]);
  }
  EXPECT_FALSE(table.find("abcd", hash_string("abcd")).has_value());
  EXPECT_EQ(table.find("", hash_string("")), 0u);
  table.clear();
  EXPECT_EQ(table.size(), 0u);
  EXPECT_FALSE(table.find("a", hash_string("a")).has_value());
}

TEST(StringTableTest, TellsApartStringsWhoseTailLoadsOverlap) {
  // Strings of 4 to 7 bytes are hashed from two overlapping 4-byte loads.
  StringTable table;
  bool inserted;
  for (std::string s : {"abcd", "abcdd", "abccd", "abcbcd", "abcdbcd", "aaaa", "aaaaa"}) {
    table.find_or_insert(s, hash_string(s), &inserted);
    EXPECT_TRUE(inserted) << s;
  }
}

// Up to `max_words` words; long texts cross the vocabulary's word batches
// with folded words on both sides of a boundary.
std::string random_text(std::mt19937* rng, int max_words = 12) {
  static const std::vector<std::string> kWords = {
      "The",    "cat",   "and",     "the",      "hat",     "Running", "runs",   "ran",
      "naïve",  "İstanbul", "ΟΔΟΣ", "ειτε",     "ουμε",    "straße",  "e-mail", "3.14",
      "MAISON", "maisons", "et",    "de",       "lesquelles", "über", "Ünter",  "x"};
  static const std::vector<std::string> kSeparators = {" ", ", ", "\n", "—", "!", "  "};
  std::string text;
  const int n = static_cast<int>((*rng)() % max_words);
  for (int i = 0; i < n; ++i) {
    text += kWords[(*rng)() % kWords.size()];
    text += kSeparators[(*rng)() % kSeparators.size()];
  }
  return text;
}

TEST(TermVocabularyTest, CachedAnalysisGivesExactlyTheAnalyzersTerms) {
  struct Setting {
    std::optional<std::string_view> language;
    std::optional<bool> stem;
    bool stopwords;
    bool case_sensitive;
  };
  const Setting settings[] = {
      {std::nullopt, std::nullopt, false, false}, {std::nullopt, std::nullopt, false, true},
      {"en", true, true, false},                  {"en", false, true, true},
      {"fr", std::nullopt, true, false},          {"el", true, false, false},
      {"de", true, true, true},                   {"tr", true, false, false},
  };
  std::mt19937 rng(7);
  for (const Setting& s : settings) {
    TermVocabulary vocab(analyzer(s.language, s.stem, s.stopwords, s.case_sensitive));
    const TermAnalyzer plain = analyzer(s.language, s.stem, s.stopwords, s.case_sensitive);
    for (int doc = 0; doc < 300; ++doc) {
      const std::string text = random_text(&rng, doc % 3 == 0 ? 150 : 12);
      std::vector<uint32_t> ids;
      vocab.analyze(text, &ids);
      std::vector<std::string> terms;
      for (uint32_t id : ids) terms.emplace_back(vocab.term(id));
      ASSERT_EQ(terms, analyze_terms(plain, text)) << text;
    }
  }
}

// The recent-word cache knows a short word by its length and bytes. Words
// that differ in one byte anywhere, at every length around its limits,
// must get their own terms; thousands of words sharing a length and their
// first bytes make them meet in the cache's slots.
TEST(TermVocabularyTest, WordsDifferingInOneByteNeverShareATerm) {
  TermVocabulary vocab(analyzer(std::nullopt, std::nullopt, false));
  std::vector<std::string> words;
  const std::string digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (size_t len = 1; len <= 20; ++len) {
    for (size_t at = 0; at < len; ++at) {
      for (char c : digits) {
        std::string w(len, 'q');
        w[at] = c;
        words.push_back(w);
      }
    }
  }
  for (size_t len : {9, 12, 16, 17}) {
    for (char c : digits) {
      for (char d : digits) {
        std::string w(len, 'q');
        w[len - 2] = c;
        w[len - 1] = d;
        words.push_back(w);
      }
    }
  }
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  std::string text;
  for (int round = 0; round < 2; ++round) {
    for (const std::string& w : words) text += w + " ";
  }
  std::vector<uint32_t> ids;
  vocab.analyze(text, &ids);
  ASSERT_EQ(ids.size(), 2 * words.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    ASSERT_EQ(vocab.term(ids[i]), words[i % words.size()]) << i;
  }
  EXPECT_EQ(vocab.term_count(), words.size());
}

TEST(TermVocabularyTest, WordsWithOneStemShareATermAndEmptyStemsAreTerms) {
  TermVocabulary english(analyzer("en", true, false));
  std::vector<uint32_t> ids;
  english.analyze("runs running runs", &ids);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_EQ(ids[0], ids[2]);
  EXPECT_EQ(english.term(ids[0]), "run");
  EXPECT_EQ(english.term_count(), 1u);

  // The Greek stemmer reduces both words to nothing.
  TermVocabulary greek(analyzer("el", true, false));
  ids.clear();
  greek.analyze("ειτε ΟΥΜΕ", &ids);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_EQ(greek.term(ids[0]), "");
  EXPECT_EQ(greek.find_term(""), ids[0]);
}

TEST(TermVocabularyTest, StopWordsAreDroppedBeforeStemming) {
  TermVocabulary vocab(analyzer("en", true, true));
  std::vector<uint32_t> ids;
  vocab.analyze("The cats and the hats", &ids);
  std::vector<std::string> terms;
  for (uint32_t id : ids) terms.emplace_back(vocab.term(id));
  EXPECT_EQ(terms, (std::vector<std::string>{"cat", "hat"}));
}

TEST(TermPostingsCollectorTest, MatchesASetPerTermForAnyDocOrder) {
  TermVocabulary vocab(analyzer(std::nullopt, std::nullopt, false));
  TermPostingsCollector postings;
  std::map<std::string, std::set<uint32_t>> expected;
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t doc = rng() % 3 == 0 ? rng() : rng() % 200000;
    const std::string text = "t" + std::to_string(rng() % 700) + " u" + std::to_string(rng() % 5);
    vocab.for_each_term(text, [&](uint32_t t) {
      postings.add(t, doc);
      expected[std::string(vocab.term(t))].insert(doc);
    });
  }
  ASSERT_EQ(postings.term_count(), expected.size());
  ASSERT_TRUE(postings.contains(*vocab.find_term("u0")));
  TermPostings taken = postings.take(vocab);
  EXPECT_EQ(postings.term_count(), 0u);
  EXPECT_FALSE(postings.contains(*vocab.find_term("u0")));
  ASSERT_EQ(taken.size(), expected.size());
  auto it = expected.begin();
  for (const TermPosting& p : taken) {
    EXPECT_EQ(p.term, it->first);
    EXPECT_EQ(p.ids.to_vector(), std::vector<uint32_t>(it->second.begin(), it->second.end()));
    ++it;
  }
}

TEST(TermPostingsCollectorTest, RestorePutsBackWhatTakeHandedOver) {
  TermVocabulary vocab(analyzer(std::nullopt, std::nullopt, false));
  TermPostingsCollector postings;
  auto add = [&](uint32_t doc, std::string_view text) {
    vocab.for_each_term(text, [&](uint32_t t) { postings.add(t, doc); });
  };
  add(4, "beta alpha");
  add(9, "alpha");
  TermPostings taken = postings.take(vocab);
  add(1, "gamma alpha");  // added while the first sets are out
  postings.restore(std::move(taken), vocab);
  add(9, "beta");
  TermPostings again = postings.take(vocab);
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[0].term, "alpha");
  EXPECT_EQ(again[0].ids.to_vector(), (std::vector<uint32_t>{1, 4, 9}));
  EXPECT_EQ(again[1].term, "beta");
  EXPECT_EQ(again[1].ids.to_vector(), (std::vector<uint32_t>{4, 9}));
  EXPECT_EQ(again[2].term, "gamma");
  EXPECT_EQ(again[2].ids.to_vector(), (std::vector<uint32_t>{1}));
}

// Repeats are skipped by comparing with the doc last logged for the term;
// a doc that comes back after another, or the extreme ids, must still land.
TEST(TermPostingsCollectorTest, RepeatedTermsAndReturningDocsKeepEveryId) {
  TermVocabulary vocab(analyzer(std::nullopt, std::nullopt, false));
  TermPostingsCollector postings;
  auto add = [&](uint32_t doc, std::string_view text) {
    vocab.for_each_term(text, [&](uint32_t t) { postings.add(t, doc); });
  };
  add(0, "x x y x");
  add(UINT32_MAX, "x y y");
  add(0, "x");  // back to a doc seen before another
  add(7, "y");
  TermPostings taken = postings.take(vocab);
  add(3, "x");  // collected while the sets are out
  postings.restore(std::move(taken), vocab);
  add(3, "y");     // y restored with last doc unknown to it
  add(0, "y");     // the smallest restored id, logged again
  add(UINT32_MAX, "x x");
  TermPostings again = postings.take(vocab);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0].ids.to_vector(), (std::vector<uint32_t>{0, 3, UINT32_MAX}));
  EXPECT_EQ(again[1].ids.to_vector(), (std::vector<uint32_t>{0, 3, 7, UINT32_MAX}));
}

TEST(TermPostingsCollectorTest, CollectorsShareOneVocabulary) {
  TermVocabulary vocab(analyzer("en", true, false));
  TermPostingsCollector first, second;
  vocab.for_each_term("running dogs", [&](uint32_t t) { first.add(t, 0); });
  vocab.for_each_term("runs", [&](uint32_t t) { second.add(t, 0); });
  EXPECT_EQ(first.term_count(), 2u);
  EXPECT_EQ(second.term_count(), 1u);
  EXPECT_TRUE(first.contains(*vocab.find_term("run")));
  EXPECT_FALSE(second.contains(*vocab.find_term("dog")));
  TermPostings s = second.take(vocab);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].term, "run");
}

// Sets small enough to stay inline and sets that outgrew them, fed in any
// order with repeats, must encode as the bitmaps of take() do; encoding
// keeps the sets, so collecting can go on.
TEST(TermPostingsCollectorTest, EncodeGivesTheBytesOfTheTakenSetsAndKeepsThem) {
  TermVocabulary vocab(analyzer(std::nullopt, std::nullopt, false));
  TermPostingsCollector postings, twin;
  std::mt19937 rng(3);
  auto add_random = [&](int docs) {
    for (int i = 0; i < docs; ++i) {
      const uint32_t doc = rng() % 4 == 0 ? rng() : rng() % 140000;
      // Low word numbers are frequent and high ones rare, so the sets
      // range from one id to well past the inline limit.
      std::string text;
      for (int w = 0; w < 3; ++w) text += "w" + std::to_string(rng() % (1 + rng() % 400)) + " ";
      vocab.for_each_term(text, [&](uint32_t t) {
        postings.add(t, doc);
        twin.add(t, doc);
      });
    }
  };
  auto encoded = [&](TermPostingsCollector* c, uint32_t boundary) {
    TermIndexOptions options;
    options.head_boundary = boundary;
    std::string out;
    StringSink sink(&out);
    EXPECT_TRUE(c->encode(vocab, options, &sink).ok());
    return out;
  };
  auto taken = [&](uint32_t boundary) {
    TermIndexOptions options;
    options.head_boundary = boundary;
    std::string out;
    StringSink sink(&out);
    TermPostings sets = twin.take(vocab);
    EXPECT_TRUE(encode_term_index_retaining(sets, options, &sink).ok());
    twin.restore(std::move(sets), vocab);
    return out;
  };
  add_random(3000);
  for (uint32_t boundary : {0u, 65536u, 70001u}) {
    const std::string first = encoded(&postings, boundary);
    EXPECT_EQ(first, taken(boundary));
    EXPECT_EQ(encoded(&postings, boundary), first);
  }
  add_random(500);  // onto sets that were encoded, and restored ones
  EXPECT_EQ(encoded(&postings, 65536), taken(65536));
}

// Sets grow through inline ids, pool blocks and a bitmap; ids arriving
// descending, shuffled or repeated must land at every size on the way.
TEST(TermPostingsCollectorTest, SetsKeepEveryIdAcrossEachGrowthStep) {
  TermVocabulary vocab(analyzer(std::nullopt, std::nullopt, false));
  const uint32_t sizes[] = {1, 4, 5, 8, 9, 16, 17, 63, 64, 65, 300};
  std::mt19937 rng(8);
  for (int order = 0; order < 3; ++order) {
    TermPostingsCollector postings;
    std::map<std::string, std::vector<uint32_t>> expected;
    for (uint32_t n : sizes) {
      const std::string word = "s" + std::to_string(n);
      std::vector<uint32_t> docs;
      for (uint32_t k = 0; k < n; ++k) docs.push_back(k * 7919 + (k % 3) * 65536);
      std::vector<uint32_t> sorted = docs;
      std::sort(sorted.begin(), sorted.end());
      expected[word] = sorted;
      if (order == 0) std::reverse(docs.begin(), docs.end());
      if (order == 1) std::shuffle(docs.begin(), docs.end(), rng);
      if (order == 2) docs.insert(docs.end(), sorted.rbegin(), sorted.rend());  // all again
      const uint32_t term = [&] {
        uint32_t t = 0;
        vocab.for_each_term(word, [&](uint32_t id) { t = id; });
        return t;
      }();
      for (size_t k = 0; k < docs.size(); ++k) {
        postings.add(term, docs[k]);
        if (k % 5 == 0) postings.add(term, docs[k / 2]);  // a doc seen before
      }
    }
    TermPostings taken = postings.take(vocab);
    ASSERT_EQ(taken.size(), expected.size());
    for (const TermPosting& p : taken) EXPECT_EQ(p.ids.to_vector(), expected[p.term]) << p.term;
  }
}

}  // namespace
}  // namespace vellum
