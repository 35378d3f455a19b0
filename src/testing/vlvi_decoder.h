// Test-only strict decoder of VLVI vector index files, written from the
// byte layout. It throws on anything a well-formed file cannot contain: a
// bad magic, version, metric, flag or nbits, non-zero reserved bytes, a
// directory offset that leaves a gap or overlaps, counts that do not add up
// to the header's total, a code at or above 2^nbits, or trailing bytes.
#ifndef VELLUM_TESTING_VLVI_DECODER_H_
#define VELLUM_TESTING_VLVI_DECODER_H_

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "testing/test_decoders.h"
#include "vector_build/vlvi_format.h"

namespace vellum::testing {

struct VlviFile {
  uint8_t metric = 0;
  bool rotated = false;
  uint32_t dim = 0;
  uint32_t nlist = 0;
  uint32_t m = 0;
  uint8_t nbits = 0;
  uint64_t n = 0;
  std::vector<float> rotation;
  std::vector<float> centroids;
  std::vector<float> codebooks;
  std::vector<uint64_t> offsets;
  std::vector<std::vector<uint32_t>> ids;
  std::vector<std::vector<uint8_t>> codes;  // m bytes per id
};

inline std::vector<float> decode_floats(Reader* r, uint64_t count) {
  std::vector<float> out;
  out.reserve(count);
  for (uint64_t i = 0; i < count; ++i) out.push_back(std::bit_cast<float>(r->u32()));
  return out;
}

inline void decode_vlvi_header(Reader* r, VlviFile* f) {
  require(r->take(4) == std::string_view(vlvi::kMagic, 4), "VLVI magic");
  require(r->u16() == vlvi::kVersion, "VLVI version");
  const std::string_view flags = r->take(2);
  f->metric = static_cast<uint8_t>(flags[0]);
  require(f->metric <= 1, "VLVI metric");
  require(flags[1] == 0 || flags[1] == 1, "VLVI rotation flag");
  f->rotated = flags[1] == 1;
  f->dim = r->u32();
  f->nlist = r->u32();
  f->m = r->u32();
  f->nbits = static_cast<uint8_t>(r->take(1)[0]);
  require(f->nbits >= 1 && f->nbits <= 8, "VLVI nbits");
  require(r->take(3) == std::string_view("\0\0\0", 3), "VLVI reserved bytes 21..23");
  f->n = r->u64();
  require(r->take(16) == std::string(16, '\0'), "VLVI reserved bytes 32..47");
  require(f->dim > 0 && f->m > 0 && f->dim % f->m == 0, "VLVI dim/m");
}

inline VlviFile decode_vlvi(std::string_view bytes) {
  Reader r(bytes);
  VlviFile f;
  decode_vlvi_header(&r, &f);
  const uint64_t d = f.dim, ksub = uint64_t{1} << f.nbits;
  if (f.rotated) f.rotation = decode_floats(&r, d * d);
  f.centroids = decode_floats(&r, uint64_t{f.nlist} * d);
  f.codebooks = decode_floats(&r, ksub * d);
  std::vector<uint32_t> counts;
  for (uint32_t c = 0; c < f.nlist; ++c) {
    f.offsets.push_back(r.u64());
    counts.push_back(r.u32());
  }
  uint64_t total = 0;
  for (uint32_t c = 0; c < f.nlist; ++c) {
    require(f.offsets[c] == r.pos(), "VLVI list " + std::to_string(c) + " offset");
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < counts[c]; ++i) ids.push_back(r.u32());
    const std::string_view raw = r.take(uint64_t{counts[c]} * f.m);
    std::vector<uint8_t> codes(raw.begin(), raw.end());
    for (uint8_t code : codes) require(code < ksub, "VLVI code >= 2^nbits");
    f.ids.push_back(std::move(ids));
    f.codes.push_back(std::move(codes));
    total += counts[c];
  }
  require(total == f.n, "VLVI list counts do not add up to n");
  require(r.remaining() == 0, "VLVI trailing bytes");
  return f;
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_VLVI_DECODER_H_
