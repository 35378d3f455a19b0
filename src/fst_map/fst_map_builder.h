// Builds an FST map image (see fst_format.h) from keys inserted in strictly
// ascending byte order, each with an unsigned 64-bit value.
//
// The builder keeps the path of the previous key as a stack of unfinished
// nodes. A node is compiled (written) as soon as no later key can change
// it, children before parents; outputs are pushed towards the root as far
// as the keys sharing a prefix allow, and equal subtrees are shared through
// the node cache. The result is deterministic: equal input gives equal
// bytes.
#ifndef VELLUM_FST_MAP_FST_MAP_BUILDER_H_
#define VELLUM_FST_MAP_FST_MAP_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "fst_map/fst_node.h"
#include "fst_map/node_cache.h"

namespace vellum {

class FstMapBuilder {
 public:
  // `initial_capacity` only reserves room in the image buffer.
  explicit FstMapBuilder(size_t initial_capacity = 0);

  FstMapBuilder(const FstMapBuilder&) = delete;
  FstMapBuilder& operator=(const FstMapBuilder&) = delete;

  // Adds one key. Fails (kInvalidInput), leaving the builder unchanged, when
  // the key equals the previous one or sorts before it, or after finish().
  Status insert(std::string_view key, uint64_t value);

  // Compiles the remaining nodes and returns the whole image. The builder
  // is spent afterwards: a second call fails.
  Result<std::string> finish();

  uint64_t key_count() const { return key_count_; }

 private:
  // A node on the path of the previous key: its finished transitions, plus
  // the transition towards the next node on the stack, whose target is not
  // known until that node is compiled.
  struct Unfinished {
    fst::Node node;
    bool has_pending = false;
    uint8_t pending_input = 0;
    uint64_t pending_output = 0;
  };

  Status check_order(std::string_view key) const;
  size_t push_shared_prefix(std::string_view key, uint64_t* value);
  void add_suffix(std::string_view key, size_t from, uint64_t value);
  void push(bool final, bool has_pending, uint8_t input);
  void freeze_from(size_t depth);
  uint64_t compile(const fst::Node& node);

  // stack_[0, depth_) is live; entries past it keep their storage for reuse.
  std::vector<Unfinished> stack_;
  size_t depth_ = 0;
  std::string previous_;
  bool has_previous_ = false;
  bool finished_ = false;
  uint64_t key_count_ = 0;
  // No node yet: 1 is no node's address, so the first one is never chained.
  uint64_t last_compiled_ = 1;
  std::string image_;
  fst::NodeCache cache_;
};

}  // namespace vellum

#endif  // VELLUM_FST_MAP_FST_MAP_BUILDER_H_
