#include "fst_map/node_cache.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellum::fst {
namespace {

Node final_with_output(uint64_t out) {
  Node n;
  n.final = true;
  n.final_output = out;
  return n;
}

// Three distinct nodes whose hashes share a bucket.
std::vector<Node> colliding_nodes() {
  const uint64_t bucket = NodeCache::hash(final_with_output(1)) % NodeCache::kBuckets;
  std::vector<Node> out{final_with_output(1)};
  for (uint64_t v = 2; out.size() < 3; ++v) {
    if (NodeCache::hash(final_with_output(v)) % NodeCache::kBuckets == bucket) {
      out.push_back(final_with_output(v));
    }
  }
  return out;
}

TEST(NodeCacheTest, HashFollowsTheFnvSteps) {
  Node n;
  n.transitions.push_back({'a', 2, 30});
  uint64_t h = 0xCBF29CE484222325ULL * 0x100000001B3ULL;  // XOR 0: not final
  h = (h ^ 0) * 0x100000001B3ULL;
  h = (h ^ 'a') * 0x100000001B3ULL;
  h = (h ^ 2) * 0x100000001B3ULL;
  h = (h ^ 30) * 0x100000001B3ULL;
  EXPECT_EQ(NodeCache::hash(n), h);
}

TEST(NodeCacheTest, TwoWaysMostRecentlyUsedFirst) {
  const std::vector<Node> n = colliding_nodes();
  auto h = [&](int i) { return NodeCache::hash(n[i]); };
  NodeCache cache;
  cache.insert(n[0], h(0), 100);
  cache.insert(n[1], h(1), 200);  // bucket: 1, 0
  EXPECT_EQ(cache.find(n[0], h(0)), 100u);  // hit in the second way: 0, 1
  cache.insert(n[2], h(2), 300);            // 2, 0; node 1 dropped
  EXPECT_EQ(cache.find(n[1], h(1)), 0u);
  EXPECT_EQ(cache.find(n[0], h(0)), 100u);
  EXPECT_EQ(cache.find(n[2], h(2)), 300u);
  Node other = n[2];
  other.transitions.push_back({'x', 0, 5});
  EXPECT_EQ(cache.find(other, NodeCache::hash(other)), 0u);
}

}  // namespace
}  // namespace vellum::fst
