#include "splitset/tombstones.h"

#include "index/posting.h"

namespace vellum {

std::string encode_tombstones(const Bitmap& deleted) { return serialize_posting(deleted); }

FormatResult<Bitmap> decode_tombstones(std::string_view payload) {
  // The safe entry point checks each container's size against the input.
  const size_t expected = roaring_bitmap_portable_deserialize_size(payload.data(), payload.size());
  if (expected == 0 || expected != payload.size()) {
    return FormatError::roaring_deserialize("invalid tombstone bitmap");
  }
  Bitmap ids(roaring_bitmap_portable_deserialize_safe(payload.data(), payload.size()));
  if (!ids) return FormatError::roaring_deserialize("invalid tombstone bitmap");
  return ids;
}

}  // namespace vellum
