// Test-only VLTI images assembled from the byte layout: posting records
// split at the head boundary, front-coded dictionary blocks sealed before
// an entry that would pass the block budget, and a router over the
// blocks' last terms.
#ifndef VELLUM_TESTING_VLTI_BYTES_H_
#define VELLUM_TESTING_VLTI_BYTES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/coding.h"
#include "index/posting.h"
#include "testing/fst_image.h"

namespace vellum::testing {

struct VltiOptions {
  uint32_t head_boundary = 65536;
  uint64_t block_cap = 4096;
  uint16_t flags = 0;
  uint8_t language_code = 0;
};

inline size_t varint_size(uint64_t v) {
  size_t n = 1;
  while (v >= 0x80) v >>= 7, ++n;
  return n;
}

inline std::string vlti_bytes(const std::map<std::string, std::vector<uint32_t>>& terms,
                              const VltiOptions& opt = {}) {
  std::string postings, dict, block;
  std::map<std::string, uint64_t> router;
  std::string prev, last;
  uint64_t prev_offset = 0;
  auto seal = [&] {
    router[last] = (uint64_t{dict.size()} << 24) | block.size();
    dict += block;
    block.clear();
    prev.clear();
    prev_offset = 0;
  };
  for (const auto& [term, ids] : terms) {
    Bitmap b;
    for (uint32_t id : ids) b.add(id);
    HeadTail ht = split_head_tail(b, opt.head_boundary);
    const uint64_t offset = postings.size();
    PutU32(&postings, static_cast<uint32_t>(ht.tail.size()));
    postings += ht.head + ht.tail;
    if (!block.empty()) {
      size_t p = 0;
      while (p < prev.size() && p < term.size() && prev[p] == term[p]) ++p;
      const size_t s = varint_size(p) + varint_size(term.size() - p) + (term.size() - p) +
                       varint_size(offset - prev_offset) + varint_size(ht.head.size());
      if (block.size() + s > opt.block_cap) seal();
    }
    size_t p = 0;
    while (!block.empty() && p < prev.size() && p < term.size() && prev[p] == term[p]) ++p;
    PutVarint64(&block, p);
    PutVarint64(&block, term.size() - p);
    block += term.substr(p);
    PutVarint64(&block, offset - prev_offset);
    PutVarint64(&block, ht.head.size());
    prev = last = term;
    prev_offset = offset;
  }
  if (!block.empty()) seal();
  const std::string fst = fst_image(router);
  std::string h = "VLTI";
  PutU16(&h, 2);
  PutU16(&h, opt.flags);
  PutU32(&h, static_cast<uint32_t>(terms.size()));
  PutU32(&h, opt.head_boundary);
  PutU64(&h, fst.size());
  PutU64(&h, dict.size());
  PutU32(&h, static_cast<uint32_t>(opt.block_cap));
  PutU8(&h, opt.language_code);
  h.append(3, '\0');
  return h + fst + dict + postings;
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_VLTI_BYTES_H_
