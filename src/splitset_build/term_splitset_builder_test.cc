#include "splitset_build/term_splitset_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/term_analyzer.h"
#include "common/coding.h"
#include "facet/facet_key.h"
#include "splitset/manifest.h"
#include "splitset/summary_tlv.h"
#include "splitset_build/cap_schedule.h"
#include "splitset_build/split_name.h"
#include "testing/split_set_retry.h"
#include "testing/test_files.h"
#include "testing/vlt_reader.h"

namespace vellum {
namespace {

using testing::decode_posting;
using testing::decode_vlsf;
using testing::all_files;
using testing::check_failed_build_keeps_documents;
using testing::decode_vlt;
using testing::read_file;
using testing::TempDir;

TermSplitSetBuilder make(TermSplitSetBuilderOptions o = {}) {
  Result<TermSplitSetBuilder> b = TermSplitSetBuilder::create(o);
  EXPECT_TRUE(b.ok()) << b.error().message();
  return std::move(b).value();
}

ParsedManifest manifest_in(const std::string& dir, const std::string& name = "index") {
  FormatResult<ParsedManifest> m = parse_manifest(read_file(dir + "/" + name + ".vlss"));
  EXPECT_TRUE(m.ok()) << m.error().text();
  return m.ok() ? std::move(m).value() : ParsedManifest();
}

TermOpenSplit open_split() {
  return TermOpenSplit(TermVocabulary(TermAnalyzer::create(std::nullopt, std::nullopt, false, false).value()),
                       TermIndexOptions{});
}

TEST(TermOpenSplit, NewTermsCountTheirLengthAndRepeatsTwoBytes) {
  TermOpenSplit open = open_split();
  std::vector<uint32_t> t = open.distinct_terms("alpha beta Alpha");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(open.doc_estimate(t), 31u + 30u);
  open.add(0, t, 61);
  EXPECT_EQ(open.estimate(), 61u);
  t = open.distinct_terms("alpha gamma");
  EXPECT_EQ(open.doc_estimate(t), 2u + 31u);
  EXPECT_TRUE(open.exceeds(33, 221));  // 61 + 33 + 128 = 222
  EXPECT_FALSE(open.exceeds(33, 222));
  open.add(1, t, 33);
  t = open.distinct_terms("beta alpha gamma gamma");  // identical terms again: 2 each
  EXPECT_EQ(t.size(), 3u);
  EXPECT_EQ(open.doc_estimate(t), 6u);
  EXPECT_FALSE(open.exceeds(6, UINT64_MAX));  // slack must not wrap past the cap
  EXPECT_TRUE(open.exceeds(6, 127));
  open.clear();
  EXPECT_EQ(open.estimate(), 0u);
  EXPECT_EQ(open.doc_estimate(open.distinct_terms("alpha")), 31u);
}

// An encode that is not followed by clear() (a build whose writing failed)
// must leave the split able to take documents and encode the same again.
TEST(TermOpenSplit, EncodeLeavesTheSplitAsItWas) {
  TermOpenSplit open = open_split();
  const std::vector<uint32_t> first_terms = open.distinct_terms("red apple");
  open.add(0, first_terms, open.doc_estimate(first_terms));
  std::string first, summary;
  ASSERT_TRUE(open.encode(&first, &summary).ok());
  EXPECT_TRUE(summary.empty());
  EXPECT_EQ(open.term_count(), 2u);
  const std::vector<uint32_t> t = open.distinct_terms("red car");
  EXPECT_EQ(open.doc_estimate(t), 2u + 29u);
  open.add(1, t, 31);
  std::string second;
  ASSERT_TRUE(open.encode(&second, &summary).ok());
  const testing::VltFile f = decode_vlt(second);
  ASSERT_EQ(f.terms.size(), 3u);
  EXPECT_EQ(f.terms[2].term, "red");
  EXPECT_EQ(f.terms[2].tail, (std::vector<uint32_t>{0, 1}));  // boundary 0: all in the tail
}

TEST(TermSplitSetBuilder, ByteCap200SealsAndByteCap222Shares) {
  for (uint64_t cap : {200u, 222u}) {
    TermSplitSetBuilderOptions o;
    o.byte_cap = cap;
    TermSplitSetBuilder b = make(o);
    EXPECT_EQ(b.add("alpha beta").value(), 0u);
    EXPECT_EQ(b.add("alpha gamma").value(), 1u);
    TempDir dir;
    Result<SplitSetBuildStats> stats = b.build(dir.path(), "index");
    ASSERT_TRUE(stats.ok()) << stats.error().message();
    const ParsedManifest m = manifest_in(dir.path());
    ASSERT_EQ(m.splits.size(), cap == 200 ? 2u : 1u) << cap;
    EXPECT_EQ(m.splits.back().last_id, 1u);
    const testing::VltFile last = decode_vlt(read_file(dir.file(m.splits.back().name)));
    ASSERT_EQ(last.terms.size(), cap == 200 ? 2u : 3u);
    EXPECT_EQ(last.terms[0].head, (cap == 200 ? std::vector<uint32_t>{0} : std::vector<uint32_t>{0, 1}));
  }
}

TEST(TermSplitSetBuilder, EmptyBuilderWritesAZeroSplitTermManifest) {
  TempDir dir;
  TermSplitSetBuilder b = make();
  Result<SplitSetBuildStats> stats = b.build(dir.path(), "m");
  ASSERT_TRUE(stats.ok());
  EXPECT_EQ(stats->splits + stats->docs + stats->total_bytes, 0u);
  EXPECT_EQ(all_files(dir.path()).size(), 1u);
  const ParsedManifest m = manifest_in(dir.path(), "m");
  EXPECT_TRUE(m.splits.empty());
  EXPECT_EQ(m.body_kind, 1);
  EXPECT_EQ(m.gram_size, 0);
  EXPECT_EQ(m.flags, 0);
}

TEST(TermSplitSetBuilder, SingleDocumentOverItsCapConsumesTheBuilder) {
  TermSplitSetBuilderOptions o;
  o.byte_cap = 50, o.name_prefix = "c";
  TermSplitSetBuilder b = make(o);
  ASSERT_EQ(b.add("one").value(), 0u);
  ASSERT_EQ(b.add("two").value(), 1u);  // 29 + 29 + 128 > 50: a split each
  TempDir dir;
  Result<SplitSetBuildStats> r = b.build(dir.path() + "/x", "index");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kIo);
  const std::string& msg = r.error().message();
  EXPECT_EQ(msg.rfind("VLSS term split c-s00000.vlt: a single document's postings (", 0), 0u) << msg;
  EXPECT_NE(msg.find(" B) exceed the byte cap (50 B)"), std::string::npos) << msg;
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/x"));
  EXPECT_EQ(b.doc_count(), 0u);
  EXPECT_EQ(b.add("x").error().message(), "TermSplitSetBuilder already built");
  EXPECT_EQ(b.add_faceted("x", {{"f", {"c"}}}).error().kind(), ErrorKind::kFinished);
  EXPECT_EQ(b.build(dir.path(), "index").error().message(), "TermSplitSetBuilder already built");
}

TEST(TermSplitSetBuilder, LanguageSettingsAreCheckedBeforeThePolicy) {
  TermSplitSetBuilderOptions o;
  o.policy = "bogus";
  o.stopwords = true;
  Result<TermSplitSetBuilder> r = TermSplitSetBuilder::create(o);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), kNoLanguageMessage);
  o.stopwords = false;
  o.language = "xx";
  EXPECT_EQ(TermSplitSetBuilder::create(o).error().message(), unknown_language_message("xx"));
  o.language.reset();
  r = TermSplitSetBuilder::create(o);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(r.error().message(), "unknown policy bogus; use 'tiered' or 'stable_key'");
}

struct Doc {
  std::string text;
  FacetList facets;
};

std::vector<Doc> random_docs(std::mt19937_64& rng, size_t n) {
  static const std::vector<std::string> words = {
      "Running", "runs", "the", "and", "Épée", "épée", "cats", "cat", "漢字", "x1", "over", "ÉTÉ"};
  std::vector<Doc> docs(n);
  for (Doc& d : docs) {
    for (int w = rng() % 9; w > 0; --w) d.text += words[rng() % words.size()] + (rng() % 4 ? " " : ", ");
    if (rng() % 3 == 0) d.facets.push_back({"Lang", {rng() % 2 ? "en" : "EN", "fr"}});
    if (rng() % 7 == 0) d.facets.push_back({"empty", {}});
  }
  return docs;
}

// Where the seal rule puts each document, modelled from the rule itself.
std::vector<uint32_t> expected_starts(const std::vector<std::vector<std::string>>& terms,
                                      const CapSchedule& caps) {
  std::vector<uint32_t> starts;
  std::set<std::string> seen;
  uint64_t estimate = 0;
  for (uint32_t id = 0; id < terms.size(); ++id) {
    uint64_t doc = 0;
    for (const std::string& t : terms[id]) doc += seen.count(t) ? 2 : t.size() + 26;
    if (starts.empty() || estimate + doc + 128 > caps.cap(starts.size() - 1)) {
      starts.push_back(id);
      seen.clear();
      estimate = 0;
      doc = 0;
      for (const std::string& t : terms[id]) doc += t.size() + 26;
    }
    seen.insert(terms[id].begin(), terms[id].end());
    estimate += doc;
  }
  return starts;
}

void check_split_set(const TermSplitSetBuilderOptions& o, uint32_t seed) {
  std::mt19937_64 rng(seed);
  const std::vector<Doc> docs = random_docs(rng, 300);
  const TermAnalyzer analyzer =
      TermAnalyzer::create(o.language, o.stem, o.stopwords, o.case_sensitive).value();
  std::vector<std::vector<std::string>> terms;
  for (const Doc& d : docs) {
    std::vector<std::string> t = analyze_terms(analyzer, d.text);
    std::sort(t.begin(), t.end());
    t.erase(std::unique(t.begin(), t.end()), t.end());
    terms.push_back(std::move(t));
  }
  TermSplitSetBuilder b = make(o);
  for (uint32_t i = 0; i < docs.size(); ++i) ASSERT_EQ(b.add_faceted(docs[i].text, docs[i].facets).value(), i);
  TempDir dir;
  Result<SplitSetBuildStats> stats = b.build(dir.path(), "idx");
  ASSERT_TRUE(stats.ok()) << stats.error().describe();
  const ParsedManifest m = manifest_in(dir.path(), "idx");
  const std::vector<uint32_t> starts = expected_starts(terms, CapSchedule(o.byte_cap, o.byte_cap_max));
  ASSERT_EQ(m.splits.size(), starts.size());
  ASSERT_GT(starts.size(), 3u);
  EXPECT_EQ(stats->docs, docs.size());
  EXPECT_EQ(m.body_kind, 1);
  EXPECT_EQ(m.gram_size, 0);
  EXPECT_EQ(m.flags, 0x02 | (o.case_sensitive ? 0x10 : 0));
  const std::map<std::string, std::string> files = all_files(dir.path());
  uint64_t total = 0;
  size_t sidecars = 0;
  for (size_t s = 0; s < starts.size(); ++s) {
    SCOPED_TRACE("split " + std::to_string(s));
    const ParsedSplit& sp = m.splits[s];
    const uint32_t end = s + 1 < starts.size() ? starts[s + 1] : docs.size();
    EXPECT_EQ(sp.name, split_file_name(o.name_prefix, 's', s, ".vlt"));
    EXPECT_EQ(sp.first_id, starts[s]);
    EXPECT_EQ(sp.last_id, end - 1);
    EXPECT_EQ(sp.tier, o.policy == "tiered" ? s : 0);
    std::map<std::string, std::vector<uint32_t>> postings;
    std::map<std::pair<std::string, std::string>, std::set<uint32_t>> cats;
    for (uint32_t id = starts[s]; id < end; ++id) {
      for (const std::string& t : terms[id]) postings[t].push_back(id - starts[s]);
      for (const auto& [f, cs] : docs[id].facets) {
        for (const std::string& c : cs) cats[{f, c}].insert(id - starts[s]);
      }
    }
    const std::string& body = files.at(sp.name);
    EXPECT_EQ(sp.size_bytes, body.size());
    total += body.size();
    const testing::VltFile f = decode_vlt(body);
    EXPECT_EQ(f.header.head_boundary, o.head_boundary == 0 ? 65536u : o.head_boundary);
    EXPECT_EQ(f.header.block_cap, 4096u);
    ASSERT_EQ(f.terms.size(), postings.size());
    size_t i = 0;
    for (const auto& [term, ids] : postings) {
      EXPECT_EQ(f.terms[i].term, term);
      std::vector<uint32_t> got = f.terms[i].head;
      got.insert(got.end(), f.terms[i].tail.begin(), f.terms[i].tail.end());
      EXPECT_EQ(got, ids) << term;
      ++i;
    }
    const std::string_view summary = m.summary(s);
    EXPECT_FALSE(find_tlv(summary, 1).value().has_value());  // never a Bloom filter
    const std::optional<std::string_view> presence = find_tlv(summary, 2).value();
    const std::string sidecar_name = split_file_name(o.name_prefix, 's', s, ".vlf");
    ASSERT_EQ(presence.has_value(), !cats.empty());
    ASSERT_EQ(files.count(sidecar_name), cats.empty() ? 0u : 1u);
    if (cats.empty()) continue;
    ++sidecars;
    std::set<uint64_t> keys;
    for (const auto& [pair, ids] : cats) keys.insert(facet_key(pair.first, pair.second, !o.case_sensitive));
    ASSERT_EQ(GetU32(presence->data()), keys.size());
    const std::string& sidecar = files.at(sidecar_name);
    total += sidecar.size();
    const testing::VlsfFile vlsf = decode_vlsf(sidecar);
    ASSERT_EQ(vlsf.fields.size(), 1u);  // "empty" never appears
    for (const testing::VlsfCategory& c : vlsf.categories) {
      std::vector<uint32_t> ids = decode_posting(c.head).ids;
      EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()), cats.at({"Lang", c.name}));
    }
  }
  EXPECT_EQ(files.size(), 1 + starts.size() + sidecars);
  EXPECT_EQ(stats->total_bytes, total);
  EXPECT_EQ(b.doc_count(), 0u);
}

TEST(TermSplitSetBuilder, SplitsHoldEveryTermAtItsLocalIds) {
  TermSplitSetBuilderOptions o;
  o.byte_cap = 400, o.byte_cap_max = 1000, o.name_prefix = "corpus";
  check_split_set(o, 1);
}

TEST(TermSplitSetBuilder, StemmedStopwordCaseSensitiveStableKey) {
  TermSplitSetBuilderOptions o;
  o.byte_cap = 450, o.policy = "ingest", o.language = "english", o.stopwords = true;
  o.case_sensitive = true, o.head_boundary = 0;
  check_split_set(o, 2);
  o.case_sensitive = false, o.stem = false, o.language = "french", o.head_boundary = 131072;
  check_split_set(o, 3);
}

// The shared frame keeps the documents of a failed build (see split_set_retry.h).
TEST(TermSplitSetBuilder, FailedWriteKeepsTheDocumentsForARetry) {
  std::mt19937_64 rng(9);
  TermSplitSetBuilderOptions o;
  o.byte_cap = 800, o.language = "english";
  check_failed_build_keeps_documents(make(o), make(o), random_docs(rng, 120), "split-s00000.vlt");
}

}  // namespace
}  // namespace vellum
