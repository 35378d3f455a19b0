#include "read/vls_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "common/coding.h"
#include "index/posting.h"
#include "index/vls_writer.h"
#include "testing/byte_mutations.h"
#include "testing/random_corpus.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::read_file;

VlsReader open_ok(const std::string& bytes) {
  Checked<VlsReader> r = VlsReader::open("index.vls", bytes);
  if (!r.ok()) ADD_FAILURE() << r.problem().describe();
  return std::move(r).value();
}

std::string problem_of(const std::string& bytes) {
  Checked<VlsReader> r = VlsReader::open("index.vls", bytes);
  if (!r.ok()) return r.problem().describe();
  Checked<VlsStats> s = r->verify();
  return s.ok() ? "" : s.problem().describe();
}

// Keys 0, 10, 20, ... each holding ids {k, k + 1}; stride 4.
std::string small_index(uint32_t keys, bool folded = true, uint32_t stride = 4) {
  std::vector<IndexEntry> entries;
  for (uint32_t k = 0; k < keys; ++k) {
    Bitmap b;
    b.add(k);
    b.add(k + 1);
    entries.push_back({10ull * k, serialize_posting(b)});
  }
  std::string out;
  EXPECT_TRUE(write_index(&out, 3, stride, std::move(entries), folded).ok());
  return out;
}

std::vector<uint32_t> intersect_sorted_for_test(const std::vector<uint32_t>& a,
                                                const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

// The strict test decoder's verdict on a whole file, postings included.
bool test_decoder_accepts(const std::string& bytes) {
  try {
    for (const auto& e : testing::decode_vls(bytes).entries) testing::decode_posting(e.posting);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TEST(VlsReader, BuilderDatasetVerifiesAndLookupsAgreeWithTheTestDecoder) {
  testing::TempDir dir;
  const auto docs = testing::build_dataset(dir.path(), testing::random_records(1, 300, false));
  const std::string bytes = read_file(dir.file("index.vls"));
  VlsReader r = open_ok(bytes);
  Checked<VlsStats> s = r.verify();
  ASSERT_TRUE(s.ok()) << s.problem().describe();
  EXPECT_EQ(r.header().version, 3);
  EXPECT_LE(s->doc_span, docs.size());

  const testing::VlsFile f = testing::decode_vls(bytes);
  std::map<uint64_t, std::vector<uint32_t>> truth;
  for (const auto& e : f.entries) truth[e.key] = testing::decode_posting(e.posting).ids;
  uint64_t total = 0;
  for (const auto& [k, ids] : truth) total += ids.size();
  EXPECT_EQ(s->total_ids, total);

  std::mt19937 rng(5);
  for (int q = 0; q < 200; ++q) {
    const std::string& text = docs[rng() % docs.size()].text;
    const size_t from = rng() % text.size();
    const std::string query = text.substr(from, 1 + rng() % 9);
    Checked<std::optional<std::vector<uint32_t>>> got = r.lookup_text(query);
    ASSERT_TRUE(got.ok()) << got.problem().describe();
    const std::vector<uint64_t> keys = ngram_keys(query, 3, true);
    if (keys.empty()) {
      EXPECT_FALSE(got->has_value());
      continue;
    }
    std::vector<uint32_t> want = truth[keys[0]];
    for (uint64_t k : keys) want = intersect_sorted_for_test(want, truth[k]);
    ASSERT_TRUE(got->has_value());
    EXPECT_EQ(**got, want) << query;
  }
}

TEST(VlsReader, CandidatesIncludeEveryDocumentContainingTheQuery) {
  testing::TempDir dir;
  const auto docs = testing::build_dataset(dir.path(), testing::random_records(2, 200, false));
  const std::string bytes = read_file(dir.file("index.vls"));
  VlsReader r = open_ok(bytes);
  for (const char* query : {"alpha", "lambda", "kappa iota", "café", "CAFÉ", "ΩMEGA"}) {
    auto got = r.lookup_text(query);
    ASSERT_TRUE(got.ok() && got->has_value());
    const std::set<uint32_t> hits((*got)->begin(), (*got)->end());
    for (uint32_t id = 0; id < docs.size(); ++id) {
      if (docs[id].text.find(query) != std::string::npos) {
        EXPECT_TRUE(hits.count(id)) << query << id;
      }
    }
  }
}

TEST(VlsReader, FindWalksSparseBlocks) {
  const std::string bytes = small_index(13);  // blocks of 4: 4 sparse entries
  VlsReader r = open_ok(bytes);
  EXPECT_EQ(r.header().block_count, 4u);
  for (uint64_t key = 0; key <= 130; ++key) {
    auto e = r.find(key);
    ASSERT_TRUE(e.ok());
    ASSERT_EQ(e->has_value(), key % 10 == 0 && key < 130) << key;
    if (!e->has_value()) continue;
    auto ids = r.posting_ids(**e);
    ASSERT_TRUE(ids.ok());
    EXPECT_EQ(*ids, (std::vector<uint32_t>{uint32_t(key / 10), uint32_t(key / 10 + 1)}));
  }
  EXPECT_FALSE(r.find(~0ull).value().has_value());
}

TEST(VlsReader, EmptyAndCaseSensitiveFiles) {
  for (bool folded : {true, false}) {
    const std::string empty = small_index(0, folded);
    EXPECT_EQ(empty.size(), folded ? 16u : 18u);
    EXPECT_EQ(problem_of(empty), "");
    VlsReader r = open_ok(empty);
    EXPECT_EQ(r.header().case_sensitive, !folded);
    EXPECT_FALSE(r.find(0).value().has_value());
  }
  EXPECT_EQ(problem_of(small_index(9, false)), "");
}

TEST(VlsReader, ProblemsNameRegionAndOffset) {
  std::string b = small_index(6);
  // Layout: header 16, sparse 2 x 8, dictionary from 32.
  std::string swapped = b;
  EncodeU64(swapped.data() + 32 + 20, 0);  // key 1 becomes 0
  EXPECT_EQ(problem_of(swapped), "index.vls: dictionary at byte 52: keys are not strictly ascending");
  std::string sparse = b;
  EncodeU64(sparse.data() + 24, 41);
  EXPECT_EQ(problem_of(sparse), "index.vls: sparse index at byte 24: key differs from the first key of its block");
  std::string gap = b;
  EncodeU64(gap.data() + 32 + 8, 153);
  EXPECT_EQ(problem_of(gap),
            "index.vls: dictionary at byte 40: posting offset does not follow the previous posting");
  EXPECT_EQ(problem_of(b + "z"), "index.vls: postings at byte " + std::to_string(b.size()) +
                                     ": bytes follow the last posting");
  std::string dup = b;
  dup[b.size() - 2] = dup[b.size() - 4];  // last array value equals the one before
  EXPECT_EQ(problem_of(dup), "index.vls: postings at byte " + std::to_string(b.size() - 2) +
                                 ": array container values are not strictly ascending");
  std::string magic = b;
  magic[3] = 'X';
  EXPECT_EQ(problem_of(magic), "index.vls: header at byte 0: bad magic, expected VLSI");
  EXPECT_EQ(problem_of(b.substr(0, 40)), "index.vls: dictionary at byte 40: file ends inside the dictionary");
}

TEST(VlsReader, EverySingleByteFlipIsCaughtOrHarmless) {
  const std::string b = small_index(10);
  const uint64_t dict = 16 + 8 * 3;
  testing::for_each_flip(b, [&](size_t pos, const std::string& damaged) {
    const std::string p = problem_of(damaged);
    if (!test_decoder_accepts(damaged)) {
      EXPECT_NE(p, "") << pos;
    }
    // Only gram_size (any non-zero value), keys that stay ordered and
    // posting values that stay ordered carry no checked meaning.
    const bool structural = pos < 6 || (pos >= 8 && pos < 16) ||
                            (pos >= dict && pos < dict + 200 && (pos - dict) % 20 >= 8);
    if (structural) {
      EXPECT_NE(p, "") << pos;
    }
  });
  testing::for_each_truncation(b, [](const std::string& cut) { EXPECT_NE(problem_of(cut), "") << cut.size(); });
}

}  // namespace
}  // namespace vellum
