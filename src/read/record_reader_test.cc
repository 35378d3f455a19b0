#include "read/record_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/coding.h"
#include "testing/byte_mutations.h"
#include "testing/random_corpus.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::read_file;

std::string problem_of(const std::string& idx, uint64_t bin_size) {
  Checked<RecordReader> r = RecordReader::open("records.idx", idx, bin_size);
  if (!r.ok()) return r.problem().describe();
  Check c = r->verify();
  return c.ok() ? "" : c.problem().describe();
}

bool test_decoder_accepts(const std::string& bin, const std::string& idx) {
  try {
    testing::decode_records(bin, idx);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TEST(RecordReader, BuilderRecordsVerifyAndEveryRangeIsTheRecord) {
  testing::TempDir dir;
  const auto docs = testing::build_dataset(dir.path(), testing::random_records(3, 120, false));
  const std::string bin = read_file(dir.file("records.bin"));
  const std::string idx = read_file(dir.file("records.idx"));
  Checked<RecordReader> r = RecordReader::open("records.idx", idx, bin.size());
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  ASSERT_TRUE(r->verify().ok());
  ASSERT_EQ(r->record_count(), docs.size());
  for (uint32_t id = 0; id < docs.size(); ++id) {
    auto range = r->range(id);
    ASSERT_TRUE(range.ok());
    EXPECT_EQ(bin.substr(range->begin, range->end - range->begin), docs[id].record);
  }
  EXPECT_FALSE(r->range(static_cast<uint32_t>(docs.size())).ok());
}

TEST(RecordReader, EmptyStoreAndNamedProblems) {
  std::string idx = "VLSR";
  PutU16(&idx, 1);
  PutU16(&idx, 0);
  PutU32(&idx, 2);
  PutU32(&idx, 0);
  for (uint64_t off : {0, 3, 8}) PutU64(&idx, off);
  EXPECT_EQ(problem_of(idx, 8), "");
  EXPECT_EQ(problem_of(idx, 9), "records.idx: offsets at byte 32: last offset is not the length of records.bin (9)");
  std::string down = idx;
  EncodeU64(down.data() + 24, 9);
  EXPECT_EQ(problem_of(down, 8), "records.idx: offsets at byte 32: offsets decrease");
  EXPECT_EQ(problem_of(idx + "x", 8), "records.idx: offsets at byte 40: bytes follow the offset table");
  EXPECT_EQ(problem_of(idx.substr(0, 39), 8), "records.idx: offsets at byte 39: file ends inside the offset table");

  testing::TempDir dir;
  testing::build_dataset(dir.path(), {});
  EXPECT_EQ(problem_of(read_file(dir.file("records.idx")), 0), "");
}

TEST(RecordReader, EverySingleByteFlipIsCaughtOrHarmless) {
  testing::TempDir dir;
  testing::build_dataset(dir.path(), testing::random_records(4, 6, false));
  const std::string bin = read_file(dir.file("records.bin"));
  const std::string idx = read_file(dir.file("records.idx"));
  testing::for_each_flip(idx, [&](size_t pos, const std::string& damaged) {
    const std::string p = problem_of(damaged, bin.size());
    if (!test_decoder_accepts(bin, damaged) || pos < 16) {
      EXPECT_NE(p, "") << pos;
    }
  });
  testing::for_each_truncation(idx, [&](const std::string& cut) { EXPECT_NE(problem_of(cut, bin.size()), ""); });
  // records.bin is opaque: only its length is checked.
  EXPECT_NE(problem_of(idx, bin.size() - 1), "");
}

}  // namespace
}  // namespace vellum
