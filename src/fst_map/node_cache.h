// The builder's memory of recently compiled nodes, so that equal subtrees
// (common suffixes) are written once. Its exact shape decides which nodes
// get shared and therefore the image bytes: 10,000 buckets of 2 entries,
// most recently used first, chosen by an FNV-style hash of the node.
#ifndef VELLUM_FST_MAP_NODE_CACHE_H_
#define VELLUM_FST_MAP_NODE_CACHE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fst_map/fst_node.h"

namespace vellum::fst {

class NodeCache {
 public:
  static constexpr size_t kBuckets = 10000;
  static constexpr size_t kWays = 2;

  NodeCache() : buckets_(kBuckets) {}

  static uint64_t hash(const Node& node);

  // The address of an equal cached node, or kEmptyAddress on a miss. A hit
  // in a bucket's second entry moves it to the front.
  uint64_t find(const Node& node, uint64_t hash);

  // Remembers `node` at `address` at the front of its bucket, dropping the
  // bucket's second entry.
  void insert(const Node& node, uint64_t hash, uint64_t address);

 private:
  struct Entry {
    bool used = false;
    uint64_t hash = 0;  // compared first, so most misses never touch node
    uint64_t address = 0;
    Node node;

    bool holds(const Node& n, uint64_t h) const { return used && hash == h && node == n; }
  };
  using Bucket = std::array<Entry, kWays>;

  std::vector<Bucket> buckets_;
};

}  // namespace vellum::fst

#endif  // VELLUM_FST_MAP_NODE_CACHE_H_
