// The postings of a stored VLS split body as compaction reads them, from
// untrusted bytes:
//
//   "VLSI" | u16 version | u16 (not examined) | u32 keys n | u32 stride s
//   | (version 4: u16 flags) | ceil(n / s) x u64 sparse index
//   | n x (u64 key | u64 posting offset | u32 posting length) | postings
//
// Every entry is checked against the input and every posting is checked as
// a portable Roaring set (run containers accepted) before it is listed.
#ifndef VELLUM_SPLITSET_WRITE_SPLIT_POSTINGS_H_
#define VELLUM_SPLITSET_WRITE_SPLIT_POSTINGS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace vellum {

// A checked split body read in place: postings stay views into the
// caller's bytes, which must outlive it. Entries are visited in ascending
// key order, stable among equal keys; that is entry order whenever the
// keys already ascend, as every writer of this system leaves them, and
// then no order is stored.
class CheckedSplit {
 public:
  // Fails with the compaction message of the first faulty entry.
  static Result<CheckedSplit> check(std::string_view body);

  uint32_t size() const { return n_; }
  uint64_t key(uint32_t i) const;
  std::string_view posting(uint32_t i) const;

  // Smallest and largest id over every posting; none when all are empty.
  bool has_ids() const { return has_ids_; }
  uint32_t min_id() const { return min_id_; }
  uint32_t max_id() const { return max_id_; }

 private:
  uint32_t entry(uint32_t i) const { return order_.empty() ? i : order_[i]; }
  void sort_if_unordered();

  std::string_view body_;
  const char* dict_ = nullptr;  // n entries
  uint32_t n_ = 0;
  std::vector<uint32_t> order_;
  bool has_ids_ = false;
  uint32_t min_id_ = 0;
  uint32_t max_id_ = 0;
};

struct StoredPosting {
  uint64_t key;
  std::string_view bytes;  // a view into the split body
};

// Appends the body's postings in ascending key order; on failure `out` may
// hold some of them and the error carries the compaction message.
Status read_split_postings(std::string_view body, std::vector<StoredPosting>* out);

// The ids of a posting CheckedSplit accepted, appended ascending. Trusts
// the check: it must not see bytes that did not pass it.
void decode_posting(std::string_view bytes, std::vector<uint32_t>* ids);

// The ids of a tombstone payload, appended ascending; runs accepted.
Status decode_tombstone_ids(std::string_view payload, std::vector<uint32_t>* ids);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_WRITE_SPLIT_POSTINGS_H_
