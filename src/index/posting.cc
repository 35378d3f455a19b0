#include "index/posting.h"

#include <roaring/containers/containers.h>

#include <algorithm>

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

}  // namespace

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
