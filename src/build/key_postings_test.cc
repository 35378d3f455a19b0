#include "build/key_postings.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace vellum {
namespace {

// Checks the collected sets against a plain map, across flushes forced by
// both the document count (65536) and the pending-pair cap, and with keys
// that are packed small values, zero and the top of the u64 range.
TEST(KeyPostings, SetsSurviveBatchFlushes) {
  KeyPostings postings;
  std::map<uint64_t, std::vector<uint32_t>> want;
  std::vector<uint64_t> keys;
  uint32_t doc = 0;
  // Wide documents: 3000 keys each, enough pairs to pass the cap mid-way.
  for (; doc < 500; ++doc) {
    keys.clear();
    for (uint64_t k = 0; k < 3000; ++k) keys.push_back((k * 7919 + doc) % 5000);
    postings.add_doc(doc, keys);
    for (uint64_t k : keys) want[k].push_back(doc);
  }
  // Many narrow documents: more than one document batch.
  for (; doc < 500 + 140000; ++doc) {
    keys = {0, ~uint64_t{0}, (uint64_t{doc % 3} + 1) << 40};
    if (doc % 2 == 0) keys.clear();  // documents without keys still take ids
    postings.add_doc(doc, keys);
    for (uint64_t k : keys) want[k].push_back(doc);
  }
  postings.flush();
  ASSERT_EQ(postings.size(), want.size());
  for (size_t i = 0; i < postings.size(); ++i) {
    const uint64_t key = postings.keys()[i];
    ASSERT_EQ(postings.bitmaps()[i].to_vector(), want[key]) << "key " << key;
  }
  postings.clear();
  EXPECT_EQ(postings.size(), 0u);
  postings.add_doc(0, {5});
  postings.flush();
  EXPECT_EQ(postings.bitmaps()[0].to_vector(), (std::vector<uint32_t>{0}));
}

}  // namespace
}  // namespace vellum
