#include "build/staging.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum {
namespace {

struct Seen {
  std::string field;
  std::string category;  // "-" for a field without categories
};

std::vector<Seen> memberships(const RecordStaging& s, size_t i) {
  std::vector<Seen> out;
  for (uint32_t p : s.facets(i)) {
    RecordStaging::FacetPair pair = s.pair(p);
    out.push_back({std::string(pair.field), pair.category ? std::string(*pair.category) : "-"});
  }
  return out;
}

bool operator==(const Seen& a, const Seen& b) {
  return a.field == b.field && a.category == b.category;
}

TEST(RecordStaging, RecordsTextsAndFacets) {
  RecordStaging s;
  s.add(5, "first text", "rec1");
  s.add_facets({{"lang", {"en", "de"}}, {"tags", {}}});
  s.add(-1, "", "");
  s.add(7, "third", std::string("\0x", 2));
  s.add_facet("lang", "en");
  s.add_facet("tags", "en");  // same category name in another field
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s.rank(0), 5);
  EXPECT_EQ(s.rank(1), -1);
  EXPECT_EQ(s.text(0), "first text");
  EXPECT_EQ(s.text(1), "");
  EXPECT_EQ(s.text(2), "third");
  EXPECT_EQ(s.record(0), "rec1");
  EXPECT_EQ(s.record(1), "");
  EXPECT_EQ(s.record(2), std::string("\0x", 2));
  EXPECT_EQ(memberships(s, 0),
            (std::vector<Seen>{{"lang", "en"}, {"lang", "de"}, {"tags", "-"}}));
  EXPECT_TRUE(memberships(s, 1).empty());
  EXPECT_EQ(memberships(s, 2), (std::vector<Seen>{{"lang", "en"}, {"tags", "en"}}));
  // Equal pairs share a number.
  EXPECT_EQ(s.facets(0)[0], s.facets(2)[0]);
  EXPECT_EQ(s.pair_count(), 4u);
}

// Rolling back removes rows, bytes, memberships and the names and pairs
// first seen after the mark; staging goes on as if they had never come.
TEST(RecordStaging, RollbackForgetsEverythingAfterTheMark) {
  RecordStaging s;
  s.add(1, "kept", "k");
  s.add_facet("f", "a");
  const RecordStaging::Mark m = s.mark();
  for (int i = 0; i < 1000; ++i) {
    s.add(i, std::string(100, 'x'), "r");
    s.add_facet("f", "a");
    s.add_facet("g" + std::to_string(i), "b");
    s.add_facet_field("h");
  }
  s.rollback(m);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s.pair_count(), 1u);
  EXPECT_EQ(s.text(0), "kept");
  EXPECT_EQ(memberships(s, 0), (std::vector<Seen>{{"f", "a"}}));

  s.add(2, "next", "n");
  s.add_facet("g0", "b");
  s.add_facet("f", "a");  // the cached last pair was dropped with the rollback
  EXPECT_EQ(s.text(1), "next");
  EXPECT_EQ(s.record(1), "n");
  EXPECT_EQ(s.pair_count(), 2u);
  EXPECT_EQ(memberships(s, 1), (std::vector<Seen>{{"g0", "b"}, {"f", "a"}}));
  EXPECT_EQ(s.facets(1)[1], s.facets(0)[0]);

  s.rollback(RecordStaging::Mark{});
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(s.pair_count(), 0u);
}

// A record too long for its row's length field is found in the side table,
// also among short ones and across a rollback.
TEST(RecordStaging, LongRecords) {
  RecordStaging s;
  const std::string big(size_t{1} << 24, 'r');  // one byte over the field's limit
  const std::string huge(big + "tail");
  s.add(0, "a", "short");
  s.add(1, "bb", big);
  s.add(2, "", "");
  const RecordStaging::Mark m = s.mark();
  s.add(3, "ccc", huge);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s.text(1), "bb");
  EXPECT_EQ(s.record(1).size(), big.size());
  EXPECT_EQ(s.record(1), big);
  EXPECT_EQ(s.record(2), "");
  EXPECT_EQ(s.text(3), "ccc");
  EXPECT_EQ(s.record(3), huge);
  s.rollback(m);
  s.add(4, "d", "e");
  EXPECT_EQ(s.record(1), big);
  EXPECT_EQ(s.text(3), "d");
  EXPECT_EQ(s.record(3), "e");
}

// Records staged before the first facet, and after a rollback that drops
// every membership, have none.
TEST(RecordStaging, FacetsFirstSeenLate) {
  RecordStaging s;
  s.add(0, "a", "");
  s.add(1, "b", "");
  const RecordStaging::Mark m = s.mark();
  s.add(2, "c", "");
  s.add_facet("f", "x");
  s.add(3, "d", "");
  EXPECT_TRUE(s.facets(0).empty());
  EXPECT_TRUE(s.facets(1).empty());
  EXPECT_EQ(memberships(s, 2), (std::vector<Seen>{{"f", "x"}}));
  EXPECT_TRUE(s.facets(3).empty());
  s.rollback(m);
  s.add(4, "e", "");
  EXPECT_TRUE(s.facets(2).empty());
  s.add_facet("g", "y");
  EXPECT_TRUE(s.facets(0).empty());
  EXPECT_EQ(memberships(s, 2), (std::vector<Seen>{{"g", "y"}}));
}

}  // namespace
}  // namespace vellum
