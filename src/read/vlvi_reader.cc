#include "read/vlvi_reader.h"

#include <cmath>
#include <cstring>

#include "common/coding.h"
#include "read/fixed_header.h"

namespace vellum {

namespace {

constexpr const char* kHeader = "header";
constexpr const char* kDirectory = "list directory";
constexpr const char* kLists = "list data";
constexpr std::string_view kMagic = "VLVI";
constexpr uint16_t kVersion = 1;
constexpr uint64_t kHeaderSize = 48;
constexpr uint64_t kDirEntrySize = 12;
constexpr uint64_t kIdSize = 4;

// a * b, or false when it does not fit 64 bits.
bool mul(uint64_t a, uint64_t b, uint64_t* out) { return !__builtin_mul_overflow(a, b, out); }
bool add(uint64_t a, uint64_t b, uint64_t* out) { return !__builtin_add_overflow(a, b, out); }

}  // namespace

Checked<VlviReader> VlviReader::open(std::string file, std::string_view bytes) {
  VlviReader v(std::move(file), bytes);
  const ProblemSite& site = v.site_;
  VlviHeader& h = v.h_;
  VELLUM_CHECK(check_fixed_header(site, bytes, {kMagic, kVersion, kHeaderSize}));
  const char* p = bytes.data();
  h.version = GetU16(p + 4);
  h.metric = static_cast<uint8_t>(p[6]);
  const uint8_t rotation = static_cast<uint8_t>(p[7]);
  h.dim = GetU32(p + 8);
  h.nlist = GetU32(p + 12);
  h.m = GetU32(p + 16);
  h.nbits = static_cast<uint8_t>(p[20]);
  h.vector_count = GetU64(p + 24);
  if (h.metric > 1) return site.at(kHeader, 6, "unknown metric code");
  if (rotation > 1) return site.at(kHeader, 7, "rotation flag is neither 0 nor 1");
  h.rotated = rotation == 1;
  if (h.dim == 0) return site.at(kHeader, 8, "dimension is 0");
  if (h.nlist == 0) return site.at(kHeader, 12, "list count is 0");
  if (h.m == 0 || h.dim % h.m != 0) return site.at(kHeader, 16, "sub-quantizer count does not divide the dimension");
  if (h.nbits < 1 || h.nbits > 8) return site.at(kHeader, 20, "nbits is not between 1 and 8");
  for (uint64_t i : {21, 22, 23}) {
    if (p[i] != 0) return site.at(kHeader, i, "reserved byte is not 0");
  }
  for (uint64_t i = 32; i < kHeaderSize; ++i) {
    if (p[i] != 0) return site.at(kHeader, i, "reserved byte is not 0");
  }
  const uint64_t d = h.dim, ksub = uint64_t{1} << h.nbits;
  uint64_t rotation_size = 0, centroids, codebooks, directory;
  if ((h.rotated && !mul(4 * d, d, &rotation_size)) || !mul(4 * d, h.nlist, &centroids) ||
      !mul(4 * d, ksub, &codebooks) || !mul(kDirEntrySize, h.nlist, &directory)) {
    return site.at(kHeader, 8, "model size overflows");
  }
  h.rotation_offset = kHeaderSize;
  if (!add(kHeaderSize, rotation_size, &h.centroids_offset) ||
      !add(h.centroids_offset, centroids, &h.codebooks_offset) ||
      !add(h.codebooks_offset, codebooks, &h.directory_offset) ||
      !add(h.directory_offset, directory, &h.data_offset)) {
    return site.at(kHeader, 8, "model size overflows");
  }
  if (h.data_offset > bytes.size()) {
    return site.at(kDirectory, bytes.size(), "file ends before the end of the list directory");
  }
  return v;
}

VlviList VlviReader::list(uint32_t i) const {
  const char* p = bytes_.data() + h_.directory_offset + kDirEntrySize * i;
  return VlviList{GetU64(p), GetU32(p + 8)};
}

Check VlviReader::check_floats(uint64_t at, uint64_t count, const char* region) const {
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t bits = GetU32(bytes_.data() + at + 4 * i);
    float f;
    std::memcpy(&f, &bits, 4);
    if (!std::isfinite(f)) return site_.at(region, at + 4 * i, "float is not finite");
  }
  return Check();
}

Checked<VlviStats> VlviReader::verify() const {
  const uint64_t d = h_.dim, ksub = uint64_t{1} << h_.nbits;
  if (h_.rotated) VELLUM_CHECK(check_floats(h_.rotation_offset, d * d, "rotation"));
  VELLUM_CHECK(check_floats(h_.centroids_offset, uint64_t{h_.nlist} * d, "centroids"));
  VELLUM_CHECK(check_floats(h_.codebooks_offset, ksub * d, "codebooks"));
  VlviStats s;
  uint64_t expect = h_.data_offset, total = 0;
  for (uint32_t i = 0; i < h_.nlist; ++i) {
    const uint64_t at = h_.directory_offset + kDirEntrySize * i;
    const VlviList l = list(i);
    if (l.offset != expect) return site_.at(kDirectory, at, "list does not start where the previous one ends");
    uint64_t bytes;
    if (!mul(l.count, kIdSize + h_.m, &bytes) || !add(expect, bytes, &expect) || expect > bytes_.size()) {
      return site_.at(kDirectory, at + 8, "list runs past the end of the file");
    }
    const uint64_t codes_at = l.offset + kIdSize * l.count;
    for (uint64_t c = 0; c < uint64_t{l.count} * h_.m && h_.nbits < 8; ++c) {
      if (static_cast<uint8_t>(bytes_[codes_at + c]) >= ksub) {
        return site_.at(kLists, codes_at + c, "code is not below 2^nbits");
      }
    }
    total += l.count;
    s.empty_lists += l.count == 0;
    s.largest_list = std::max(s.largest_list, l.count);
  }
  if (total != h_.vector_count) return site_.at(kHeader, 24, "vector count differs from the list directory");
  if (expect != bytes_.size()) return site_.at(kLists, expect, "bytes follow the last list");
  return s;
}

Checked<std::vector<uint32_t>> VlviReader::list_ids(uint32_t i) const {
  if (i >= h_.nlist) return site_.at(kDirectory, h_.directory_offset, "no list " + std::to_string(i));
  const VlviList l = list(i);
  const uint64_t at = h_.directory_offset + kDirEntrySize * i;
  if (l.offset < h_.data_offset || l.offset > bytes_.size() ||
      uint64_t{l.count} * (kIdSize + h_.m) > bytes_.size() - l.offset) {
    return site_.at(kDirectory, at, "list lies outside the list data");
  }
  std::vector<uint32_t> ids(l.count);
  for (uint32_t k = 0; k < l.count; ++k) ids[k] = GetU32(bytes_.data() + l.offset + kIdSize * k);
  return ids;
}

}  // namespace vellum
