// Test-only corpora: random short texts over a small alphabet (so that
// n-grams repeat across documents), optional random facets, and a helper
// that builds them into a dataset directory with the real Builder.
#ifndef VELLUM_TESTING_RANDOM_CORPUS_H_
#define VELLUM_TESTING_RANDOM_CORPUS_H_

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "build/builder.h"

namespace vellum::testing {

inline std::string random_text(std::mt19937* rng, size_t words) {
  static const char* kWords[] = {"alpha", "beta", "Gamma", "delta", "eps", "zeta", "eta",
                                 "theta", "iota", "kappa", "lambda", "mu", "café", "Ωmega"};
  std::string out;
  for (size_t i = 0; i < words; ++i) {
    if (i > 0) out += ' ';
    out += kWords[(*rng)() % (sizeof(kWords) / sizeof(kWords[0]))];
  }
  return out;
}

inline std::vector<StagedRecord> random_records(uint32_t seed, size_t n, bool facets) {
  std::mt19937 rng(seed);
  std::vector<StagedRecord> out;
  for (size_t i = 0; i < n; ++i) {
    StagedRecord r;
    r.rank = static_cast<int64_t>(rng() % 50);
    r.text = random_text(&rng, 1 + rng() % 6);
    r.record = "rec" + std::to_string(i) + std::string(rng() % 4, 'x');
    if (facets && rng() % 3 != 0) {
      r.facets.push_back({"lang", {rng() % 2 ? "en" : "de"}});
      if (rng() % 2) r.facets.push_back({"Year", {std::to_string(2000 + rng() % 5), "all"}});
    }
    out.push_back(std::move(r));
  }
  return out;
}

// Builds `records` into `dir` and returns them in document-id order.
inline std::vector<StagedRecord> build_dataset(const std::string& dir, std::vector<StagedRecord> records,
                                               uint16_t gram_size = 3) {
  Result<Builder> b = Builder::create(gram_size, 65536);
  if (!b.ok()) throw std::runtime_error(b.error().describe());
  std::vector<size_t> order(records.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t x, size_t y) { return records[x].rank > records[y].rank; });
  std::vector<StagedRecord> by_id;
  for (size_t i : order) by_id.push_back(records[i]);
  b->add_many(std::move(records));
  Result<BuildStats> s = b->build(dir);
  if (!s.ok()) throw std::runtime_error(s.error().describe());
  return by_id;
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_RANDOM_CORPUS_H_
