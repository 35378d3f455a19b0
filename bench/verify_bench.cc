// Verification throughput of the readers, in MB/s of file bytes.
//
//  - VerifyDataset: verify_dataset over a 1,000,000-document dataset read
//    from disk (page cache) through directory_reader: every file, every
//    posting, the cross-file document count.
//  - VerifyVlsInMemory: VlsReader::verify of that dataset's index.vls
//    bytes, already in memory: the posting and dictionary checks alone.
//
// The documents are 4 to 15 words drawn with a skewed distribution from
// the words of the Debian licence texts, with a facet on every third
// document. The dataset is built once (outside the timing) into
// .bench/verify-dataset and reused by later runs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/license_texts.h"
#include "build/builder.h"
#include "read/dataset_check.h"
#include "read/vls_reader.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kDocs = 1000000;
const std::string kDir = VELLUM_SOURCE_DIR "/.bench/verify-dataset";

uint64_t next(uint64_t* s) {
  uint64_t x = *s;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return *s = x;
}

std::vector<std::string> vocabulary() {
  std::istringstream in(vellum::bench::license_texts());
  std::set<std::string> words;
  for (std::string w; in >> w;) words.insert(w);
  std::vector<std::string> out(words.begin(), words.end());
  if (out.empty()) out = {"alpha", "beta", "gamma", "delta", "epsilon"};
  return out;
}

void build_once() {
  if (fs::exists(kDir + "/records.idx")) return;
  const std::vector<std::string> words = vocabulary();
  auto b = vellum::Builder::create(3, 65536);
  uint64_t s = 88172645463325252ULL;
  std::vector<vellum::StagedRecord> rows;
  rows.reserve(kDocs);
  for (size_t i = 0; i < kDocs; ++i) {
    vellum::StagedRecord r;
    r.rank = static_cast<int64_t>(next(&s) % 1000000);
    for (size_t n = 4 + next(&s) % 12; n > 0; --n) {
      // The product of two uniforms favours the start of the word list.
      const uint64_t a = next(&s) % words.size(), c = next(&s) % words.size();
      r.text += words[a * c / words.size()];
      r.text += ' ';
    }
    r.record = "{\"id\":" + std::to_string(i) + "}";
    if (i % 3 == 0) r.facets.push_back({"kind", {i % 2 ? "odd" : "even"}});
    rows.push_back(std::move(r));
  }
  b->add_many(std::move(rows));
  if (!b->build(kDir).ok()) std::abort();
}

uint64_t dataset_bytes() {
  uint64_t n = 0;
  for (const char* f : {"index.vls", "index.vlf", "records.bin", "records.idx"}) n += fs::file_size(kDir + "/" + f);
  return n;
}

void VerifyDataset(benchmark::State& state) {
  build_once();
  const vellum::ReadFile read = vellum::directory_reader(kDir);
  for (auto _ : state) {
    auto problems = vellum::verify_dataset(read);
    if (!problems.empty()) state.SkipWithError(problems[0].describe().c_str());
    benchmark::DoNotOptimize(problems);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dataset_bytes()));
}
BENCHMARK(VerifyDataset)->Unit(benchmark::kMillisecond)->UseRealTime();

void VerifyVlsInMemory(benchmark::State& state) {
  build_once();
  auto bytes = vellum::directory_reader(kDir)("index.vls");
  const std::string vls = std::move(*bytes.value());
  for (auto _ : state) {
    auto r = vellum::VlsReader::open("index.vls", vls);
    auto s = r->verify();
    if (!s.ok()) state.SkipWithError(s.problem().describe().c_str());
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * vls.size()));
}
BENCHMARK(VerifyVlsInMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
