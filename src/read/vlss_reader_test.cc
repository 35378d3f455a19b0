#include "read/vlss_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/coding.h"
#include "index/posting.h"
#include "testing/byte_mutations.h"
#include "testing/manifest_bytes.h"

namespace vellum {
namespace {

using testing::bloom;
using testing::TestSplit;
using testing::manifest;
using testing::presence;
using testing::tlv;
using testing::tombstones;

// Base split set: three relative splits with Bloom filters, one faceted.
std::string base_set() {
  return manifest({{"p-s00000.vls", 4, 0, 3, 0, tlv(1, bloom({1, 2, 3}, 10)) + tlv(2, presence({5, 9}))},
                   {"p-s00001.vls", 2, 4, 5, 0, tlv(1, bloom({7}, 10))},
                   {"p-s00002.vls", 1, 6, 6, 0, tlv(1, bloom({}, 10))}},
                  0x03, 0, "rank");
}

// Base, a delta deleting 1 and 8, and a compacted split covering 7..9.
std::string writer_set() {
  return manifest({{"p-s00000.vls", 7, 0, 6, 0, tlv(1, bloom({1}, 10))},
                   {"p-d00001.vls", 1, 10, 10, 1, tlv(1, bloom({2}, 10)) + tlv(4, tombstones({1, 8})), 100, 2},
                   {"p-c00000.vls", 2, 7, 9, 3, tlv(1, bloom({3}, 10)) + tlv(4, tombstones({8})), 100, 1}},
                  0x09);
}

std::string problem_of(const std::string& bytes) {
  Checked<VlssReader> r = VlssReader::open("index.vlss", bytes);
  if (!r.ok()) return r.problem().describe();
  auto s = r->verify();
  return s.ok() ? "" : s.problem().describe();
}

TEST(VlssReader, ReadsEveryFieldOfABaseSet) {
  const std::string b = base_set();
  Checked<VlssReader> r = VlssReader::open("index.vlss", b);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  auto sums = r->verify();
  ASSERT_TRUE(sums.ok()) << sums.problem().describe();
  EXPECT_EQ(r->header().flags, 0x03);
  EXPECT_EQ(r->header().gram_size, 3);
  EXPECT_EQ(r->sortcol_name(), "rank");
  EXPECT_EQ(r->header().sortcol_num, 7);
  ASSERT_EQ(r->splits().size(), 3u);
  EXPECT_EQ(r->splits()[1].name, "p-s00001.vls");
  EXPECT_EQ(r->splits()[1].first_id, 4u);
  const SplitSummary& s0 = (*sums)[0];
  ASSERT_TRUE(s0.bloom && s0.facet_keys);
  EXPECT_EQ(*s0.facet_keys, (std::vector<uint64_t>{5, 9}));
  for (uint64_t k : {1, 2, 3}) EXPECT_TRUE(s0.bloom->may_contain(k));
  EXPECT_EQ((*sums)[2].bloom->bits(), 64u);  // no keys: one key's worth, at least 64
}

TEST(VlssReader, BloomFilterOfAThousandKeys) {
  std::vector<uint64_t> keys;
  for (uint64_t i = 0; i < 1000; ++i) keys.push_back(i * 0x10001);
  const std::string payload = bloom(keys, 10);
  EXPECT_EQ(payload.size(), 1258u);
  const std::string summary = tlv(1, payload);  // the filter views these bytes
  auto s = read_split_summary(ProblemSite("m"), 0, summary);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(s->bloom->probes(), 7u);
  EXPECT_EQ(s->bloom->bits(), 10000u);
  size_t false_positives = 0;
  for (uint64_t k : keys) EXPECT_TRUE(s->bloom->may_contain(k));
  for (uint64_t k = 1; k <= 10000; ++k) false_positives += s->bloom->may_contain(k * 0x10001 + 5);
  EXPECT_LT(false_positives, 300u);  // about 0.8% expected
}

TEST(VlssReader, WriterSetWithTombstonesAndACompactedSplit) {
  EXPECT_EQ(problem_of(writer_set()), "");
  EXPECT_EQ(problem_of(manifest({}, 0)), "");
  EXPECT_EQ(manifest({}, 0).size(), 64u);
}

TEST(VlssReader, ManifestProblems) {
  const std::string ok = base_set();
  EXPECT_EQ(problem_of(ok.substr(0, 63)), "index.vlss: header at byte 0: malformed index: short VLSS header");
  std::string magic = ok;
  magic[0] = 'X';
  EXPECT_EQ(problem_of(magic), "index.vlss: header at byte 0: bad magic [88, 76, 83, 83], expected VLSI");
  std::string base = ok;
  EncodeU32(base.data() + 16, 4);
  EXPECT_EQ(problem_of(base), "index.vlss: header at byte 16: malformed index: VLSS base count exceeds split count");
  EXPECT_EQ(problem_of(manifest({{"../x.vls", 1, 0, 0, 0, ""}}, 0)),
            "index.vlss: string blob at byte 120: split name is not a plain file name");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 1, 0, 0, 1, ""}}, 0x08)),
            "index.vlss: split records at byte 84: tombstone flag disagrees with the summary");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 2, 0, 1, 0, ""}, {"b.vls", 2, 1, 2, 0, ""}}, 0)),
            "index.vlss: split records at byte 132: id range overlaps another split's");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 2, 0, 1, 0, ""}, {"b.vls", 2, 3, 4, 0, ""}}, 0)),
            "index.vlss: split records at byte 132: ids 2 to 2 belong to no split and are not deleted");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 2, 0, 1, 0, ""}, {"b.vls", 2, 3, 4, 1, tlv(4, tombstones({2}))}}, 0x08)),
            "");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 2, 0, 1, 1, tlv(4, tombstones({2}))}}, 0x08)),
            "index.vlss: summary blob at byte 125: tombstone names id 2, beyond every split");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 3, 0, 1, 0, ""}}, 0)),
            "index.vlss: split records at byte 72: doc_count does not fit the id range");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 1, 0, 0, 0, tlv(2, presence({1})) + tlv(1, bloom({1}, 10))}}, 0)),
            "index.vlss: summary blob at byte 142: TLV kinds are repeated or out of order");
  EXPECT_EQ(problem_of(manifest({{"a.vls", 1, 0, 0, 0, tlv(2, presence({3, 3}))}}, 0)),
            "index.vlss: summary blob at byte 142: facet presence keys are not strictly ascending");
  EXPECT_EQ(problem_of(manifest({{"a.vlt", 1, 0, 0, 0, tlv(1, bloom({1}, 10))}}, 0, 1, "", 0)),
            "index.vlss: summary blob at byte 125: term split summary holds a Bloom filter or tombstones");
  std::string name = manifest({{"a.vls", 1, 0, 0, 0, ""}}, 0);
  EncodeU32(name.data() + 64, 9);
  EXPECT_EQ(problem_of(name), "index.vlss: split records at byte 64: malformed index: VLSS name out of string blob");
  std::string summary = manifest({{"a.vls", 1, 0, 0, 0, tlv(2, presence({1}))}}, 0);
  EncodeU32(summary.data() + 64 + 48, 99);
  EXPECT_EQ(problem_of(summary),
            "index.vlss: split records at byte 104: malformed index: VLSS summary out of summary blob");
  std::string reserved = ok;
  reserved[60] = 1;
  EXPECT_EQ(problem_of(reserved), "index.vlss: header at byte 60: reserved byte is not 0");
}

TEST(VlssReader, EverySingleByteFlipIsCaughtOrHarmless) {
  for (const std::string& b : {base_set(), writer_set()}) {
    const uint32_t splits = GetU32(b.data() + 12);
    testing::for_each_flip(b, [&](size_t pos, const std::string& damaged) {
      const std::string p = problem_of(damaged);
      // The fields that locate or frame bytes must be caught; others
      // (policy, tiers, caps, ids, epochs, flags the summaries do not
      // contradict) can take other plausible values.
      const bool header_framing = pos < 6 || (pos >= 12 && pos < 16) || (pos >= 20 && pos < 32) ||
                                  (pos >= 40 && pos < 46) || pos >= 51;
      const bool in_records = pos >= 64 && pos < 64 + 56 * size_t{splits};
      const size_t field = (pos - 64) % 56;
      const bool record_framing = in_records && (field < 6 || (field >= 20 && field < 24) || field >= 40);
      if ((pos < 64 && header_framing) || record_framing) {
        EXPECT_NE(p, "") << pos;
      }
    });
    testing::for_each_truncation(b, [](const std::string& cut) { EXPECT_NE(problem_of(cut), ""); });
  }
}

}  // namespace
}  // namespace vellum
