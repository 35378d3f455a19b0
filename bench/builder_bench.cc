// Builder::build throughput and peak memory on two kinds of text:
//
//  - English: the dictionary corpus cached in .bench/ by builder_bench.py
//    (lines "source<TAB>text"), or failing that the Debian license texts
//    repeated and cut at blank lines. Few distinct keys, large sets.
//  - CJK: deterministic xorshift text over the CJK Unified Ideographs with a
//    skewed character distribution. Every non-ASCII trigram is a hashed key,
//    so most keys hold one or a few documents.
//
// Each benchmark stages its corpus once (outside the timing), then builds
// into a temporary directory. Counters: text MB/s, resident peak above the
// staged state during build (VmHWM after resetting it through
// /proc/self/clear_refs), the written index size (index.vls + index.vlf)
// and their ratio.
//
// The default corpora are 4 MB each, for a run of a few seconds. Larger
// ones: vellum_bench --builder_mb=43 --benchmark_filter=Build
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/license_texts.h"
#include "build/builder.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kCacheDir = VELLUM_SOURCE_DIR "/.bench";

uint64_t lcg(uint64_t s) { return s * 6364136223846793005ULL + 1442695040888963407ULL; }

uint64_t xorshift(uint64_t* s) {
  uint64_t x = *s;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return *s = x;
}

struct Corpus {
  std::vector<vellum::StagedRecord> records;
  size_t text_bytes = 0;
  std::string origin;
};

void add_record(Corpus* c, uint64_t* rank_state, std::string text, const std::string& source) {
  *rank_state = lcg(*rank_state);
  vellum::StagedRecord r;
  r.rank = static_cast<int64_t>((*rank_state >> 33) % 1000000);  // ties are common
  r.record = "{\"doc\":" + std::to_string(c->records.size()) + ",\"src\":\"" + source + "\"}";
  r.facets.push_back({"source", {source}});
  c->text_bytes += text.size();
  r.text = std::move(text);
  c->records.push_back(std::move(r));
}

// The largest cached corpus, or an empty path.
fs::path cached_english() {
  fs::path best;
  uintmax_t best_size = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kCacheDir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("corpus-", 0) != 0 || e.path().extension() != ".tsv") continue;
    const uintmax_t size = e.file_size(ec);
    if (!ec && size > best_size) {
      best = e.path();
      best_size = size;
    }
  }
  return best;
}

Corpus english(size_t target_bytes) {
  Corpus c;
  uint64_t rank_state = 0xC0FFEE;
  if (fs::path path = cached_english(); !path.empty()) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (c.text_bytes < target_bytes && std::getline(in, line)) {
      const size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      add_record(&c, &rank_state, line.substr(tab + 1), line.substr(0, tab));
    }
    c.origin = path.filename().string();
    return c;
  }
  const std::string all = vellum::bench::license_texts();
  if (all.empty()) return c;
  for (size_t at = 0; c.text_bytes < target_bytes;) {
    size_t cut = all.find("\n\n", at);
    cut = cut == std::string::npos ? all.size() : cut + 2;
    add_record(&c, &rank_state, all.substr(at, cut - at), "license");
    at = cut == all.size() ? 0 : cut;
  }
  c.origin = "common-licenses";
  return c;
}

// About 200 bytes per document: ideographs drawn with density falling off
// as 1/sqrt(i) over U+4E00..U+9FFF, cut into clauses by CJK punctuation.
Corpus cjk(size_t target_bytes) {
  Corpus c;
  uint64_t rank_state = 0xC0FFEE;
  uint64_t s = 0x9E3779B97F4A7C15ULL;
  constexpr uint32_t kIdeographs = 0x9FFF - 0x4E00 + 1;
  auto put = [](std::string* out, uint32_t cp) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  };
  while (c.text_bytes < target_bytes) {
    std::string text;
    const size_t chars = 50 + xorshift(&s) % 35;
    for (size_t i = 0; i < chars; ++i) {
      const uint64_t r = xorshift(&s);
      if (r % 13 == 0) {
        put(&text, (r >> 8) % 2 == 0 ? 0x3002 : 0xFF0C);  // 。 or ，
        continue;
      }
      const double u = static_cast<double>(r >> 11) * 0x1.0p-53;
      put(&text, 0x4E00 + static_cast<uint32_t>(u * u * kIdeographs));
    }
    add_record(&c, &rank_state, std::move(text), "cjk");
  }
  c.origin = "xorshift ideographs";
  return c;
}

long status_kb(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      kb = std::strtol(line + n + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kb;
}

// Resets VmHWM to the current resident size; false where the kernel refuses.
bool reset_peak() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

size_t g_corpus_mb = 4;

void run_build(benchmark::State& state, const Corpus& corpus) {
  if (corpus.records.empty()) {
    state.SkipWithError("no corpus text available");
    return;
  }
  vellum::Result<vellum::Builder> created = vellum::Builder::create(3, 65536);
  vellum::Builder builder = std::move(created).value();
  for (const vellum::StagedRecord& r : corpus.records) builder.add(r);
  const fs::path dir = fs::temp_directory_path() / ("vellum_builder_bench_" + std::to_string(getpid()));

  double peak_mb = 0;
  double index_mb = 0;
  uint64_t keys = 0;
  bool peak_known = true;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);  // so memory freed earlier cannot hide this build's growth
    peak_known = reset_peak() && peak_known;
    const long before = status_kb("VmRSS");
    state.ResumeTiming();
    vellum::Result<vellum::BuildStats> stats = builder.build(dir.string());
    state.PauseTiming();
    const long hwm = status_kb("VmHWM");
    if (!stats.ok()) {
      state.SkipWithError(stats.error().describe().c_str());
      break;
    }
    keys = stats.value().ngrams;
    peak_mb = std::max(peak_mb, (hwm - before) / 1e3);
    index_mb = (fs::file_size(dir / "index.vls") + fs::file_size(dir / "index.vlf")) / 1e6;
    state.ResumeTiming();
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.text_bytes));
  state.counters["docs"] = static_cast<double>(corpus.records.size());
  state.counters["keys"] = static_cast<double>(keys);
  state.counters["index_MB"] = index_mb;
  if (peak_known) {
    state.counters["peak_above_staged_MB"] = peak_mb;
    state.counters["peak_per_index"] = index_mb > 0 ? peak_mb / index_mb : 0;
  }
  state.SetLabel(corpus.origin);
}

void BM_BuildEnglish(benchmark::State& state) {
  static const Corpus corpus = english(g_corpus_mb << 20);
  run_build(state, corpus);
}

void BM_BuildCjk(benchmark::State& state) {
  static const Corpus corpus = cjk(g_corpus_mb << 20);
  run_build(state, corpus);
}

}  // namespace

// Registered from main so that the corpus size can come from the command
// line; benchmark_main's main is then not linked in.
int main(int argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--builder_mb=", 13) == 0) {
      g_corpus_mb = std::max<size_t>(1, std::strtoull(argv[i] + 13, nullptr, 10));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  for (auto [name, fn] : {std::pair{"BM_BuildEnglish", &BM_BuildEnglish},
                          std::pair{"BM_BuildCjk", &BM_BuildCjk}}) {
    benchmark::RegisterBenchmark(name, fn)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
