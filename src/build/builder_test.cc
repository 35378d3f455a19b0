#include "build/builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "facet/facet_key.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::decode_posting;
using testing::decode_records;
using testing::decode_vls;
using testing::decode_vlsf;
using testing::read_file;
using testing::TempDir;

constexpr const char* kFiles[] = {"index.vls", "index.vlf", "records.bin", "records.idx"};

Builder make(uint16_t gram = 3, uint32_t head_boundary = 65536) {
  Result<Builder> b = Builder::create(gram, head_boundary);
  EXPECT_TRUE(b.ok());
  return std::move(b).value();
}

BuildStats build_ok(const Builder& b, const std::string& dir) {
  Result<BuildStats> r = b.build(dir);
  EXPECT_TRUE(r.ok()) << r.error().describe();
  return r.ok() ? r.value() : BuildStats{};
}

std::vector<std::string> dataset_records(const std::string& dir) {
  return decode_records(read_file(dir + "/records.bin"), read_file(dir + "/records.idx"));
}

std::map<std::string, std::string> dataset_bytes(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const char* f : kFiles) out[f] = read_file(dir + "/" + f);
  return out;
}

TEST(BuilderCreate, ValidatesAndDefaults) {
  for (uint32_t bad : {1u, 65535u, 65537u, 100000u, 0xFFFFFFFFu}) {
    Result<Builder> b = Builder::create(3, bad);
    ASSERT_FALSE(b.ok());
    EXPECT_EQ(b.error().kind(), ErrorKind::kInvalidArgument);
    EXPECT_EQ(b.error().message(),
              "head_boundary must be a multiple of 65536, got " + std::to_string(bad));
  }
  Builder zero = make(0, 0);
  EXPECT_EQ(zero.gram_size(), 1);
  EXPECT_EQ(zero.head_boundary(), 65536u);
  EXPECT_EQ(make(3, 0xFFFF0000u).head_boundary(), 0xFFFF0000u);
}

TEST(BuilderCreate, DocumentCountLimit) {
  EXPECT_TRUE(check_document_count(0xFFFFFFFFull).ok());
  Status s = check_document_count(uint64_t{1} << 32);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
}

TEST(BuilderBuild, EmptyBuilder) {
  TempDir dir;
  const std::string out = dir.file("a/b");  // missing parents are created
  BuildStats stats = build_ok(make(), out);
  EXPECT_EQ(stats.docs, 0u);
  EXPECT_EQ(stats.ngrams, 0u);
  EXPECT_EQ(stats.fields, 0u);
  EXPECT_EQ(read_file(out + "/index.vls"),
            std::string("VLSI\x03\x00\x03\x00\x00\x00\x00\x00\x00\x02\x00\x00", 16));
  auto vlf = decode_vlsf(read_file(out + "/index.vlf"));
  EXPECT_EQ(vlf.case_sensitive, 0);
  EXPECT_TRUE(vlf.fields.empty());
  EXPECT_EQ(read_file(out + "/records.bin"), "");
  EXPECT_EQ(read_file(out + "/records.idx").size(), 24u);
}

TEST(BuilderBuild, IdsFollowDescendingStableRank) {
  TempDir dir;
  Builder b = make();
  const int64_t lo = std::numeric_limits<int64_t>::min();
  const int64_t hi = std::numeric_limits<int64_t>::max();
  const std::vector<int64_t> ranks = {5, 9, 5, -1, lo, hi, -1, 0, hi};
  for (size_t i = 0; i < ranks.size(); ++i) {
    b.add({ranks[i], "", "r" + std::to_string(i), {}});
  }
  build_ok(b, dir.path());
  EXPECT_EQ(dataset_records(dir.path()),
            (std::vector<std::string>{"r5", "r8", "r1", "r0", "r2", "r7", "r3", "r6", "r4"}));
  EXPECT_EQ(b.staged_count(), ranks.size());  // build leaves the records staged
}

TEST(BuilderBuild, TextsWithoutGramsAndSharedTexts) {
  TempDir dir;
  Builder b = make();
  b.add({3, "!!! ... ?", "punct", {}});
  b.add({2, "Hello world", "a", {}});
  b.add({1, "hello WORLD", "b", {}});
  b.add({0, "", "", {}});
  BuildStats stats = build_ok(b, dir.path());
  EXPECT_EQ(stats.docs, 4u);
  const auto want = ngram_keys("hello world", 3, true);
  EXPECT_EQ(stats.ngrams, want.size());
  auto vls = decode_vls(read_file(dir.file("index.vls")));
  ASSERT_EQ(vls.entries.size(), want.size());
  for (const auto& e : vls.entries) {
    EXPECT_NE(std::find(want.begin(), want.end(), e.key), want.end());
    EXPECT_EQ(decode_posting(e.posting).ids, (std::vector<uint32_t>{1, 2}));
  }
  EXPECT_EQ(dataset_records(dir.path()),
            (std::vector<std::string>{"punct", "a", "b", ""}));
}

TEST(BuilderBuild, GramSizeZeroIndexesSingleCharacters) {
  TempDir dir;
  Builder b = make(0, 0);
  b.add({0, "aba", "", {}});
  build_ok(b, dir.path());
  auto vls = decode_vls(read_file(dir.file("index.vls")));
  EXPECT_EQ(vls.gram_size, 1);
  ASSERT_EQ(vls.entries.size(), 2u);
  EXPECT_EQ(vls.entries[0].key, 0x61u);
  EXPECT_EQ(vls.entries[1].key, 0x62u);
}

TEST(BuilderBuild, FacetFieldsAndCategories) {
  TempDir dir;
  Builder b = make();
  b.add({0, "", "", {{"lang", {"en", "EN"}}, {"tags", {}}}});
  b.add({1, "", "", {}});
  b.add({2, "", "", {{"Lang", {"en"}}, {"lang", {"de", "en"}}}});
  b.add({3, "", "", {{"lang", {"en"}}, {"lang", {"en"}}}});  // repeats count once
  BuildStats stats = build_ok(b, dir.path());
  EXPECT_EQ(stats.fields, 3u);
  auto vlf = decode_vlsf(read_file(dir.file("index.vlf")));
  EXPECT_EQ(vlf.case_sensitive, 0);
  ASSERT_EQ(vlf.fields.size(), 3u);
  // Fields and, in the blob, categories in bytewise name order.
  EXPECT_EQ(vlf.fields[0].name, "Lang");
  EXPECT_EQ(vlf.fields[1].name, "lang");
  EXPECT_EQ(vlf.fields[2].name, "tags");
  EXPECT_EQ(vlf.fields[2].count, 0u);  // listed with no categories, still written
  EXPECT_EQ(vlf.blob, "LangenlangENdeentags");

  // Doc ids: rank 3 -> 0, 2 -> 1, 1 -> 2, 0 -> 3.
  std::map<std::pair<std::string, std::string>, std::vector<uint32_t>> got;
  for (const auto& f : vlf.fields) {
    for (uint32_t i = f.first; i < f.first + f.count; ++i) {
      const auto& c = vlf.categories[i];
      EXPECT_EQ(c.key, facet_key(f.name, c.name, true));
      auto ids = decode_posting(c.head).ids;
      EXPECT_EQ(decode_posting(c.tail).ids.size(), 0u);
      EXPECT_EQ(c.doc_count, ids.size());
      got[{f.name, c.name}] = ids;
    }
  }
  using Ids = std::vector<uint32_t>;
  EXPECT_EQ(got[std::make_pair(std::string("Lang"), std::string("en"))], (Ids{1}));
  EXPECT_EQ(got[std::make_pair(std::string("lang"), std::string("en"))], (Ids{0, 1, 3}));
  EXPECT_EQ(got[std::make_pair(std::string("lang"), std::string("EN"))], (Ids{3}));
  EXPECT_EQ(got[std::make_pair(std::string("lang"), std::string("de"))], (Ids{1}));
  EXPECT_EQ(got.size(), 4u);
}

// More documents than one container holds, so that postings hold bitmap
// containers and ids on both sides of the head boundary; every posting,
// record and facet category is checked against what the staged rows imply.
class LargeBuild : public ::testing::TestWithParam<uint32_t> {};

TEST_P(LargeBuild, MatchesTheStagedRows) {
  const uint32_t head_boundary = GetParam();
  const uint32_t effective_boundary = head_boundary == 0 ? 65536 : head_boundary;
  constexpr uint32_t kDocs = 75000;
  std::mt19937_64 rng(7);
  std::vector<StagedRecord> rows;
  const char* vocab[] = {"river", "Stone", "cloud", "ember", "quartz", "\u00E9t\u00E9", "na\u00EFve",
                         "\u03A3\u039F\u03A6\u039F\u03A3", "x1", "42"};
  for (uint32_t i = 0; i < kDocs; ++i) {
    std::string text = "common ";
    const int words = static_cast<int>(rng() % 4);
    for (int w = 0; w < words; ++w) text += std::string(vocab[rng() % 10]) + " ";
    text += "w" + std::to_string(rng() % 5000);
    FacetList facets;
    if (i % 3 == 0) facets.push_back({"parity", {i % 2 ? "odd" : "even"}});
    if (i % 1000 == 0) facets.push_back({"rare", {"r"}});
    rows.push_back({static_cast<int64_t>(rng() % 200) - 100, text, std::to_string(i), facets});
  }
  Builder b = make(3, head_boundary);
  b.add_many(rows);
  TempDir dir;
  BuildStats stats = build_ok(b, dir.path());
  EXPECT_EQ(stats.docs, kDocs);
  EXPECT_EQ(stats.fields, 2u);

  // Records name their staging index: recover the id order and check it.
  std::vector<std::string> recs = dataset_records(dir.path());
  ASSERT_EQ(recs.size(), kDocs);
  std::vector<uint32_t> staged_of(kDocs);
  std::set<uint32_t> seen;
  for (uint32_t d = 0; d < kDocs; ++d) {
    staged_of[d] = static_cast<uint32_t>(std::stoul(recs[d]));
    seen.insert(staged_of[d]);
    if (d > 0) {
      const int64_t prev = rows[staged_of[d - 1]].rank, cur = rows[staged_of[d]].rank;
      ASSERT_GE(prev, cur);
      if (prev == cur) {
        ASSERT_LT(staged_of[d - 1], staged_of[d]);
      }
    }
  }
  ASSERT_EQ(seen.size(), kDocs);

  std::map<uint64_t, std::vector<uint32_t>> want;
  std::map<std::string, std::vector<uint32_t>> want_facets;
  for (uint32_t d = 0; d < kDocs; ++d) {
    const StagedRecord& row = rows[staged_of[d]];
    for (uint64_t k : ngram_keys(row.text, 3, true)) want[k].push_back(d);
    for (const auto& [field, cats] : row.facets) {
      for (const auto& c : cats) want_facets[field + "/" + c].push_back(d);
    }
  }

  auto vls = decode_vls(read_file(dir.file("index.vls")));
  EXPECT_EQ(vls.version, 3);
  EXPECT_EQ(vls.stride, 512u);
  EXPECT_EQ(stats.ngrams, want.size());
  ASSERT_EQ(vls.entries.size(), want.size());
  size_t bitmap_containers = 0;
  size_t i = 0;
  for (const auto& [key, ids] : want) {
    const auto& e = vls.entries[i++];
    ASSERT_EQ(e.key, key);
    auto p = decode_posting(e.posting);  // no-run cookie, exact layout
    ASSERT_EQ(p.ids, ids) << "key " << key;
    for (uint32_t card : p.container_cards) bitmap_containers += card > 4096;
  }
  EXPECT_GE(bitmap_containers, 2u);  // "common" fills both containers

  auto vlf = decode_vlsf(read_file(dir.file("index.vlf")));
  size_t categories = 0;
  bool split_seen = false;
  for (const auto& f : vlf.fields) {
    for (uint32_t c = f.first; c < f.first + f.count; ++c, ++categories) {
      const auto& cat = vlf.categories[c];
      const auto& ids = want_facets[f.name + "/" + cat.name];
      std::vector<uint32_t> head, tail;
      for (uint32_t id : ids) (id < effective_boundary ? head : tail).push_back(id);
      EXPECT_EQ(decode_posting(cat.head).ids, head);
      EXPECT_EQ(decode_posting(cat.tail).ids, tail);
      EXPECT_EQ(cat.doc_count, ids.size());
      split_seen |= !head.empty() && !tail.empty();
    }
  }
  EXPECT_EQ(categories, want_facets.size());
  EXPECT_EQ(split_seen, effective_boundary < kDocs);
}

INSTANTIATE_TEST_SUITE_P(HeadBoundaries, LargeBuild, ::testing::Values(0u, 131072u));

TEST(BuilderBuild, RebuildRewritesEveryFileWithNewIds) {
  TempDir dir;
  Builder b = make();
  b.add({1, "low", "low", {{"f", {"a"}}}});
  b.add({5, "high", "high", {{"f", {"b"}}, {"g", {"c"}}}});
  build_ok(b, dir.path());
  auto first = dataset_bytes(dir.path());
  EXPECT_EQ(dataset_records(dir.path()), (std::vector<std::string>{"high", "low"}));

  b.add({3, "middle", "mid", {}});
  BuildStats stats = build_ok(b, dir.path());
  EXPECT_EQ(stats.docs, 3u);
  EXPECT_EQ(dataset_records(dir.path()), (std::vector<std::string>{"high", "mid", "low"}));
  auto second = dataset_bytes(dir.path());
  for (const char* f : kFiles) EXPECT_NE(first[f], second[f]) << f;
  // The rewritten files are exactly what a fresh builder writes.
  TempDir fresh_dir;
  Builder fresh = make();
  fresh.add({1, "low", "low", {{"f", {"a"}}}});
  fresh.add({5, "high", "high", {{"f", {"b"}}, {"g", {"c"}}}});
  fresh.add({3, "middle", "mid", {}});
  build_ok(fresh, fresh_dir.path());
  EXPECT_EQ(dataset_bytes(fresh_dir.path()), second);
}

TEST(BuilderBuild, FailuresReportTheOsErrorAndAllowARetry) {
  TempDir dir;
  Builder b = make();
  b.add({2, "alpha beta", "one", {{"k", {"v"}}}});
  b.add({1, "gamma", "two", {}});
  const size_t fds = testing::open_fd_count();

  std::ofstream(dir.file("plain")) << "x";
  Result<BuildStats> r = b.build(dir.file("plain/out"));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kOs);
  EXPECT_EQ(r.error().describe(), "Not a directory (os error 20)");

  // A later file that cannot be created: earlier files are complete, later
  // ones are not created.
  const std::string out = dir.file("blocked");
  std::filesystem::create_directories(out + "/index.vlf");
  r = b.build(out);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().describe(), "Is a directory (os error 21)");
  EXPECT_EQ(decode_vls(read_file(out + "/index.vls")).key_count,
            ngram_keys("alpha beta", 3, true).size() + ngram_keys("gamma", 3, true).size());
  EXPECT_FALSE(std::filesystem::exists(out + "/records.bin"));
  EXPECT_EQ(testing::open_fd_count(), fds);

  build_ok(b, dir.file("good"));
  Builder fresh = make();
  fresh.add({2, "alpha beta", "one", {{"k", {"v"}}}});
  fresh.add({1, "gamma", "two", {}});
  build_ok(fresh, dir.file("fresh"));
  EXPECT_EQ(dataset_bytes(dir.file("good")), dataset_bytes(dir.file("fresh")));
}

}  // namespace
}  // namespace vellum
