// Throughput of n-gram key generation over real English text: the license
// texts that Debian ships, repeated to a few MB.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
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

// grams(), as Builder::build calls it once per document.
void BM_NgramGrams3_Paragraphs(benchmark::State& state) {
  if (!have_corpus(state)) return;
  vellum::NgramKeyer keyer;
  size_t grams = 0;
  for (auto _ : state) {
    for (std::string_view doc : documents()) grams += keyer.grams(doc, 3, true).size();
  }
  benchmark::DoNotOptimize(grams);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus().size()));
}
BENCHMARK(BM_NgramGrams3_Paragraphs)->Unit(benchmark::kMillisecond);

// The texts of a builder_bench.py corpus file (a stem, a tab and a text
// per line) named by VELLUM_NGRAM_TSV, up to 64 MB: the English and the
// multilingual benchmark corpora, document by document.
const std::vector<std::string>& tsv_documents() {
  static const std::vector<std::string> docs = [] {
    std::vector<std::string> out;
    const char* path = std::getenv("VELLUM_NGRAM_TSV");
    if (path == nullptr) return out;
    std::ifstream in(path);
    std::string line;
    size_t bytes = 0;
    while (bytes < (size_t{64} << 20) && std::getline(in, line)) {
      out.push_back(line.substr(line.find('\t') + 1));
      bytes += out.back().size();
    }
    return out;
  }();
  return docs;
}

void BM_NgramGrams3_Tsv(benchmark::State& state) {
  const std::vector<std::string>& docs = tsv_documents();
  if (docs.empty()) {
    state.SkipWithError("set VELLUM_NGRAM_TSV to a corpus .tsv file");
    return;
  }
  size_t bytes = 0;
  for (const std::string& d : docs) bytes += d.size();
  vellum::NgramKeyer keyer;
  size_t grams = 0;
  for (auto _ : state) {
    for (const std::string& doc : docs) grams += keyer.grams(doc, 3, true).size();
  }
  benchmark::DoNotOptimize(grams);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_NgramGrams3_Tsv)->Unit(benchmark::kMillisecond);

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
