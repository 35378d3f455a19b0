// The content of an FST node as the builder compiles it: what the node
// writer encodes and what the node cache compares.
#ifndef VELLUM_FST_MAP_FST_NODE_H_
#define VELLUM_FST_MAP_FST_NODE_H_

#include <cstdint>
#include <vector>

namespace vellum::fst {

struct Transition {
  uint8_t input = 0;
  uint64_t output = 0;
  uint64_t target = 0;  // address of the node it leads to

  bool operator==(const Transition&) const = default;
};

struct Node {
  bool final = false;
  uint64_t final_output = 0;
  std::vector<Transition> transitions;  // ascending input

  bool operator==(const Node&) const = default;

  // The final node with nothing to say, which lives at the empty address.
  bool is_empty_final() const { return final && final_output == 0 && transitions.empty(); }
};

}  // namespace vellum::fst

#endif  // VELLUM_FST_MAP_FST_NODE_H_
