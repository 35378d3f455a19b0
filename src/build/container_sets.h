// Large document-id sets held as the Roaring containers their postings are
// made of. Ids reach a set in ascending runs (one run per set and batch of
// documents); each run becomes container parts, one per 65536-id window it
// touches, in a shared byte arena, already in the posting's byte form: u16
// low bits for an array, 8192 bytes for a bitmap. A set's posting is then a
// short header followed by its parts, copied as they are; parts that share a
// window (a run that stopped mid-window) are merged while writing. Adding an
// id costs a few byte stores, and the sets take about the room of their
// postings.
#ifndef VELLUM_BUILD_CONTAINER_SETS_H_
#define VELLUM_BUILD_CONTAINER_SETS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/mapped_array.h"
#include "common/sink.h"
#include "common/status.h"

namespace vellum {

class ContainerSets {
 public:
  // A new empty set; returns its number (0, 1, 2, ...).
  uint32_t create();

  // Adds `n` strictly ascending ids, all above every id already in `set`.
  void append_run(uint32_t set, const uint32_t* ids, size_t n);

  // append_run() for `n` (at least 1) ids of one window, given as the
  // window `high` and their low 16 bits.
  void append_window(uint32_t set, uint32_t high, const uint16_t* lows, size_t n);

  // The set's posting in the portable Roaring layout without run
  // containers: its size, its bytes (exactly that many), its ids.
  uint64_t posting_size(uint32_t set) const;
  Status write_posting(uint32_t set, Sink* sink);
  std::vector<uint32_t> ids(uint32_t set) const;

  size_t size() const { return sets_.size(); }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;

  // Ids of one set in one window, from one run.
  struct Part {
    uint64_t at;    // first byte in bytes_
    uint32_t card;  // ids, 1 .. 65536
    uint32_t next;  // the set's next part, or kNone
    uint32_t high;  // the window: the ids' high 16 bits
    uint32_t set;
  };
  static_assert(sizeof(Part) == 24);
  // The posting size is kept up as parts arrive, so that sizing every
  // posting before writing needs no walk of the scattered chains.
  struct Set {
    uint32_t head = kNone;
    uint32_t tail = kNone;
    uint32_t tail_card = 0;  // ids in the window of the tail part
    uint32_t parts = 0;
    uint64_t closed = 8;     // header and the windows before the tail's
  };
  // Parts of one window, consecutive in a set's chain: by_set_[first], ...
  struct Group {
    uint32_t first;
    uint32_t card;
    uint32_t parts;
  };

  void add_part(uint32_t set, const uint32_t* ids, size_t n);
  // Links a part of `card` ids of window `high` to the set; returns where
  // its container bytes go (zero bytes: the arena only grows).
  char* new_part(uint32_t set, uint32_t high, uint32_t card);
  // Lists every part by set, in chain order, in by_set_.
  void index_parts();
  // Fills groups_ with the set's windows, in ascending order.
  void collect_groups(uint32_t set);
  // The group's container bytes, merged into scratch_ when it has several
  // parts and is a bitmap container.
  Status write_group(const Group& g, Sink* sink);

  std::vector<Set> sets_;
  // Both are filled in creation order and read back once, while writing:
  // where small faults are cheap, new 2 MB pages can cost far more to
  // back than the few TLB misses they would save here.
  MappedArray<Part, LargePages::kWhereFaultsCost> parts_;
  MappedArray<char, LargePages::kWhereFaultsCost> bytes_;  // appended front to back
  // For writing: a set's chain is scattered over the parts, and following
  // it is a miss per part that waits for the one before. Listed by set,
  // the parts of a set can be fetched at once. Set s has by_set_[first_[s]]
  // up to first_[s + 1]; valid while no part is added.
  std::vector<uint32_t> by_set_;
  std::vector<uint32_t> first_;
  size_t indexed_ = 0;  // parts when by_set_ was made
  std::vector<Group> groups_;  // of the set being written
  std::string scratch_;
};

}  // namespace vellum

#endif  // VELLUM_BUILD_CONTAINER_SETS_H_
