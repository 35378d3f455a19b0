// Paths to targets, and inspect, verify and lookup over files written by
// the real builders, checked against the documents themselves.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "read/report_target.h"
#include "read/lookup_target.h"
#include "read/verify_target.h"
#include "splitset_build/splitset_builder.h"
#include "terms_dict/term_builder.h"
#include "testing/random_corpus.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

uint64_t as_u64(const Report* r) { return r == nullptr ? ~uint64_t{0} : std::get<uint64_t>(r->value()); }

std::vector<uint64_t> ids_of(const Report& r) {
  std::vector<uint64_t> out;
  for (const Report& id : r.find("ids")->as_list()) out.push_back(std::get<uint64_t>(id.value()));
  return out;
}

Target must_resolve(const std::string& path) {
  Checked<Target> t = resolve_target(path);
  EXPECT_TRUE(t.ok()) << (t.ok() ? "" : t.problem().describe());
  return std::move(t).value();
}

TEST(Report, MapsKeepOrderAndReplaceInPlace) {
  Report m = Report::map().set("b", 1).set("a", "x").set("b", 2.5);
  ASSERT_EQ(m.as_map().size(), 2u);
  EXPECT_EQ(m.as_map()[0].first, "b");
  EXPECT_EQ(std::get<double>(m.find("b")->value()), 2.5);
  EXPECT_EQ(m.find("missing"), nullptr);
  EXPECT_EQ(std::get<int64_t>(Report(-3).value()), -3);
  EXPECT_TRUE(std::holds_alternative<bool>(Report(true).value()));
}

TEST(Report, PostingDistributionStopsAtTheLastNonEmptyBucket) {
  std::array<uint64_t, 32> log2{};
  log2[0] = 4;
  log2[3] = 1;
  Report rows = posting_distribution(log2);
  ASSERT_EQ(rows.as_list().size(), 4u);
  EXPECT_EQ(as_u64(rows.as_list()[3].find("min")), 8u);
  EXPECT_EQ(as_u64(rows.as_list()[3].find("max")), 15u);
  EXPECT_EQ(as_u64(rows.as_list()[3].find("postings")), 1u);
  EXPECT_TRUE(posting_distribution(std::array<uint64_t, 32>{}).as_list().empty());
}

TEST(ResolveTarget, TellsKindsApartAndExplainsTheRest) {
  testing::TempDir dir;
  EXPECT_FALSE(resolve_target(dir.path() + "/none").ok());
  Checked<Target> empty = resolve_target(dir.path());
  ASSERT_FALSE(empty.ok());
  EXPECT_NE(empty.problem().what.find("neither a dataset"), std::string::npos);
  std::ofstream(dir.path() + "/a.vlss") << "VLSS";
  std::ofstream(dir.path() + "/junk") << "XYZW1234";
  EXPECT_EQ(must_resolve(dir.path()).kind, TargetKind::kSplitSet);
  EXPECT_EQ(must_resolve(dir.path()).name, "a.vlss");
  EXPECT_FALSE(resolve_target(dir.path() + "/junk").ok());
  std::ofstream(dir.path() + "/b.vlss") << "VLSS";
  EXPECT_FALSE(resolve_target(dir.path()).ok());
  EXPECT_EQ(must_resolve(dir.path() + "/b.vlss").name, "b.vlss");
}

struct Set {
  testing::TempDir dir;
  std::vector<std::string> texts;
};

void build_set(Set* s, size_t n) {
  SplitSetBuilderOptions o;
  o.byte_cap = 1500;
  o.name_prefix = "p";
  Result<SplitSetBuilder> b = SplitSetBuilder::create(o);
  ASSERT_TRUE(b.ok());
  std::mt19937 rng(7);
  for (size_t i = 0; i < n; ++i) {
    s->texts.push_back(testing::random_text(&rng, 1 + rng() % 6));
    ASSERT_TRUE(b->add_faceted(s->texts.back(), {}).ok());
  }
  ASSERT_TRUE(b->build(s->dir.path(), "index").ok());
}

bool contains_folded(std::string_view text, std::string_view q) {
  const std::vector<uint64_t> doc = ngram_keys(text, 3, true);
  for (uint64_t k : ngram_keys(q, 3, true)) {
    if (std::find(doc.begin(), doc.end(), k) == doc.end()) return false;
  }
  return true;
}

TEST(SplitSetTarget, InspectRowsMatchTheManifestAndLookupsTheDocuments) {
  Set s;
  build_set(&s, 300);
  const Target t = must_resolve(s.dir.path());
  EXPECT_TRUE(verify_target(t).empty());
  Checked<Report> r = inspect_target(t);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  EXPECT_EQ(as_u64(r->find("documents")), 300u);
  const ReportList& rows = r->find("splits")->as_list();
  ASSERT_GT(rows.size(), 2u);
  uint64_t next = 0;
  for (const Report& row : rows) {
    EXPECT_EQ(as_u64(row.find("first_id")), next);
    next = as_u64(row.find("last_id")) + 1;
    const double per_key = std::get<double>(row.find("bloom_bits_per_key")->value());
    EXPECT_DOUBLE_EQ(per_key, double(as_u64(row.find("bloom_bits"))) / double(as_u64(row.find("keys"))));
  }
  EXPECT_EQ(next, 300u);
  // Two substrings: both must occur.
  Checked<Report> hits = lookup_target(t, TargetQuery{{"alp", "eta"}, std::nullopt, false});
  ASSERT_TRUE(hits.ok()) << hits.problem().describe();
  std::vector<uint64_t> want;
  for (size_t i = 0; i < s.texts.size(); ++i) {
    if (contains_folded(s.texts[i], "alp") && contains_folded(s.texts[i], "eta")) want.push_back(i);
  }
  EXPECT_EQ(ids_of(*hits), want);
  Checked<Report> short_query = lookup_target(t, TargetQuery{{"al"}, std::nullopt, false});
  ASSERT_FALSE(short_query.ok());
  EXPECT_NE(short_query.problem().what.find("gram size"), std::string::npos);
}

TEST(TermTarget, LookupAnalysesTheQueryWithTheFileSettings) {
  testing::TempDir dir;
  TermBuilderOptions o;
  o.language = "english";
  o.stopwords = true;
  Result<TermBuilder> b = TermBuilder::create(o);
  ASSERT_TRUE(b.ok());
  TermDocs docs;
  docs.add(0, "The runners were running");
  docs.add(1, "a quiet run");
  docs.add(5, "Nothing here");
  ASSERT_TRUE(b->add_many(docs).ok());
  const std::string path = dir.path() + "/t.vlt";
  ASSERT_TRUE(b->finish(path).ok());
  const Target t = must_resolve(path);
  EXPECT_EQ(t.kind, TargetKind::kTermIndex);
  EXPECT_TRUE(verify_target(t).empty());
  Checked<Report> run = lookup_target(t, TargetQuery{{"RUNS"}, std::nullopt, false});
  ASSERT_TRUE(run.ok()) << run.problem().describe();
  EXPECT_EQ(ids_of(*run), (std::vector<uint64_t>{0, 1}));
  EXPECT_FALSE(lookup_target(t, TargetQuery{{"the"}, std::nullopt, false}).ok());  // a stop word
  EXPECT_FALSE(lookup_target(t, TargetQuery{{"run"}, FacetSelection{"a", "b"}, false}).ok());
  Checked<Report> r = inspect_target(t);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(std::get<std::string>(r->find("header")->find("language")->value()), "english");
  EXPECT_EQ(as_u64(r->find("documents")), 6u);
}

}  // namespace
}  // namespace vellum
