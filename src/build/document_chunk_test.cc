#include "build/document_chunk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum {
namespace {

// Walks every chunk from id 0 and checks each gathered part against the
// staging, and that no chunk copies more than the budget.
struct Walk {
  std::vector<size_t> sizes;  // documents per chunk
};

Walk walk(const RecordStaging& s, const std::vector<uint32_t>& order, unsigned parts,
          size_t budget) {
  DocumentChunk chunk(s, order, parts, budget);
  Walk w;
  for (size_t first = 0; first < order.size();) {
    const size_t count = chunk.gather(first);
    EXPECT_GT(count, 0u);
    EXPECT_EQ(count, chunk.size());
    size_t copied_text = 0, copied_record = 0;
    for (size_t k = 0; k < count; ++k) {
      const uint32_t i = order[first + k];
      if (parts & DocumentChunk::kText) {
        EXPECT_EQ(chunk.text(k), s.text(i)) << "document " << first + k;
        if (chunk.text(k).size() <= budget) copied_text += chunk.text(k).size();
        // Only parts bigger than the whole budget stay in the staging.
        if (!s.text(i).empty()) {
          EXPECT_EQ(chunk.text(k).data() == s.text(i).data(), s.text(i).size() > budget);
        }
      } else {
        EXPECT_TRUE(chunk.text(k).empty());
      }
      if (parts & DocumentChunk::kRecord) {
        EXPECT_EQ(chunk.record(k), s.record(i));
        EXPECT_EQ(chunk.records()[k], s.record(i));
        if (chunk.record(k).size() <= budget) copied_record += chunk.record(k).size();
      }
      if (parts & DocumentChunk::kFacets) {
        EXPECT_EQ(std::vector<uint32_t>(chunk.facets(k).begin(), chunk.facets(k).end()),
                  std::vector<uint32_t>(s.facets(i).begin(), s.facets(i).end()));
      }
    }
    EXPECT_LE(copied_text, budget);
    EXPECT_LE(copied_record, budget);
    w.sizes.push_back(count);
    first += count;
  }
  return w;
}

TEST(DocumentChunk, ChunksEndAtTheByteBudgetAndOversizedTextsStayInPlace) {
  RecordStaging s;
  // Text lengths 4, 4, 4, 0, 30 (over the budget), 9, 1, 10.
  const std::vector<std::string> texts = {"aaaa", "bbbb", "cccc", "", std::string(30, 'x'),
                                          "ddddddddd", "e", "ffffffffff"};
  for (size_t i = 0; i < texts.size(); ++i) s.add(0, texts[i], "r" + std::to_string(i));
  // Visit out of staging order, as rank order does.
  const std::vector<uint32_t> order = {7, 0, 1, 2, 3, 4, 5, 6};
  const Walk w = walk(s, order, DocumentChunk::kText, 10);
  // [10] [4 4] [4 0 30 (not copied)] [9 1] : a document that would overflow
  // the copy starts the next chunk.
  EXPECT_EQ(w.sizes, (std::vector<size_t>{1, 2, 3, 2}));
}

TEST(DocumentChunk, ChunksHoldAtMostMaxDocs) {
  RecordStaging s;
  std::vector<uint32_t> order;
  const size_t n = DocumentChunk::kMaxDocs * 2 + 1;
  for (size_t i = 0; i < n; ++i) {
    s.add(0, i % 3 == 0 ? "" : "t", "");
    order.push_back(static_cast<uint32_t>(n - 1 - i));
  }
  const Walk w = walk(s, order, DocumentChunk::kText | DocumentChunk::kRecord, 1 << 20);
  EXPECT_EQ(w.sizes, (std::vector<size_t>{DocumentChunk::kMaxDocs, DocumentChunk::kMaxDocs, 1}));
}

TEST(DocumentChunk, RecordsAndFacetsGatherAlongsideTexts) {
  RecordStaging s;
  std::vector<uint32_t> order;
  for (uint32_t i = 0; i < 300; ++i) {
    s.add(0, std::string(i % 7, 'a' + i % 26), std::string(i % 5, 'r'));
    for (uint32_t f = 0; f < i % 4; ++f) s.add_facet("field", std::to_string((i + f) % 9));
    order.push_back((i * 37) % 300);
  }
  const unsigned all = DocumentChunk::kText | DocumentChunk::kRecord | DocumentChunk::kFacets;
  // 24 bytes is also 6 facet ids: every part can end a chunk.
  const Walk small = walk(s, order, all, 24);
  EXPECT_GT(small.sizes.size(), 20u);
  const Walk large = walk(s, order, DocumentChunk::kRecord | DocumentChunk::kFacets, 1 << 20);
  EXPECT_EQ(large.sizes, std::vector<size_t>{300});
}

TEST(DocumentChunk, RecordsAloneCanEndAChunk) {
  RecordStaging s;
  std::vector<uint32_t> order;
  for (uint32_t i = 0; i < 6; ++i) {
    s.add(0, "t", std::string(4, 'a' + i));
    order.push_back(5 - i);
  }
  const Walk w = walk(s, order, DocumentChunk::kText | DocumentChunk::kRecord, 10);
  EXPECT_EQ(w.sizes, (std::vector<size_t>{2, 2, 2}));
}

}  // namespace
}  // namespace vellum
