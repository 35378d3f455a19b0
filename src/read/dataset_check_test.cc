#include "read/dataset_check.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "testing/byte_mutations.h"
#include "testing/memory_files.h"
#include "testing/random_corpus.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::Files;
using testing::from;

Files dataset_files(uint32_t seed, size_t n) {
  testing::TempDir dir;
  testing::build_dataset(dir.path(), testing::random_records(seed, n, true));
  Files f;
  for (const char* name : {kDatasetIndex, kDatasetSidecar, kDatasetRecords, kDatasetRecordIndex}) {
    f[name] = testing::read_file(dir.file(name));
  }
  return f;
}

std::string joined(const std::vector<Problem>& ps) {
  std::string out;
  for (const Problem& p : ps) out += p.describe() + "\n";
  return out;
}

bool test_decoders_accept(const Files& f) {
  try {
    for (const auto& e : testing::decode_vls(f.at(kDatasetIndex)).entries) testing::decode_posting(e.posting);
    for (const auto& c : testing::decode_vlsf(f.at(kDatasetSidecar)).categories) {
      testing::decode_posting(c.head);
      testing::decode_posting(c.tail);
    }
    testing::decode_records(f.at(kDatasetRecords), f.at(kDatasetRecordIndex));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TEST(VerifyDataset, BuilderDatasetsAreSound) {
  for (size_t n : {0, 1, 50, 700}) {
    testing::TempDir dir;
    testing::build_dataset(dir.path(), testing::random_records(static_cast<uint32_t>(n), n, n % 2 == 0));
    EXPECT_EQ(joined(verify_dataset(directory_reader(dir.path()))), "") << n;
  }
}

TEST(VerifyDataset, ReportsEveryFileWithAProblem) {
  Files f = dataset_files(1, 30);
  f.erase(kDatasetSidecar);
  f[kDatasetIndex][0] = 'X';
  const std::vector<Problem> ps = verify_dataset(from(&f));
  ASSERT_EQ(ps.size(), 2u) << joined(ps);
  EXPECT_EQ(ps[0].describe(), "index.vls: header at byte 0: bad magic, expected VLSI");
  EXPECT_EQ(ps[1].describe(), "index.vlf: file at byte 0: file is missing");
}

TEST(VerifyDataset, FilesMustAgreeOnTheDocumentCount) {
  Files big = dataset_files(2, 40);
  const Files small = dataset_files(3, 10);
  big[kDatasetRecords] = small.at(kDatasetRecords);
  big[kDatasetRecordIndex] = small.at(kDatasetRecordIndex);
  const std::vector<Problem> ps = verify_dataset(from(&big));
  ASSERT_EQ(ps.size(), 2u) << joined(ps);
  EXPECT_NE(ps[0].describe().find("index.vls: postings at byte"), std::string::npos);
  EXPECT_NE(ps[0].what.find(", but records.idx has 10 records"), std::string::npos);
  EXPECT_EQ(ps[1].file, "index.vlf");
}

TEST(VerifyDataset, EveryFlipAndTruncationOfEveryFile) {
  const Files f = dataset_files(4, 5);
  for (const auto& [name, bytes] : f) {
    testing::for_each_flip(bytes, [&, name = name](size_t pos, const std::string& damaged) {
      Files g = f;
      g[name] = damaged;
      const std::vector<Problem> ps = verify_dataset(from(&g));
      if (name == kDatasetRecords) {
        EXPECT_TRUE(ps.empty()) << "record bytes are opaque: " << pos;
      } else if (!test_decoders_accept(g)) {
        EXPECT_FALSE(ps.empty()) << name << " " << pos;
      }
      for (const Problem& p : ps) EXPECT_EQ(p.file, name);
    });
    testing::for_each_truncation(bytes, [&, name = name](const std::string& cut) {
      Files g = f;
      g[name] = cut;
      EXPECT_FALSE(verify_dataset(from(&g)).empty()) << name << " " << cut.size();
    });
  }
}

}  // namespace
}  // namespace vellum
