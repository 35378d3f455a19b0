// Posting encoders: a set of document ids to its portable Roaring
// serialization, always without run containers, so that every container a
// reader meets is an array or a bitmap container.
#ifndef VELLUM_INDEX_POSTING_H_
#define VELLUM_INDEX_POSTING_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "index/bitmap.h"

namespace vellum {

// Byte length that append_posting / serialize_posting will produce.
size_t posting_size(const Bitmap& ids);

// Appends the serialization of `ids` to `out`.
void append_posting(const Bitmap& ids, std::string* out);

std::string serialize_posting(const Bitmap& ids);

// The same serialization for `n` strictly ascending ids, encoded directly:
// collecting millions of small sets needs no bitmap per set. Containers
// holding more than 4096 ids are bitmap containers, as insertion makes them.
size_t sorted_ids_posting_size(const uint32_t* ids, size_t n);
void append_sorted_ids_posting(const uint32_t* ids, size_t n, std::string* out);

// Container bodies of `n` ascending ids of one window: the low 16 bits of
// each as little-endian u16 (an array container, 2 * n bytes), or a bitmap
// container of kBitmapContainerBytes bytes with bit (low & 7) of byte
// (low >> 3) set for each id.
void encode_array_container(const uint32_t* ids, size_t n, char* out);
void encode_bitmap_container(const uint32_t* ids, size_t n, char* out);

struct HeadTail {
  std::string head;  // ids below the boundary
  std::string tail;  // ids at or above it, not rebased
};

// Splits `ids` at `boundary`; an empty part is the 8-byte empty serialization
// and neither part holds an empty container.
HeadTail split_head_tail(const Bitmap& ids, uint32_t boundary);

}  // namespace vellum

#endif  // VELLUM_INDEX_POSTING_H_
