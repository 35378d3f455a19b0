#include "splitset_write/split_set_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "index/posting.h"
#include "splitset/manifest.h"
#include "splitset/manifest_format.h"
#include "splitset_write/memtable.h"
#include "splitset_write/split_postings.h"
#include "splitset_write/split_sequence.h"

namespace vellum {
namespace {

// The running estimate against the serialized sizes of the same sets.
TEST(MemtableTest, EstimateEqualsSerializedSizesAcrossWindows) {
  std::mt19937 rng(3);
  Memtable m(7);
  std::vector<std::vector<uint32_t>> ids(50);
  for (uint32_t doc = 0; doc < 140000; ++doc) {
    std::vector<uint64_t> keys;
    for (uint64_t k = 0; k < 50; ++k) {
      // Key 0 is in every document (bitmap containers); others are rarer.
      if (k == 0 || rng() % (k * 20) == 0) keys.push_back(k * 1000 + 1);
    }
    for (uint64_t k : keys) ids[(k - 1) / 1000].push_back(doc);
    m.add(keys);
  }
  uint64_t want = 0, present = 0;
  for (const auto& set : ids) {
    if (set.empty()) continue;
    ++present;
    want += sorted_ids_posting_size(set.data(), set.size()) + 8;
  }
  want += 24 * present + 8 * ((present + 6) / 7) + 20;
  EXPECT_EQ(m.bytes(), want);
  // An encode whose result is dropped leaves the estimate intact.
  std::string body, bloom;
  ASSERT_TRUE(m.encode(3, 7, true, 10, &body, &bloom).ok());
  m.keep();
  EXPECT_EQ(m.bytes(), want);
  m.add({1});  // key 0's third container is a bitmap already: no growth
  EXPECT_EQ(m.bytes(), want);
  m.add({2});  // a new key: its set, dictionary entry and a new block
  EXPECT_EQ(m.bytes(), want + 8 + 8 + 2 + 8 + 24 + 8 * ((present + 7) / 7 - (present + 6) / 7));
}

TEST(SplitSequenceTest, NumbersOfOwnNamesOnly) {
  EXPECT_EQ(split_number("p-d00003.vls", "p", 'd'), 3u);
  EXPECT_EQ(split_number("p-d+12.vls", "p", 'd'), 12u);
  EXPECT_EQ(split_number("p-d4294967295.vls", "p", 'd'), 4294967295u);
  for (const char* bad : {"p-d.vls", "p-dx1.vls", "p-d+.vls", "p-d4294967296.vls", "p-d1.vlf",
                          "q-d1.vls", "p-c1.vls", "p-d-1.vls"}) {
    EXPECT_FALSE(split_number(bad, "p", 'd').has_value()) << bad;
  }
  std::vector<SplitMeta> splits(3);
  splits[0].name = "p-d00003.vls";
  splits[1].name = "p-d+12.vls";
  splits[2].name = "p-dx99.vls";
  EXPECT_EQ(next_split_number(splits, "p", 'd'), 13u);
  EXPECT_EQ(next_split_number(splits, "p", 'c'), 0u);
}

SplitSetWriter new_writer() {
  Result<SplitSetWriter> w = SplitSetWriter::create(SplitSetWriterOptions());
  EXPECT_TRUE(w.ok());
  return std::move(*w);
}

TEST(SplitSetWriterTest, UnknownPolicyIsRefused) {
  SplitSetWriterOptions o;
  o.policy = "random";
  Result<SplitSetWriter> w = SplitSetWriter::create(o);
  ASSERT_FALSE(w.ok());
  EXPECT_EQ(w.error().kind(), ErrorKind::kInvalidArgument);
}

TEST(SplitSetWriterTest, EpochsContinueAfterResume) {
  SplitSetWriter w = new_writer();
  for (int i = 0; i < 7; ++i) {
    ASSERT_TRUE(w.add("text " + std::to_string(i)).ok());
    ASSERT_TRUE(w.flush().ok());
  }
  Result<std::optional<WrittenSplit>> last = w.flush();
  ASSERT_TRUE(last.ok());
  EXPECT_FALSE(last->has_value());
  w.remove(0);
  Result<std::optional<WrittenSplit>> carrier = w.flush();
  ASSERT_TRUE(carrier.ok() && carrier->has_value());
  Result<SplitSetWriter> r = SplitSetWriter::resume((*carrier)->manifest, ResumeOptions());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->epoch(), 9u);
  EXPECT_EQ(r->doc_count(), 7u);  // the tombstone carrier covers no ids
}

TEST(SplitSetWriterTest, FailedCompactionLeavesTheWriterAsItWas) {
  SplitSetWriter w = new_writer();
  ASSERT_TRUE(w.add("abc def").ok());
  Result<std::optional<WrittenSplit>> d0 = w.flush();
  ASSERT_TRUE(d0.ok());
  const std::vector<SplitMeta> before = w.splits();
  std::string body = (*d0)->body;
  body.resize(body.size() - 1);  // the last posting now runs past the end
  Result<WrittenSplit> out = w.compact({{(*d0)->name, body}});
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error().message(), "VLSS compact: posting out of range");
  EXPECT_EQ(w.splits(), before);
  Result<WrittenSplit> ok = w.compact({{(*d0)->name, (*d0)->body}});
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->name, "split-c00000.vls");
  EXPECT_EQ(w.splits().back().split_flags, kSplitFlagAbsoluteIds);
}

TEST(SplitSetWriterTest, BaseSplitsAreRefusedEvenWithValidBytes) {
  SplitSetWriter w = new_writer();
  ASSERT_TRUE(w.add("abc").ok());
  Result<std::optional<WrittenSplit>> d0 = w.flush();
  ASSERT_TRUE(d0.ok());
  Result<ParsedManifest> parsed = [&]() -> Result<ParsedManifest> {
    FormatResult<ParsedManifest> p = parse_manifest((*d0)->manifest);
    if (!p.ok()) return p.error().to_error();
    return std::move(*p);
  }();
  ASSERT_TRUE(parsed.ok());
  ManifestParams params = parsed->params();
  params.base_count = 1;
  Result<std::string> based = write_manifest(parsed->split_metas(), params);
  ASSERT_TRUE(based.ok());
  Result<SplitSetWriter> r = SplitSetWriter::resume(*based, ResumeOptions());
  ASSERT_TRUE(r.ok());
  Result<WrittenSplit> out = r->compact({{(*d0)->name, (*d0)->body}});
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error().message(),
            "VLSS compact: base splits need a full rebuild, not minor compaction");
}

TEST(SplitSetWriterTest, TombstoneOutsideTheInputsDoesNotAffectTheMerge) {
  SplitSetWriter w = new_writer();
  ASSERT_TRUE(w.add("abc").ok());
  Result<std::optional<WrittenSplit>> d0 = w.flush();
  ASSERT_TRUE(d0.ok());
  w.remove(0);
  ASSERT_TRUE(w.flush().ok());
  Result<WrittenSplit> out = w.compact({{(*d0)->name, (*d0)->body}});
  ASSERT_TRUE(out.ok());
  std::vector<StoredPosting> postings;
  ASSERT_TRUE(read_split_postings(out->body, &postings).ok());
  ASSERT_EQ(postings.size(), 1u);
  EXPECT_EQ(w.splits().back().doc_count, 1u);
  EXPECT_EQ(w.splits().back().split_flags, kSplitFlagAbsoluteIds);
}

// A caller's buffer is asked once for the body's exact length and ends up
// holding the bytes the string form returns.
struct CountingBody final : BodyBuffer {
  char* allocate(size_t size) override {
    ++calls;
    if (fail) throw std::bad_alloc();
    bytes.assign(size, '\x5a');
    return bytes.data();
  }
  int calls = 0;
  bool fail = false;
  std::string bytes;
};

// Three deltas with a tombstone each; the same every time.
SplitSetWriter writer_with_deltas(std::vector<WrittenSplit>* deltas) {
  SplitSetWriter w = new_writer();
  for (int d = 0; d < 3; ++d) {
    for (int i = 0; i < 200; ++i) EXPECT_TRUE(w.add("doc " + std::to_string(d * 7 + i)).ok());
    w.remove(static_cast<uint32_t>(d * 150));
    Result<std::optional<WrittenSplit>> f = w.flush();
    EXPECT_TRUE(f.ok() && f->has_value());
    deltas->push_back(std::move(**f));
  }
  return w;
}

TEST(SplitSetWriterTest, CallerBufferHoldsTheSameBodyAndFailureChangesNothing) {
  std::vector<WrittenSplit> deltas;
  SplitSetWriter w = writer_with_deltas(&deltas);
  std::vector<CompactInput> in;
  for (int d = 2; d >= 0; --d) in.push_back({deltas[d].name, deltas[d].body});
  std::vector<WrittenSplit> unused;
  SplitSetWriter twin = writer_with_deltas(&unused);
  Result<WrittenSplit> by_string = twin.compact(in);
  ASSERT_TRUE(by_string.ok());

  const std::vector<SplitMeta> before = w.splits();
  CountingBody failing;
  failing.fail = true;
  EXPECT_THROW((void)w.compact(in, &failing), std::bad_alloc);
  EXPECT_EQ(w.splits(), before);

  CountingBody body;
  Result<WrittenSplit> out = w.compact(in, &body);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(body.calls, 1);
  EXPECT_TRUE(out->body.empty());
  EXPECT_EQ(body.bytes, by_string->body);
  EXPECT_EQ(out->manifest, by_string->manifest);
  EXPECT_EQ(w.splits().back().size_bytes, body.bytes.size());
}

}  // namespace
}  // namespace vellum
