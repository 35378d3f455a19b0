// Reader of an FST map image (the router of a term index), for bytes from
// storage:
//
//   image := u64 version 3 | u64 type 0 | nodes | u64 key count |
//            u64 root address | u32 masked CRC-32C of all bytes before it
//
// `open` checks the framing and the checksum. Node reads check that every
// field lies in the node region, that targets point below the node that
// names them (so every walk ends), that transitions ascend, that the
// 256-byte index of a wide node agrees with its inputs and that no node
// is a dead end. Key enumeration takes a budget of key bytes, so no image
// can make it run long.
#ifndef VELLUM_READ_FST_READER_H_
#define VELLUM_READ_FST_READER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "read/problem.h"

namespace vellum {

struct FstEntry {
  std::string key;
  uint64_t value = 0;
};

class FstReader {
 public:
  // `base` is the image's offset in its file, for problem offsets.
  static Checked<FstReader> open(const ProblemSite& site, std::string_view region, uint64_t base,
                                 std::string_view image);

  uint64_t key_count() const { return key_count_; }

  // Every key with its value, ascending; a problem when the keys would
  // need more than `max_key_bytes` in all or differ from the key count.
  Checked<std::vector<FstEntry>> entries(uint64_t max_key_bytes) const;

  // The least key not below `key`, or nullopt when every key is below it.
  Checked<std::optional<FstEntry>> lower_bound(std::string_view key) const;

 private:
  struct Transition {
    uint8_t input;
    uint64_t output;
    uint64_t target;
  };
  struct Node {
    bool final = false;
    uint64_t final_output = 0;
    std::vector<Transition> trans;  // ascending inputs
  };

  FstReader(const ProblemSite& site, std::string_view region, uint64_t base, std::string_view image)
      : site_(site), region_(region), base_(base), image_(image) {}
  Checked<Node> node_at(uint64_t addr) const;
  Check read_general(uint64_t addr, Node* n) const;
  Check read_single(uint64_t addr, bool chained, Node* n) const;
  Problem fault(uint64_t at, std::string what) const;
  Checked<FstEntry> least_from(uint64_t addr, std::string prefix, uint64_t out) const;

  ProblemSite site_;
  std::string region_;
  uint64_t base_;
  std::string_view image_;
  uint64_t nodes_end_ = 0;  // first byte of the footer
  uint64_t key_count_ = 0;
  uint64_t root_ = 0;
};

// CRC-32C (Castagnoli, reflected, all-ones initial value and final XOR).
uint32_t crc32c_of(std::string_view bytes);

}  // namespace vellum

#endif  // VELLUM_READ_FST_READER_H_
