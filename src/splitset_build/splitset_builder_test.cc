#include "splitset_build/splitset_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "common/coding.h"
#include "facet/facet_key.h"
#include "splitset/manifest.h"
#include "splitset/summary_tlv.h"
#include "splitset_build/cap_schedule.h"
#include "splitset_build/doc_ids.h"
#include "splitset_build/split_name.h"
#include "splitset_build/split_policy.h"
#include "testing/split_set_retry.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::check_failed_build_keeps_documents;
using testing::decode_posting;
using testing::decode_vls;
using testing::decode_vlsf;
using testing::read_file;
using testing::TempDir;

TEST(SplitPolicy, NamesAndMessage) {
  for (const char* n : {"tiered", "RANK", "Rank_Tiered"}) EXPECT_EQ(parse_policy(n).value(), 0) << n;
  for (const char* n : {"stable_key", "StableKey", "STABLE", "ingest"}) EXPECT_EQ(parse_policy(n).value(), 1) << n;
  Result<uint8_t> bad = parse_policy("Tiéred-X");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(bad.error().message(), "unknown policy tiéred-x; use 'tiered' or 'stable_key'");
  EXPECT_FALSE(parse_policy("tiered ").ok());
}

TEST(CapSchedule, FixedGrowingAndSaturating) {
  EXPECT_EQ(CapSchedule(100, 0).cap(0), 100u);
  EXPECT_EQ(CapSchedule(100, 0).cap(1000), 100u);
  const CapSchedule grow(100, 400);
  EXPECT_EQ(grow.cap(0), 100u);
  EXPECT_EQ(grow.cap(1), 200u);
  EXPECT_EQ(grow.cap(2), 400u);
  EXPECT_EQ(grow.cap(3), 400u);
  EXPECT_EQ(grow.cap(70), 400u);
  EXPECT_EQ(CapSchedule(100, 50).cap(5), 100u);  // a maximum below the base keeps the base
  const CapSchedule huge(uint64_t{3} << 62, UINT64_MAX);
  EXPECT_EQ(huge.cap(0), uint64_t{3} << 62);
  EXPECT_EQ(huge.cap(1), UINT64_MAX);
  EXPECT_EQ(CapSchedule(1, UINT64_MAX).cap(63), uint64_t{1} << 63);
  EXPECT_EQ(CapSchedule(1, UINT64_MAX).cap(64), UINT64_MAX);
}

TEST(SplitName, AtLeastFiveDigits) {
  EXPECT_EQ(split_file_name("corpus", 's', 7, ".vls"), "corpus-s00007.vls");
  EXPECT_EQ(split_file_name("corpus", 's', 123456, ".vls"), "corpus-s123456.vls");
  EXPECT_EQ(split_file_name("p", 'd', 0, ".vlf"), "p-d00000.vlf");
}

TEST(DocIds, RefusesToWrap) {
  DocIds ids(0xFFFFFFFEu);
  ASSERT_TRUE(ids.check_available().ok());
  EXPECT_EQ(ids.take(), 0xFFFFFFFEu);
  ASSERT_TRUE(ids.check_available().ok());
  EXPECT_EQ(ids.take(), 0xFFFFFFFFu);
  Status s = ids.check_available();
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
  EXPECT_EQ(s.error().message(),
            "VLSS document ids exhausted: a split set holds at most 4294967296 documents");
}

TEST(NgramOpenSplit, EstimateByTheFormula) {
  NgramOpenSplit open(3, 512, true, 10);
  open.add(0, ngram_keys("abc", 3, true));
  const std::vector<uint64_t> second = ngram_keys("abcd", 3, true);  // abc (known), bcd (new)
  // 2*2 + 64*(1 + 1) + 2 + 8*ceil(1/512) + 20
  EXPECT_EQ(open.estimate_with(second), 162u);
  EXPECT_TRUE(open.exceeds(second, 161));
  EXPECT_FALSE(open.exceeds(second, 162));
  NgramOpenSplit stride_one(3, 0, true, 10);  // stride 0 counts as 1 here
  stride_one.add(0, ngram_keys("abcdef", 3, true));
  EXPECT_EQ(stride_one.estimate_with({}), 64u * 4 + 8 + 8 * 4 + 20);
}

// Documents with overlapping keys; the shortcut on the bounds must agree
// with the exact estimate for every cap around it.
TEST(NgramOpenSplit, ExceedsAgreesWithTheExactEstimate) {
  std::mt19937_64 rng(3);
  NgramOpenSplit open(3, 4, true, 10);
  for (uint32_t d = 0; d < 300; ++d) {
    std::set<uint64_t> s;
    for (int n = rng() % 30; n > 0; --n) s.insert(rng() % 500);
    const std::vector<uint64_t> keys(s.begin(), s.end());
    const uint64_t exact = open.estimate_with(keys);
    for (uint64_t cap : {exact - 1, exact, exact + 1, exact - 64 * keys.size(), exact + 64, uint64_t{0}}) {
      ASSERT_EQ(open.exceeds(keys, cap), exact > cap) << d << " " << cap;
    }
    open.add(d, keys);
  }
}

SplitSetBuilder make(SplitSetBuilderOptions o = {}) {
  Result<SplitSetBuilder> b = SplitSetBuilder::create(o);
  EXPECT_TRUE(b.ok());
  return std::move(b).value();
}

ParsedManifest manifest_in(const std::string& dir, const std::string& name = "index") {
  FormatResult<ParsedManifest> m = parse_manifest(read_file(dir + "/" + name + ".vlss"));
  EXPECT_TRUE(m.ok()) << m.error().text();
  return m.ok() ? std::move(m).value() : ParsedManifest();
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.insert(e.path().filename());
  return out;
}

bool bloom_has(std::string_view bloom, uint64_t key) {
  auto mix = [](uint64_t v) {
    v = (v ^ (v >> 30)) * 0xbf58476d1ce4e5b9ULL;
    v = (v ^ (v >> 27)) * 0x94d049bb133111ebULL;
    return v ^ (v >> 31);
  };
  const uint32_t k = GetU32(bloom.data()), m = GetU32(bloom.data() + 4);
  uint64_t h = mix(key);
  const uint64_t g = mix(key ^ 0x9e3779b97f4a7c15ULL) | 1;
  for (uint32_t i = 0; i < k; ++i, h += g) {
    if (!(static_cast<uint8_t>(bloom[8 + (h % m) / 8]) >> ((h % m) % 8) & 1)) return false;
  }
  return true;
}

struct Doc {
  std::string text;
  FacetList facets;
};

// Where the seal rule puts each document, modelled from the rule itself:
// returns the first global id of every split.
std::vector<uint32_t> expected_starts(const std::vector<Doc>& docs, const CapSchedule& caps,
                                      uint32_t stride) {
  std::vector<uint32_t> starts;
  std::set<uint64_t> keys;
  uint64_t postings = 0;
  for (uint32_t id = 0; id < docs.size(); ++id) {
    const std::vector<uint64_t> k = ngram_keys(docs[id].text, 3, true);
    uint64_t fresh = 0;
    for (uint64_t x : k) fresh += !keys.count(x);
    const uint64_t est = 2 * k.size() + 64 * (keys.size() + fresh) + postings +
                         8 * ((keys.size() + stride - 1) / stride) + 20;
    if (starts.empty() || est > caps.cap(starts.size() - 1)) {
      starts.push_back(id);
      keys.clear();
      postings = 0;
    }
    keys.insert(k.begin(), k.end());
    postings += 2 * k.size();
  }
  return starts;
}

std::vector<Doc> random_docs(std::mt19937_64& rng, size_t n) {
  static const std::vector<std::string> words = {"alpha", "beta", "Gamma", "delta", "épée",
                                                 "zeta", "eta", "theta", "漢字かな", "x"};
  std::vector<Doc> docs(n);
  for (Doc& d : docs) {
    for (int w = rng() % 8; w > 0; --w) d.text += words[rng() % words.size()] + " ";
    if (rng() % 3 == 0) d.facets.push_back({"lang", {rng() % 2 ? "en" : "EN", "fr"}});
    if (rng() % 5 == 0) d.facets.push_back({"empty", {}});
  }
  return docs;
}

// A whole split set read back: every split's range, body, Bloom filter,
// presence keys and sidecar against what the documents imply.
TEST(SplitSetBuilder, SplitsMatchTheDocuments) {
  std::mt19937_64 rng(5);
  const std::vector<Doc> docs = random_docs(rng, 400);
  SplitSetBuilderOptions o;
  o.byte_cap = 1000, o.byte_cap_max = 4000, o.stride = 4, o.name_prefix = "corpus";
  o.sortcol = SortColumn{"rank", 2, true};
  SplitSetBuilder b = make(o);
  for (uint32_t i = 0; i < docs.size(); ++i) {
    Result<uint32_t> id = b.add_faceted(docs[i].text, docs[i].facets);
    ASSERT_TRUE(id.ok());
    ASSERT_EQ(*id, i);
  }
  TempDir dir;
  Result<SplitSetBuildStats> stats = b.build(dir.path() + "/out", "idx");
  ASSERT_TRUE(stats.ok()) << stats.error().describe();
  const std::string out = dir.path() + "/out";
  const ParsedManifest m = manifest_in(out, "idx");
  const std::vector<uint32_t> starts = expected_starts(docs, CapSchedule(1000, 4000), 4);
  ASSERT_EQ(m.splits.size(), starts.size());
  ASSERT_GT(starts.size(), 3u);
  EXPECT_EQ(stats->splits, starts.size());
  EXPECT_EQ(stats->docs, docs.size());
  EXPECT_EQ(m.flags, 0x01 | 0x02);
  EXPECT_EQ(m.tier_count, starts.size());
  EXPECT_EQ(m.base_count, starts.size());
  EXPECT_EQ(m.byte_cap, 1000u);
  EXPECT_EQ(m.gram_size, 3);
  EXPECT_EQ(m.sortcol, o.sortcol);

  std::set<std::string> want_files = {"idx.vlss"};
  uint64_t total = 0;
  for (size_t s = 0; s < starts.size(); ++s) {
    SCOPED_TRACE("split " + std::to_string(s));
    const ParsedSplit& sp = m.splits[s];
    const uint32_t end = s + 1 < starts.size() ? starts[s + 1] : docs.size();
    EXPECT_EQ(sp.name, split_file_name("corpus", 's', s, ".vls"));
    EXPECT_EQ(sp.first_id, starts[s]);
    EXPECT_EQ(sp.last_id, end - 1);
    EXPECT_EQ(sp.doc_count, end - starts[s]);
    EXPECT_EQ(sp.tier, s);
    EXPECT_EQ(sp.epoch, 0u);
    EXPECT_EQ(sp.split_flags, 0);
    std::map<uint64_t, std::vector<uint32_t>> postings;
    std::map<std::pair<std::string, std::string>, std::vector<uint32_t>> cats;
    for (uint32_t id = starts[s]; id < end; ++id) {
      for (uint64_t k : ngram_keys(docs[id].text, 3, true)) postings[k].push_back(id - starts[s]);
      for (const auto& [f, cs] : docs[id].facets) {
        for (const std::string& c : cs) {
          auto& ids = cats[{f, c}];
          if (ids.empty() || ids.back() != id - starts[s]) ids.push_back(id - starts[s]);
        }
      }
    }
    const std::string body = read_file(out + "/" + sp.name);
    EXPECT_EQ(sp.size_bytes, body.size());
    total += body.size();
    want_files.insert(sp.name);
    const testing::VlsFile vls = decode_vls(body);
    EXPECT_EQ(vls.version, 3);
    EXPECT_EQ(vls.stride, 4u);
    ASSERT_EQ(vls.entries.size(), postings.size());
    const std::string_view summary = m.summary(s);
    auto bloom = find_tlv(summary, 1);
    ASSERT_TRUE(bloom.ok() && bloom->has_value());
    EXPECT_EQ(summary.substr(0, 1), "\x01");  // Bloom first
    EXPECT_EQ(GetU32((*bloom)->data() + 4), std::max<uint64_t>(64, (10 * postings.size() + 7) / 8 * 8));
    size_t i = 0;
    for (const auto& [key, ids] : postings) {
      EXPECT_EQ(vls.entries[i].key, key);
      EXPECT_EQ(decode_posting(vls.entries[i].posting).ids, ids);
      EXPECT_TRUE(bloom_has(**bloom, key));
      ++i;
    }
    auto presence = find_tlv(summary, 2);
    ASSERT_TRUE(presence.ok());
    const std::string sidecar_name = split_file_name("corpus", 's', s, ".vlf");
    if (cats.empty()) {
      EXPECT_FALSE(presence->has_value());
      continue;
    }
    ASSERT_TRUE(presence->has_value());
    std::set<uint64_t> keys;
    for (const auto& [pair, ids] : cats) keys.insert(facet_key(pair.first, pair.second, true));
    ASSERT_EQ(GetU32((*presence)->data()), keys.size());
    ASSERT_EQ((*presence)->size(), 4 + 8 * keys.size());
    size_t at = 4;
    for (uint64_t k : keys) EXPECT_EQ(GetU64((*presence)->data() + (at += 8) - 8), k);
    const std::string sidecar = read_file(out + "/" + sidecar_name);
    total += sidecar.size();
    want_files.insert(sidecar_name);
    const testing::VlsfFile vlsf = decode_vlsf(sidecar);
    ASSERT_EQ(vlsf.fields.size(), 1u);  // "empty" never appears
    EXPECT_EQ(vlsf.fields[0].name, "lang");
    ASSERT_EQ(vlsf.categories.size(), cats.size());
    for (const testing::VlsfCategory& c : vlsf.categories) {
      EXPECT_EQ(decode_posting(c.head).ids, cats.at({"lang", c.name}));
      EXPECT_EQ(decode_posting(c.tail).ids, std::vector<uint32_t>{});
    }
  }
  EXPECT_EQ(stats->total_bytes, total);
  EXPECT_EQ(files_in(out), want_files);
  EXPECT_EQ(b.doc_count(), 0u);
  Result<uint32_t> after = b.add("more");
  ASSERT_FALSE(after.ok());
  EXPECT_EQ(after.error().kind(), ErrorKind::kFinished);
  EXPECT_EQ(after.error().message(), "SplitSetBuilder already built");
  EXPECT_EQ(b.build(out, "idx").error().message(), "SplitSetBuilder already built");
}

TEST(SplitSetBuilder, EmptyBuilderWritesOnlyTheManifest) {
  TempDir dir;
  SplitSetBuilder b = make();
  Result<SplitSetBuildStats> stats = b.build(dir.path(), "index");
  ASSERT_TRUE(stats.ok());
  EXPECT_EQ(stats->splits + stats->docs + stats->total_bytes, 0u);
  EXPECT_EQ(files_in(dir.path()), std::set<std::string>{"index.vlss"});
  const ParsedManifest m = manifest_in(dir.path());
  EXPECT_TRUE(m.splits.empty());
  EXPECT_EQ(m.flags, 0x01);
}

TEST(SplitSetBuilder, StableKeyCaseSensitiveWithoutBloom) {
  SplitSetBuilderOptions o;
  o.policy = "ingest", o.case_sensitive = true, o.bloom_bits_per_key = 0, o.byte_cap = 1;
  o.gram_size = 0, o.head_boundary = 0;
  SplitSetBuilder b = make(o);
  ASSERT_TRUE(b.add("Ab").ok());
  ASSERT_TRUE(b.add_faceted("", {{"F", {"x"}}}).ok());
  TempDir dir;
  ASSERT_FALSE(b.build(dir.path(), "m").ok());  // "Ab" alone passes a 1-byte cap
  o.byte_cap = 200;
  SplitSetBuilder c = make(o);
  ASSERT_TRUE(c.add("Ab").ok());
  ASSERT_TRUE(c.add_faceted("", {{"F", {"x"}}}).ok());
  ASSERT_TRUE(c.build(dir.path(), "m").ok());
  const ParsedManifest m = manifest_in(dir.path(), "m");
  EXPECT_EQ(m.policy, 1);
  EXPECT_EQ(m.flags, 0x02 | 0x10);
  EXPECT_TRUE(m.case_sensitive);
  EXPECT_EQ(m.tier_count, 0);
  EXPECT_EQ(m.gram_size, 1);
  ASSERT_EQ(m.splits.size(), 1u);
  EXPECT_EQ(m.splits[0].tier, 0);
  const testing::VlsFile vls = decode_vls(read_file(dir.file("split-s00000.vls")));
  EXPECT_EQ(vls.version, 4);
  EXPECT_EQ(vls.gram_size, 1);
  ASSERT_EQ(vls.entries.size(), 2u);  // 'A' and 'b', case kept
  // Only the facet TLV: no Bloom filter.
  EXPECT_EQ(m.summary(0).substr(0, 1), "\x02");
  const testing::VlsfFile vlsf = decode_vlsf(read_file(dir.file("split-s00000.vlf")));
  EXPECT_EQ(vlsf.case_sensitive, 1);
  EXPECT_EQ(vlsf.categories.at(0).key, facet_key("F", "x", false));
  EXPECT_EQ(decode_posting(vlsf.categories.at(0).head).ids, std::vector<uint32_t>{1});
}

TEST(SplitSetBuilder, SingleDocumentOverItsCapConsumesTheBuilder) {
  SplitSetBuilderOptions o;
  o.byte_cap = 10, o.name_prefix = "c";
  SplitSetBuilder b = make(o);
  ASSERT_EQ(b.add("").value(), 0u);
  ASSERT_EQ(b.add("hello").value(), 1u);  // the estimate passes 10: a split each
  TempDir dir;
  Result<SplitSetBuildStats> r = b.build(dir.path() + "/x", "index");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kIo);
  // The 16-byte empty body fits no 10-byte cap either: the first split fails.
  EXPECT_EQ(r.error().message(),
            "VLSS split c-s00000.vls: a single document's postings (16 B) exceed the byte cap (10 B)");
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/x"));
  EXPECT_EQ(b.doc_count(), 0u);
  EXPECT_EQ(b.add("x").error().message(), "SplitSetBuilder already built");
}

TEST(SplitSetBuilder, OverlongFacetNameIsRefusedAtAdd) {
  SplitSetBuilder b = make();
  ASSERT_TRUE(b.add_faceted("a", {{std::string(65535, 'f'), {"c"}}}).ok());
  Result<uint32_t> r = b.add_faceted("b", {{"f", {std::string(65536, 'c')}}});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "facet name exceeds the 16-bit length limit");
  EXPECT_EQ(b.doc_count(), 1u);
  ASSERT_EQ(b.add_faceted("c", {{std::string(65536, 'f'), {}}}).value(), 1u);  // stores nothing
  TempDir dir;
  ASSERT_TRUE(b.build(dir.path(), "index").ok());
}

// The shared frame keeps the documents of a failed build (see split_set_retry.h).
TEST(SplitSetBuilder, FailedWriteKeepsTheDocumentsForARetry) {
  std::mt19937_64 rng(9);
  SplitSetBuilderOptions o;
  o.byte_cap = 2000;
  check_failed_build_keeps_documents(make(o), make(o), random_docs(rng, 120), "split-s00000.vls");
}

}  // namespace
}  // namespace vellum
