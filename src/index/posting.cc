#include "index/posting.h"

#include <roaring/containers/containers.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "common/coding.h"
#include "index/posting_format.h"

namespace vellum {

namespace {

// Reads the container type codes directly: roaring_bitmap_statistics would
// visit every value. A shared (copy-on-write) container may wrap a run
// container, so it counts as one.
bool has_run_containers(const roaring_bitmap_t* r) {
  const roaring_array_t& ra = r->high_low_container;
  for (int32_t i = 0; i < ra.size; ++i) {
    if (ra.typecodes[i] == RUN_CONTAINER_TYPE_CODE ||
        ra.typecodes[i] == SHARED_CONTAINER_TYPE_CODE) {
      return true;
    }
  }
  return false;
}

// Bitmaps built by insertion never hold run containers; one that arrives
// with them (e.g. deserialized from elsewhere) is converted on a copy so the
// caller's set is left as it was.
Bitmap without_runs(const roaring_bitmap_t* r) {
  Bitmap copy(roaring_bitmap_copy(r));
  roaring_bitmap_remove_run_compression(copy.get());
  return copy;
}

// End of the container that starts at ids[i]: the first id with a higher
// 16-bit key. The last container, usually the only one, needs no search.
size_t container_end(const uint32_t* ids, size_t i, size_t n) {
  const uint32_t high = ids[i] >> 16;
  if ((ids[n - 1] >> 16) == high) return n;
  return static_cast<size_t>(std::lower_bound(ids + i, ids + n, (high + 1) << 16) - ids);
}

size_t container_bytes(size_t card) {
  return card > kMaxArrayCardinality ? kBitmapContainerBytes : 2 * card;
}

// Containers of at most kMaxArrayCardinality ascending ids: one per change
// of the high 16 bits, counted without a branch per id.
size_t count_windows(const uint32_t* ids, size_t n) {
  if ((ids[0] >> 16) == (ids[n - 1] >> 16)) return 1;
  size_t windows = 1;
  for (size_t i = 1; i < n; ++i) windows += (ids[i] >> 16) != (ids[i - 1] >> 16);
  return windows;
}

// The end of every container, found once; `ends` has room for one per
// window the ids span.
size_t find_container_ends(const uint32_t* ids, size_t n, size_t* ends) {
  size_t containers = 0;
  for (size_t i = 0; i < n; i = ends[containers++]) ends[containers] = container_end(ids, i, n);
  return containers;
}

// Appends the posting of the containers that end at `ends`.
void append_containers(const uint32_t* ids, const size_t* ends, size_t containers,
                       std::string* out) {
  size_t size = 8 + 8 * containers;  // cookie, count; per container 8 bytes
  for (size_t c = 0, i = 0; c < containers; i = ends[c++]) size += container_bytes(ends[c] - i);
  const size_t at = out->size();
  out->resize(at + size);
  char* head = out->data() + at;
  EncodeU32(head, kNoRunCookie);
  EncodeU32(head + 4, static_cast<uint32_t>(containers));
  char* descriptor = head + 8;
  char* offset = descriptor + 4 * containers;
  char* body = offset + 4 * containers;
  for (size_t c = 0, i = 0; c < containers; i = ends[c++]) {
    const size_t card = ends[c] - i;
    // The window's u16 key, then u16 cardinality - 1, as one store.
    EncodeU32(descriptor + 4 * c, (ids[i] >> 16) | static_cast<uint32_t>(card - 1) << 16);
    EncodeU32(offset + 4 * c, static_cast<uint32_t>(body - head));
    if (card > kMaxArrayCardinality) {
      encode_bitmap_container(ids + i, card, body);
    } else {
      encode_array_container(ids + i, card, body);
    }
    body += container_bytes(card);
  }
}

// Small sets, the great majority, keep their container ends on the stack.
constexpr size_t kLocalEnds = 64;

}  // namespace

void encode_array_container(const uint32_t* ids, size_t n, char* out) {
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Fixed-size blocks the compiler turns into vector packs.
    for (; i + 8 <= n; i += 8) {
      uint16_t low[8];
      for (size_t k = 0; k < 8; ++k) low[k] = static_cast<uint16_t>(ids[i + k]);
      std::memcpy(out + 2 * i, low, sizeof low);
    }
  }
  for (; i < n; ++i) EncodeU16(out + 2 * i, static_cast<uint16_t>(ids[i]));
}

void encode_bitmap_container(const uint32_t* ids, size_t n, char* out) {
  std::memset(out, 0, kBitmapContainerBytes);
  for (size_t k = 0; k < n; ++k) {
    const uint32_t low = ids[k] & 0xFFFF;
    out[low >> 3] = static_cast<char>(out[low >> 3] | (1 << (low & 7)));
  }
}

size_t sorted_ids_posting_size(const uint32_t* ids, size_t n) {
  if (n == 0) return 8;  // cookie, container count
  // Key and cardinality, offset, values.
  if (n <= kMaxArrayCardinality) return 8 + 8 * count_windows(ids, n) + 2 * n;
  size_t size = 8;
  for (size_t i = 0; i < n;) {
    const size_t end = container_end(ids, i, n);
    size += 8 + container_bytes(end - i);
    i = end;
  }
  return size;
}

void append_sorted_ids_posting(const uint32_t* ids, size_t n, std::string* out) {
  if (n <= kLocalEnds) {
    size_t ends[kLocalEnds];
    append_containers(ids, ends, find_container_ends(ids, n, ends), out);
    return;
  }
  // At most one container per window between the first id and the last.
  std::vector<size_t> ends((ids[n - 1] >> 16) - (ids[0] >> 16) + 1);
  append_containers(ids, ends.data(), find_container_ends(ids, n, ends.data()), out);
}

size_t posting_size(const Bitmap& ids) {
  if (has_run_containers(ids.get())) {
    return roaring_bitmap_portable_size_in_bytes(without_runs(ids.get()).get());
  }
  return roaring_bitmap_portable_size_in_bytes(ids.get());
}

void append_posting(const Bitmap& ids, std::string* out) {
  Bitmap converted(nullptr);
  const roaring_bitmap_t* r = ids.get();
  if (has_run_containers(r)) {
    converted = without_runs(r);
    r = converted.get();
  }
  size_t at = out->size();
  out->resize(at + roaring_bitmap_portable_size_in_bytes(r));
  size_t written = roaring_bitmap_portable_serialize(r, out->data() + at);
  out->resize(at + written);
}

std::string serialize_posting(const Bitmap& ids) {
  std::string out;
  append_posting(ids, &out);
  return out;
}

HeadTail split_head_tail(const Bitmap& ids, uint32_t boundary) {
  HeadTail out;
  Bitmap empty;
  if (roaring_bitmap_is_empty(ids.get())) {
    append_posting(empty, &out.head);
    append_posting(empty, &out.tail);
    return out;
  }
  // Whole-set cases need no copy.
  if (roaring_bitmap_minimum(ids.get()) >= boundary) {
    append_posting(empty, &out.head);
    append_posting(ids, &out.tail);
    return out;
  }
  if (roaring_bitmap_maximum(ids.get()) < boundary) {
    append_posting(ids, &out.head);
    append_posting(empty, &out.tail);
    return out;
  }
  // Rebuild both parts by insertion so neither carries an empty container
  // or a run container.
  Bitmap head;
  Bitmap tail;
  roaring_uint32_iterator_t it;
  roaring_init_iterator(ids.get(), &it);
  uint32_t buf[4096];
  for (;;) {
    uint32_t n = roaring_read_uint32_iterator(&it, buf, 4096);
    if (n == 0) break;
    uint32_t* cut = std::lower_bound(buf, buf + n, boundary);
    head.add_many(buf, static_cast<size_t>(cut - buf));
    tail.add_many(cut, static_cast<size_t>(buf + n - cut));
  }
  append_posting(head, &out.head);
  append_posting(tail, &out.tail);
  return out;
}

}  // namespace vellum
