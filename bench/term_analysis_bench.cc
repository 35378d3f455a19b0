// Throughput of whole-term analysis over real English text (the licence
// texts Debian ships, repeated to 8 MB and cut into paragraph documents):
// the scanner alone, analyze_terms without and with English stemming, and
// the scan + stop words + per-distinct-word stem cache a term builder uses.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/term_analyzer.h"
#include "analysis/term_scanner.h"
#include "bench/license_texts.h"

namespace {

constexpr size_t kCorpusBytes = 8u << 20;

const std::string& corpus() {
  static const std::string text = [] {
    const std::string one = vellum::bench::license_texts();
    std::string all;
    if (one.empty()) return all;
    while (all.size() < kCorpusBytes) all += one;
    return all;
  }();
  return text;
}

const std::vector<std::string_view>& documents() {
  static const std::vector<std::string_view> docs = [] {
    std::vector<std::string_view> out;
    std::string_view s = corpus();
    while (!s.empty()) {
      size_t cut = s.find("\n\n");
      cut = cut == std::string_view::npos ? s.size() : cut + 2;
      out.push_back(s.substr(0, cut));
      s.remove_prefix(cut);
    }
    return out;
  }();
  return docs;
}

bool have_corpus(benchmark::State& state) {
  if (!corpus().empty()) return true;
  state.SkipWithError("no English text found under /usr/share/common-licenses");
  return false;
}

vellum::TermAnalyzer analyzer(std::optional<std::string_view> language, bool stem,
                              bool stopwords) {
  return std::move(vellum::TermAnalyzer::create(language, stem, stopwords, false)).value();
}

void report(benchmark::State& state, size_t terms) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus().size()));
  state.counters["terms/s"] = benchmark::Counter(
      static_cast<double>(terms), benchmark::Counter::kIsRate);
}

void BM_TermScanner_Fold(benchmark::State& state) {
  if (!have_corpus(state)) return;
  vellum::TermScanner scanner(true);
  size_t terms = 0;
  for (auto _ : state) {
    for (std::string_view doc : documents()) {
      scanner.reset(doc);
      for (std::string_view run; scanner.next(&run);) ++terms;
    }
  }
  report(state, terms);
}
BENCHMARK(BM_TermScanner_Fold)->Unit(benchmark::kMillisecond);

void analyze_all(benchmark::State& state, const vellum::TermAnalyzer& a) {
  std::vector<std::string> terms;
  size_t count = 0;
  for (auto _ : state) {
    for (std::string_view doc : documents()) {
      terms.clear();
      a.analyze(doc, &terms);
      count += terms.size();
    }
  }
  report(state, count);
}

void BM_AnalyzeTerms_NoStem(benchmark::State& state) {
  if (!have_corpus(state)) return;
  analyze_all(state, analyzer(std::nullopt, false, false));
}
BENCHMARK(BM_AnalyzeTerms_NoStem)->Unit(benchmark::kMillisecond);

void BM_AnalyzeTerms_EnglishStem(benchmark::State& state) {
  if (!have_corpus(state)) return;
  analyze_all(state, analyzer("en", true, false));
}
BENCHMARK(BM_AnalyzeTerms_EnglishStem)->Unit(benchmark::kMillisecond);

void BM_AnalyzeTerms_EnglishStemStopwords(benchmark::State& state) {
  if (!have_corpus(state)) return;
  analyze_all(state, analyzer("en", true, true));
}
BENCHMARK(BM_AnalyzeTerms_EnglishStemStopwords)->Unit(benchmark::kMillisecond);

struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

// What a term builder does: stem each distinct folded word once.
void BM_ScanStemCached_English(benchmark::State& state) {
  if (!have_corpus(state)) return;
  const vellum::TermAnalyzer a = analyzer("en", true, true);
  std::unordered_map<std::string, std::string, StringHash, std::equal_to<>> stems;
  vellum::TermScanner scanner(a.fold());
  size_t bytes = 0;
  size_t terms = 0;
  for (auto _ : state) {
    for (std::string_view doc : documents()) {
      scanner.reset(doc);
      for (std::string_view run; scanner.next(&run);) {
        if (a.drops(run)) continue;
        auto it = stems.find(run);
        if (it == stems.end()) it = stems.emplace(std::string(run), a.stem_word(run)).first;
        bytes += it->second.size();
        ++terms;
      }
    }
  }
  benchmark::DoNotOptimize(bytes);
  report(state, terms);
  state.counters["distinct"] = static_cast<double>(stems.size());
}
BENCHMARK(BM_ScanStemCached_English)->Unit(benchmark::kMillisecond);

}  // namespace
