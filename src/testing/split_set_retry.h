// The promise both split-set builders share through their common frame: a
// build that cannot create its directory or write a split file keeps every
// document; documents added afterwards join the open split, and the next
// build writes what one successful build over all of them writes.
#ifndef VELLUM_TESTING_SPLIT_SET_RETRY_H_
#define VELLUM_TESTING_SPLIT_SET_RETRY_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/status.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum::testing {

inline std::map<std::string, std::string> all_files(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    out[e.path().filename()] = read_file(e.path());
  }
  return out;
}

// `docs` are objects with `text` and `facets`; at least 120 of them.
// `first_split` is the file name the first split of "index" gets.
template <typename Builder, typename Doc>
void check_failed_build_keeps_documents(Builder reference, Builder retried,
                                        const std::vector<Doc>& docs,
                                        const std::string& first_split) {
  ASSERT_GE(docs.size(), 120u);
  for (size_t i = 0; i < docs.size(); ++i) {
    ASSERT_TRUE(reference.add_faceted(docs[i].text, docs[i].facets).ok());
    if (i < 100) {
      ASSERT_TRUE(retried.add_faceted(docs[i].text, docs[i].facets).ok());
    }
  }
  TempDir dir;
  const std::string blocker = dir.file("file");
  { std::ofstream(blocker) << "x"; }
  auto r = retried.build(blocker + "/sub", "index");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kOs);
  EXPECT_EQ(retried.doc_count(), 100u);
  for (size_t i = 100; i < 110; ++i) ASSERT_TRUE(retried.add_faceted(docs[i].text, docs[i].facets).ok());
  // A directory where the first split file goes makes its write fail.
  const std::string out = dir.file("out");
  std::filesystem::create_directories(out + "/" + first_split);
  r = retried.build(out, "index");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(retried.doc_count(), 110u);
  for (size_t i = 110; i < docs.size(); ++i) {
    ASSERT_EQ(retried.add_faceted(docs[i].text, docs[i].facets).value(), i);
  }
  std::filesystem::remove(out + "/" + first_split);
  auto ok = retried.build(out, "index");
  ASSERT_TRUE(ok.ok()) << ok.error().describe();
  auto want = reference.build(dir.file("ref"), "index");
  ASSERT_TRUE(want.ok());
  EXPECT_EQ(ok->splits, want->splits);
  EXPECT_GT(want->splits, 1u);
  EXPECT_EQ(ok->total_bytes, want->total_bytes);
  EXPECT_EQ(all_files(out), all_files(dir.file("ref")));
  EXPECT_EQ(retried.doc_count(), 0u);
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_SPLIT_SET_RETRY_H_
