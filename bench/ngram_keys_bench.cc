// Throughput of n-gram key generation over real English text: the license
// texts that Debian ships, repeated to a few MB.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/license_texts.h"
#include "analysis/ngram_keys.h"

namespace {

using vellum::bench::corpus;
using vellum::bench::documents;
using vellum::bench::have_corpus;

void BM_NgramKeys3_Paragraphs(benchmark::State& state) {
  if (!have_corpus(state)) return;
  vellum::NgramKeyer keyer;
  size_t keys = 0;
  for (auto _ : state) {
    for (std::string_view doc : documents()) {
      keys += keyer.keys(doc, 3, true).size();
    }
  }
  benchmark::DoNotOptimize(keys);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus().size()));
  state.counters["docs"] = static_cast<double>(documents().size());
}
BENCHMARK(BM_NgramKeys3_Paragraphs)->Unit(benchmark::kMillisecond);

void BM_NgramKeys3_WholeText(benchmark::State& state) {
  if (!have_corpus(state)) return;
  vellum::NgramKeyer keyer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(keyer.keys(corpus(), 3, true).data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus().size()));
}
BENCHMARK(BM_NgramKeys3_WholeText)->Unit(benchmark::kMillisecond);

std::string_view first_kilobyte() {
  std::string_view s = corpus();
  size_t cut = std::min<size_t>(s.size(), 1024);
  while (cut < s.size() && s[cut] != ' ' && s[cut] != '\n') ++cut;
  return s.substr(0, cut);
}

// One-shot ngram_keys (a fresh keyer per call, as tokenize does) ...
void BM_NgramKeysOneShot_1KB(benchmark::State& state) {
  if (!have_corpus(state)) return;
  std::string_view text = first_kilobyte();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellum::ngram_keys(text, 3, true).data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NgramKeysOneShot_1KB);

// ... against a warmed-up keyer on the same text: the difference is the
// set-up cost of the one-shot form.
void BM_NgramKeyerReused_1KB(benchmark::State& state) {
  if (!have_corpus(state)) return;
  std::string_view text = first_kilobyte();
  vellum::NgramKeyer keyer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(keyer.keys(text, 3, true).data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NgramKeyerReused_1KB);

}  // namespace
