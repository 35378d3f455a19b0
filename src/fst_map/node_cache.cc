#include "fst_map/node_cache.h"

#include <utility>

#include "fst_map/fst_format.h"

namespace vellum::fst {

namespace {

constexpr uint64_t kOffset = 0xCBF29CE484222325ULL;
constexpr uint64_t kPrime = 0x100000001B3ULL;

}  // namespace

uint64_t NodeCache::hash(const Node& node) {
  uint64_t h = kOffset ^ (node.final ? 1 : 0);
  h *= kPrime;
  h = (h ^ node.final_output) * kPrime;
  for (const Transition& t : node.transitions) {
    h = (h ^ t.input) * kPrime;
    h = (h ^ t.output) * kPrime;
    h = (h ^ t.target) * kPrime;
  }
  return h;
}

uint64_t NodeCache::find(const Node& node, uint64_t hash) {
  Bucket& b = buckets_[hash % kBuckets];
  if (b[0].holds(node, hash)) return b[0].address;
  if (b[1].holds(node, hash)) {
    std::swap(b[0], b[1]);
    return b[0].address;
  }
  return kEmptyAddress;
}

void NodeCache::insert(const Node& node, uint64_t hash, uint64_t address) {
  Bucket& b = buckets_[hash % kBuckets];
  // The old front becomes the second entry; the dropped entry's storage is
  // reused for the new node.
  std::swap(b[0], b[1]);
  b[0].used = true;
  b[0].hash = hash;
  b[0].address = address;
  b[0].node.final = node.final;
  b[0].node.final_output = node.final_output;
  b[0].node.transitions.assign(node.transitions.begin(), node.transitions.end());
}

}  // namespace vellum::fst
