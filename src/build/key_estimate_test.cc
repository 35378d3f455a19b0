#include "build/key_estimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "analysis/ngram_keys.h"

namespace vellum {
namespace {

// UTF-8 of a code point from U+4E00 on (three bytes, a hashed gram key).
std::string han(uint32_t n) {
  const uint32_t cp = 0x4E00 + n;
  return {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
          static_cast<char>(0x80 | (cp & 0x3F))};
}

// Documents of `chars` characters drawn from an alphabet of `alphabet`
// with Zipf-like weights, so that some grams are common and most rare.
RecordStaging corpus(size_t docs, size_t chars, uint32_t alphabet, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<double> weights(alphabet);
  for (uint32_t c = 0; c < alphabet; ++c) weights[c] = 1.0 / (c + 1);
  std::discrete_distribution<uint32_t> pick(weights.begin(), weights.end());
  RecordStaging staged;
  std::string text;
  for (size_t d = 0; d < docs; ++d) {
    text.clear();
    for (size_t c = 0; c < chars; ++c) text += han(pick(rng));
    staged.add(static_cast<int64_t>(d), text, "");
  }
  return staged;
}

size_t distinct_keys(const RecordStaging& staged, uint16_t gram_size) {
  NgramKeyer keyer;
  std::vector<uint64_t> all;
  for (size_t i = 0; i < staged.size(); ++i) {
    for (uint64_t k : keyer.grams(staged.text(i), gram_size, true)) all.push_back(k);
  }
  std::sort(all.begin(), all.end());
  return static_cast<size_t>(std::unique(all.begin(), all.end()) - all.begin());
}

// Vocabularies that keep growing, from nearly every gram new to many
// repeats: the estimate lands near the true count.
TEST(KeyEstimate, NearTheDistinctKeysOfAGrowingVocabulary) {
  struct Case {
    size_t docs, chars;
    uint32_t alphabet;
  };
  for (const Case& c : {Case{150000, 8, 20000}, Case{100000, 12, 2000}}) {
    SCOPED_TRACE("alphabet " + std::to_string(c.alphabet));
    const RecordStaging staged = corpus(c.docs, c.chars, c.alphabet, c.alphabet);
    const double want = static_cast<double>(distinct_keys(staged, 3));
    ASSERT_GT(want, 300000);  // past the quick look's threshold
    const double got = static_cast<double>(estimate_distinct_keys(staged, 3));
    EXPECT_GT(got, 0.8 * want) << "true " << want;
    EXPECT_LT(got, 1.3 * want) << "true " << want;
  }
}

// A vocabulary that saturates early (single characters of a small
// alphabet), and a corpus too small to sample: no estimate, so the table
// grows by itself as before.
TEST(KeyEstimate, NoneForSmallVocabulariesOrCorpora) {
  EXPECT_EQ(estimate_distinct_keys(corpus(100000, 8, 5000, 1), 1), 0u);
  EXPECT_EQ(estimate_distinct_keys(corpus(20000, 8, 20000, 2), 3), 0u);
  EXPECT_EQ(estimate_distinct_keys(RecordStaging(), 3), 0u);
}

}  // namespace
}  // namespace vellum
