// Packs dictionary entries (term, posting record offset, head length) into
// front-coded blocks of at most `budget` bytes, in the order added. A block
// is sealed only before an entry that would overflow it, so every block
// holds at least one entry and an entry larger than the budget gets a
// block of its own.
#ifndef VELLUM_TERMS_DICT_DICT_BLOCK_BUILDER_H_
#define VELLUM_TERMS_DICT_DICT_BLOCK_BUILDER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

struct DictBlock {
  std::string bytes;
  std::string last_term;
  uint64_t offset = 0;  // from the start of the dict region
};

class DictBlockBuilder {
 public:
  explicit DictBlockBuilder(uint64_t budget) : budget_(budget) {}

  // Terms must come in ascending order and offsets must not decrease.
  void add(std::string_view term, uint64_t record_offset, uint64_t head_len);

  // Seals the open block, if any, and hands over every block in order.
  std::vector<DictBlock> finish();

 private:
  void seal();

  uint64_t budget_;
  std::vector<DictBlock> blocks_;
  std::string current_;
  std::string previous_term_;
  uint64_t previous_offset_ = 0;
  uint64_t next_block_offset_ = 0;
};

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_DICT_BLOCK_BUILDER_H_
