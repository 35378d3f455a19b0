#include "terms_dict/posting_record.h"

#include <algorithm>

#include "common/coding.h"
#include "index/posting.h"
#include "terms_dict/vlti_format.h"

namespace vellum {

namespace {

// Beyond this a set is split as a bitmap, which holds dense ids in far
// less memory than their list.
constexpr uint64_t kMaxListedIds = uint64_t{1} << 22;

const std::string& empty_posting() {
  static const std::string empty = serialize_posting(Bitmap());
  return empty;
}

}  // namespace

uint64_t append_posting_record(const Bitmap& ids, uint32_t boundary, std::string* out,
                               std::vector<uint32_t>* scratch) {
  const size_t at = out->size();
  out->resize(at + vlti::kTailLenSize);
  const roaring_bitmap_t* r = ids.get();
  uint64_t head_len;
  // The minimum of an empty set is UINT32_MAX: it lands in the first case.
  if (roaring_bitmap_minimum(r) >= boundary) {
    out->append(empty_posting());
    head_len = empty_posting().size();
    append_posting(ids, out);
  } else if (roaring_bitmap_maximum(r) < boundary) {
    append_posting(ids, out);
    head_len = out->size() - at - vlti::kTailLenSize;
    out->append(empty_posting());
  } else if (ids.cardinality() <= kMaxListedIds) {
    // Listing the ids and encoding both halves from the list is cheaper
    // than splitting the bitmap into two new ones.
    scratch->resize(static_cast<size_t>(ids.cardinality()));
    roaring_bitmap_to_uint32_array(r, scratch->data());
    out->resize(at);
    return append_sorted_ids_record(scratch->data(), scratch->size(), boundary, out);
  } else {
    HeadTail parts = split_head_tail(ids, boundary);
    head_len = parts.head.size();
    out->append(parts.head);
    out->append(parts.tail);
  }
  // A tail holds at most 65536 containers of 8 KiB: always within 32 bits.
  const uint64_t tail_len = out->size() - at - vlti::kTailLenSize - head_len;
  EncodeU32(out->data() + at, static_cast<uint32_t>(tail_len));
  return head_len;
}

uint64_t append_sorted_ids_record(const uint32_t* ids, size_t n, uint32_t boundary,
                                  std::string* out) {
  const size_t at = out->size();
  out->resize(at + vlti::kTailLenSize);
  const size_t head_n = static_cast<size_t>(std::lower_bound(ids, ids + n, boundary) - ids);
  append_sorted_ids_posting(ids, head_n, out);
  const uint64_t head_len = out->size() - at - vlti::kTailLenSize;
  append_sorted_ids_posting(ids + head_n, n - head_n, out);
  const uint64_t tail_len = out->size() - at - vlti::kTailLenSize - head_len;
  EncodeU32(out->data() + at, static_cast<uint32_t>(tail_len));
  return head_len;
}

}  // namespace vellum
