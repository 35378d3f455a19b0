// Layout of a posting: the portable Roaring serialization without run
// containers, named once for the encoders and the test decoder:
//
//   u32 cookie | u32 container_count
//   container_count x (u16 high 16 bits | u16 cardinality - 1)
//   container_count x u32 container offset, from the start of the posting
//   containers: an array of u16 low bits when the cardinality is at most
//               kMaxArrayCardinality, else a bitmap of 1024 u64 words
#ifndef VELLUM_INDEX_POSTING_FORMAT_H_
#define VELLUM_INDEX_POSTING_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace vellum {

inline constexpr uint32_t kNoRunCookie = 12346;
inline constexpr size_t kMaxArrayCardinality = 4096;
inline constexpr size_t kBitmapContainerBytes = 8192;

}  // namespace vellum

#endif  // VELLUM_INDEX_POSTING_FORMAT_H_
