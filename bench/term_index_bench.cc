// FST map building and VLTI term index encoding, in keys (terms) per
// second, over deterministic synthetic vocabularies:
//
//  - words: xorshift "words" of 3 to 12 letters from a skewed alphabet,
//    sorted and deduplicated, the shape of a natural-language dictionary;
//  - numeric: the decimal strings of a sparse ascending sequence, long
//    shared prefixes and few distinct suffix shapes.
//
// The encoder benchmark gives every term one to four ids over a 2M-doc
// range and one term in 50 a dense set of 5,000, and writes to memory with
// the default 4096-byte blocks and head boundary 65536. Inputs are built
// outside the timing. Scale with --benchmark_filter and the Arg values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fst_map/fst_map_builder.h"
#include "terms_dict/term_index_writer.h"

namespace {

uint64_t xorshift(uint64_t* s) {
  uint64_t x = *s;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return *s = x;
}

std::vector<std::string> words(size_t n) {
  static const char kLetters[] = "eeeeettttaaaoooiiinnnsssrrhhldcumfpgwybvkxjqz";
  uint64_t s = 0x9E3779B97F4A7C15ULL;
  std::vector<std::string> out;
  out.reserve(n + n / 4);
  while (out.size() < n + n / 4) {
    std::string w(3 + xorshift(&s) % 10, ' ');
    for (char& c : w) c = kLetters[xorshift(&s) % (sizeof kLetters - 1)];
    out.push_back(std::move(w));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  out.resize(std::min(out.size(), n));
  return out;
}

std::vector<std::string> numeric(size_t n) {
  uint64_t s = 12345;
  uint64_t v = 1000000;
  std::vector<std::string> out;
  for (size_t i = 0; i < n; ++i) {
    v += 1 + xorshift(&s) % 5000;
    out.push_back(std::to_string(v));
  }
  std::sort(out.begin(), out.end());
  return out;
}

void run_fst(benchmark::State& state, const std::vector<std::string>& keys) {
  size_t bytes = 0;
  for (auto _ : state) {
    vellum::FstMapBuilder b;
    for (size_t i = 0; i < keys.size(); ++i) {
      if (!b.insert(keys[i], i * 4099).ok()) state.SkipWithError("insert failed");
    }
    vellum::Result<std::string> image = b.finish();
    bytes = image->size();
    benchmark::DoNotOptimize(image);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
  state.counters["image_bytes"] = static_cast<double>(bytes);
}

void BM_FstBuildWords(benchmark::State& state) {
  run_fst(state, words(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_FstBuildWords)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_FstBuildNumeric(benchmark::State& state) {
  run_fst(state, numeric(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_FstBuildNumeric)->Arg(1000000)->Unit(benchmark::kMillisecond);

vellum::TermPostings postings_for(const std::vector<std::string>& terms) {
  uint64_t s = 777;
  vellum::TermPostings out;
  out.reserve(terms.size());
  std::vector<uint32_t> ids;
  for (size_t i = 0; i < terms.size(); ++i) {
    ids.clear();
    const size_t n = i % 50 == 0 ? 5000 : 1 + xorshift(&s) % 4;
    for (size_t k = 0; k < n; ++k) ids.push_back(static_cast<uint32_t>(xorshift(&s) % 2000000));
    std::sort(ids.begin(), ids.end());
    out.push_back({terms[i], vellum::Bitmap()});
    out.back().ids.add_many(ids.data(), ids.size());
  }
  return out;
}

void BM_EncodeTermIndex(benchmark::State& state) {
  const std::vector<std::string> terms = words(static_cast<size_t>(state.range(0)));
  vellum::TermIndexOptions options;
  options.head_boundary = 65536;
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    vellum::TermPostings postings = postings_for(terms);
    std::string out;
    out.reserve(bytes);
    state.ResumeTiming();
    vellum::StringSink sink(&out);
    if (!vellum::encode_term_index(std::move(postings), options, &sink).ok()) {
      state.SkipWithError("encode failed");
    }
    bytes = out.size();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * terms.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeTermIndex)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
