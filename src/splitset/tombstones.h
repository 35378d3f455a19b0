// Tombstone payloads: the deleted global document ids of a split, as a
// portable Roaring serialization without run containers.
#ifndef VELLUM_SPLITSET_TOMBSTONES_H_
#define VELLUM_SPLITSET_TOMBSTONES_H_

#include <string>
#include <string_view>

#include "index/bitmap.h"
#include "splitset/format_error.h"

namespace vellum {

std::string encode_tombstones(const Bitmap& deleted);

// Reads a stored payload. Bytes the Roaring library cannot read, or that
// hold more or less than one serialization, are a roaring-deserialize error.
FormatResult<Bitmap> decode_tombstones(std::string_view payload);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_TOMBSTONES_H_
