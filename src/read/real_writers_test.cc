// The readers over files written by the real split-set builder and term
// index writer: sound output verifies, lookups agree with the documents,
// and damage to the stored bytes is reported or harmless, never a crash.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/sink.h"
#include "read/dataset_check.h"
#include "read/split_set_check.h"
#include "read/split_set_lookup.h"
#include "read/vlti_reader.h"
#include "read/vlvi_reader.h"
#include "splitset_build/splitset_builder.h"
#include "terms_dict/term_index_writer.h"
#include "vector_build/train_ivfpq.h"
#include "vector_build/vlvi_writer.h"
#include "testing/byte_mutations.h"
#include "testing/random_corpus.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

struct BuiltSet {
  testing::TempDir dir;
  std::vector<std::string> texts;
  std::vector<std::string> langs;
};

void build_set(BuiltSet* s, uint32_t seed, size_t n, bool case_sensitive) {
  SplitSetBuilderOptions o;
  o.byte_cap = 2000;  // many small splits
  o.name_prefix = "p";
  o.stride = 4;
  o.case_sensitive = case_sensitive;
  Result<SplitSetBuilder> b = SplitSetBuilder::create(o);
  ASSERT_TRUE(b.ok());
  std::mt19937 rng(seed);
  for (size_t i = 0; i < n; ++i) {
    s->texts.push_back(testing::random_text(&rng, 1 + rng() % 6));
    s->langs.push_back(rng() % 3 == 0 ? "" : (rng() % 2 ? "en" : "de"));
    FacetList facets;
    if (!s->langs.back().empty()) facets.push_back({"lang", {s->langs.back()}});
    ASSERT_TRUE(b->add_faceted(s->texts.back(), facets).ok());
  }
  ASSERT_TRUE(b->build(s->dir.path(), "index").ok());
}

std::string joined(const std::vector<Problem>& ps) {
  std::string out;
  for (const Problem& p : ps) out += p.describe() + "\n";
  return out;
}

TEST(RealSplitSet, VerifiesAndLookupsAgreeWithTheDocuments) {
  for (bool cs : {false, true}) {
    BuiltSet s;
    build_set(&s, cs ? 2 : 1, 400, cs);
    const ReadFile read = directory_reader(s.dir.path());
    EXPECT_EQ(joined(verify_split_set(read, "index.vlss")), "");
    size_t skipped = 0;
    for (const char* text : {"alpha", "Gamma", "gamma", "café", "kappa mu"}) {
      SetQuery q{text, FacetSelection{"lang", "en"}};
      auto got = lookup_split_set(read, "index.vlss", q);
      ASSERT_TRUE(got.ok()) << got.problem().describe();
      std::set<uint32_t> hits;
      for (const SplitAnswer& a : *got) {
        skipped += a.skipped;
        hits.insert(a.global_ids.begin(), a.global_ids.end());
      }
      for (uint32_t id = 0; id < s.texts.size(); ++id) {
        std::string t = s.texts[id], want = text;
        if (!cs) {
          for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          for (char& c : want) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (t.find(want) != std::string::npos && s.langs[id] == "en") {
          EXPECT_TRUE(hits.count(id)) << text << " " << id;
        }
        if (hits.count(id)) {
          EXPECT_EQ(s.langs[id], "en");
        }
      }
    }
    EXPECT_GT(skipped, 0u);
  }
}

TEST(RealSplitSet, EveryFlipOfTheManifestIsReportedOrHarmless) {
  BuiltSet s;
  build_set(&s, 3, 40, false);
  const std::string manifest = testing::read_file(s.dir.file("index.vlss"));
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(s.dir.path())) {
    files[e.path().filename().string()] = testing::read_file(e.path().string());
  }
  size_t reported = 0, total = 0;
  testing::for_each_flip(manifest, [&](size_t, const std::string& damaged) {
    files["index.vlss"] = damaged;
    const ReadFile read = [&](const std::string& name) -> Result<std::optional<std::string>> {
      auto it = files.find(name);
      if (it == files.end()) return std::optional<std::string>();
      return std::optional<std::string>(it->second);
    };
    ++total;
    reported += !verify_split_set(read, "index.vlss").empty();
  });
  testing::for_each_truncation(manifest, [&](const std::string& cut) {
    files["index.vlss"] = cut;
    const ReadFile read = [&](const std::string& name) -> Result<std::optional<std::string>> {
      return std::optional<std::string>(files.at(name));
    };
    EXPECT_FALSE(verify_split_set(read, "index.vlss").empty()) << cut.size();
  });
  // Bloom bits, tiers, epochs and caps may flip unseen; most bytes may not.
  EXPECT_GT(reported, total / 2);
}

TEST(RealTermIndex, VerifiesAndFindsEveryTerm) {
  std::mt19937 rng(9);
  std::map<std::string, std::vector<uint32_t>> want;
  for (uint32_t id = 0; id < 3000; ++id) {
    for (size_t k = 0; k < 3; ++k) {
      std::string t = "t" + std::to_string(rng() % 700);
      auto& ids = want[t];
      if (ids.empty() || ids.back() != id * 50) ids.push_back(id * 50);
    }
  }
  TermPostings postings;
  for (const auto& [t, ids] : want) {
    TermPosting p{t, Bitmap()};
    p.ids.add_many(ids.data(), ids.size());
    postings.push_back(std::move(p));
  }
  TermIndexOptions o;
  o.head_boundary = 65536;
  o.block_cap = 200;
  std::string bytes;
  StringSink sink(&bytes);
  ASSERT_TRUE(encode_term_index(std::move(postings), o, &sink).ok());
  Checked<VltiReader> r = VltiReader::open("t.vlt", bytes);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  auto s = r->verify();
  ASSERT_TRUE(s.ok()) << s.problem().describe();
  EXPECT_GT(s->blocks, 10u);
  for (const auto& [t, ids] : want) EXPECT_EQ(r->lookup_term(t).value(), ids) << t;
  EXPECT_TRUE(r->lookup_term("t").value().empty());
  EXPECT_TRUE(r->lookup_term("u").value().empty());
}

TEST(RealVectorIndex, TrainedIndexVerifiesAndListsHoldEveryId) {
  std::mt19937 rng(4);
  std::normal_distribution<float> g;
  std::vector<std::vector<float>> values(500, std::vector<float>(8));
  std::vector<VectorRef> refs;
  for (uint32_t i = 0; i < values.size(); ++i) {
    for (float& x : values[i]) x = g(rng);
    refs.push_back({i * 3, values[i]});
  }
  IvfPqParams p;
  p.dim = 8;
  p.nlist = 16;
  p.m = 4;
  p.nbits = 4;
  p.metric = MetricKind::kL2;
  Result<IvfPqIndex> index = train_ivfpq(refs, p);
  ASSERT_TRUE(index.ok()) << index.error().describe();
  std::string bytes;
  StringSink sink(&bytes);
  ASSERT_TRUE(write_vlvi(*index, &sink).ok());
  Checked<VlviReader> r = VlviReader::open("v.vlvi", bytes);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  ASSERT_TRUE(r->verify().ok());
  EXPECT_EQ(r->header().vector_count, 500u);
  std::set<uint32_t> ids;
  for (uint32_t l = 0; l < r->header().nlist; ++l) {
    for (uint32_t id : r->list_ids(l).value()) ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 500u);
  EXPECT_EQ(*ids.rbegin(), 499u * 3);
}

}  // namespace
}  // namespace vellum
