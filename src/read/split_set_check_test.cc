#include "read/split_set_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "facet/facet_key.h"
#include "facet/facet_sidecar.h"
#include "index/posting.h"
#include "index/vls_writer.h"
#include "read/split_set_lookup.h"
#include "testing/manifest_bytes.h"
#include "testing/memory_files.h"
#include "testing/random_corpus.h"

namespace vellum {
namespace {

using testing::Files;
using testing::from;

struct Doc {
  std::string text;
  std::string lang;  // empty: no facets
};

// A split body from the real VLS writer (local ids) and, for faceted
// splits, a sidecar from the real sidecar writer; the manifest from the
// byte layout. Splits cover consecutive global ids.
struct SetBuilder {
  Files files;
  std::vector<testing::TestSplit> splits;
  uint32_t next_id = 0;

  void add_split(const std::vector<Doc>& docs) {
    std::map<uint64_t, Bitmap> postings;
    std::map<std::string, Bitmap> langs;
    for (uint32_t local = 0; local < docs.size(); ++local) {
      for (uint64_t k : ngram_keys(docs[local].text, 3, true)) postings[k].add(local);
      if (!docs[local].lang.empty()) langs[docs[local].lang].add(local);
    }
    std::vector<IndexEntry> entries;
    std::vector<uint64_t> keys;
    for (auto& [k, b] : postings) {
      entries.push_back({k, serialize_posting(b)});
      keys.push_back(k);
    }
    std::string body;
    EXPECT_TRUE(write_index(&body, 3, 4, std::move(entries), true).ok());
    const std::string name = "p-s0000" + std::to_string(splits.size()) + ".vls";
    std::string summary = testing::tlv(1, testing::bloom(keys, 10));
    if (!langs.empty()) {
      FacetField field{"lang", {}};
      std::vector<uint64_t> present;
      for (auto& [lang, b] : langs) {
        HeadTail ht = split_head_tail(b, 65536);
        field.categories.push_back({lang, ht.head, ht.tail, static_cast<uint32_t>(b.cardinality())});
        present.push_back(facet_key("lang", lang, true));
      }
      std::sort(present.begin(), present.end());
      summary += testing::tlv(2, testing::presence(present));
      std::vector<FacetField> fields;
      fields.push_back(std::move(field));
      EXPECT_TRUE(encode_facet_sidecar(&files[sidecar_name(name)], std::move(fields), true).ok());
    }
    const uint32_t n = static_cast<uint32_t>(docs.size());
    splits.push_back({name, n, next_id, next_id + n - 1, 0, summary, body.size()});
    files[name] = body;
    next_id += n;
  }
  void finish() { files["index.vlss"] = testing::manifest(splits, 0x03); }
};

std::vector<std::vector<Doc>> random_splits(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<Doc>> out(3);
  for (auto& split : out) {
    for (size_t n = 1 + rng() % 30; n > 0; --n) {
      split.push_back({testing::random_text(&rng, 1 + rng() % 5), rng() % 3 == 0 ? "" : (rng() % 2 ? "en" : "de")});
    }
  }
  out[2][0].lang.clear();  // at least one unfaceted document
  return out;
}

SetBuilder sound_set(uint32_t seed) {
  SetBuilder s;
  for (const auto& docs : random_splits(seed)) s.add_split(docs);
  s.finish();
  return s;
}

std::string joined(const std::vector<Problem>& ps) {
  std::string out;
  for (const Problem& p : ps) out += p.describe() + "\n";
  return out;
}

TEST(VerifySplitSet, SoundSetHasNoProblems) {
  SetBuilder s = sound_set(1);
  EXPECT_EQ(joined(verify_split_set(from(&s.files), "index.vlss")), "");
}

TEST(VerifySplitSet, SplitFilesMustMatchTheirRecords) {
  SetBuilder s = sound_set(2);
  s.files["p-s00000.vls"] += "x";                  // size differs
  s.files.erase(sidecar_name("p-s00001.vls"));     // announced sidecar gone
  s.files["p-s00002.vlf"] = s.files["p-s00000.vlf"];  // sidecar without presence... or wrong keys
  const std::vector<Problem> ps = verify_split_set(from(&s.files), "index.vlss");
  const std::string all = joined(ps);
  EXPECT_NE(all.find("index.vlss: split records at byte 88: size_bytes"), std::string::npos) << all;
  EXPECT_NE(all.find("p-s00001.vlf: file at byte 0: file is missing"), std::string::npos) << all;
  EXPECT_NE(all.find("p-s00002.vlf"), std::string::npos) << all;
}

TEST(VerifySplitSet, BloomFilterMustAdmitEveryKey) {
  SetBuilder s;
  const auto docs = random_splits(3);
  s.add_split(docs[0]);
  s.splits[0].summary = testing::tlv(1, testing::bloom({1, 2, 3}, 10)) + s.splits[0].summary.substr(
      5 + GetU32(s.splits[0].summary.data() + 1));
  s.finish();
  const std::string all = joined(verify_split_set(from(&s.files), "index.vlss"));
  EXPECT_NE(all.find("Bloom filter rules out key"), std::string::npos) << all;
}

TEST(VerifySplitSet, IdsMustFitTheRecord) {
  SetBuilder s = sound_set(4);
  s.splits[1].doc_count -= 1;  // postings now hold a local id past doc_count
  s.splits[1].last_id -= 1;
  for (size_t i = 2; i < s.splits.size(); ++i) {
    s.splits[i].first_id -= 1;
    s.splits[i].last_id -= 1;
  }
  s.finish();
  const std::string all = joined(verify_split_set(from(&s.files), "index.vlss"));
  EXPECT_NE(all.find("index.vlss: split records at byte 128: split holds local id"), std::string::npos) << all;
}

TEST(VerifySplitSet, DuplicateNamesAndUnsafeNames) {
  SetBuilder s = sound_set(5);
  s.splits[2].name = s.splits[1].name;
  s.finish();
  EXPECT_NE(joined(verify_split_set(from(&s.files), "index.vlss")).find("split name is used by an earlier split"),
            std::string::npos);
  EXPECT_EQ(joined(verify_split_set(from(&s.files), "other.vlss")), "other.vlss: file at byte 0: file is missing\n");
}

// The lookup must find what a brute-force reader over the documents finds
// among the n-gram candidates, and skip only splits without hits.
TEST(LookupSplitSet, AgreesWithTheDocumentsAndSkipsByBloomAndFacets) {
  const auto splits = random_splits(6);
  SetBuilder s;
  for (const auto& docs : splits) s.add_split(docs);
  s.finish();
  std::vector<Doc> all;
  for (const auto& d : splits) all.insert(all.end(), d.begin(), d.end());
  size_t skipped = 0;
  for (const char* text : {"alpha", "lambda", "café", "theta iota", "zzz"}) {
    for (bool by_lang : {false, true}) {
      SetQuery q{text, std::nullopt};
      if (by_lang) q.facet = FacetSelection{"Lang", "EN"};  // folded set
      auto got = lookup_split_set(from(&s.files), "index.vlss", q);
      ASSERT_TRUE(got.ok()) << got.problem().describe();
      std::set<uint32_t> hits;
      for (const SplitAnswer& a : *got) {
        skipped += a.skipped;
        if (a.skipped) {
          EXPECT_TRUE(a.global_ids.empty());
        }
        hits.insert(a.global_ids.begin(), a.global_ids.end());
      }
      for (uint32_t id = 0; id < all.size(); ++id) {
        const bool contains = all[id].text.find(text) != std::string::npos && (!by_lang || all[id].lang == "en");
        if (contains) {
          EXPECT_TRUE(hits.count(id)) << text << " " << id;
        }
        if (hits.count(id) && by_lang) {
          EXPECT_EQ(all[id].lang, "en");
        }
      }
    }
  }
  EXPECT_GT(skipped, 0u);
  EXPECT_FALSE(lookup_split_set(from(&s.files), "index.vlss", SetQuery{"", std::nullopt}).ok());
}

TEST(LookupSplitSet, TombstonesHideDeletedIds) {
  SetBuilder s;
  s.add_split({{"alpha beta", "en"}, {"alpha", ""}});
  s.splits.push_back({"p-d00000.vls", 0, 2, 2, 1, testing::tlv(4, testing::tombstones({1})), 16});
  std::string empty;
  ASSERT_TRUE(write_index(&empty, 3, 4, {}, true).ok());
  s.files["p-d00000.vls"] = empty;
  s.files["index.vlss"] = testing::manifest(s.splits, 0x0B);
  EXPECT_EQ(joined(verify_split_set(from(&s.files), "index.vlss")), "");
  auto got = lookup_split_set(from(&s.files), "index.vlss", SetQuery{"alpha", std::nullopt});
  ASSERT_TRUE(got.ok()) << got.problem().describe();
  EXPECT_EQ((*got)[0].global_ids, std::vector<uint32_t>{0});
}

}  // namespace
}  // namespace vellum
