// Reader of the VLVI vector index, for bytes from storage. `open` checks
// the 48-byte header (codes in range, d a multiple of m, nbits 1 to 8,
// zero reserved bytes) and that the model and list directory fit; `verify`
// checks the rest: finite floats in the rotation, centroids and codebooks,
// directory entries tiling the list data in order with counts summing to
// n, the file ending with the last list, and every code below 2^nbits.
#ifndef VELLUM_READ_VLVI_READER_H_
#define VELLUM_READ_VLVI_READER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "read/problem.h"

namespace vellum {

struct VlviHeader {
  uint16_t version = 0;
  uint8_t metric = 0;  // 0 inner product, 1 L2
  bool rotated = false;
  uint32_t dim = 0;
  uint32_t nlist = 0;
  uint32_t m = 0;
  uint8_t nbits = 0;
  uint64_t vector_count = 0;
  uint64_t rotation_offset = 0;   // meaningful when rotated
  uint64_t centroids_offset = 0;
  uint64_t codebooks_offset = 0;
  uint64_t directory_offset = 0;
  uint64_t data_offset = 0;       // D0, the first list's data
};

struct VlviList {
  uint64_t offset = 0;
  uint32_t count = 0;
};

struct VlviStats {
  uint64_t empty_lists = 0;
  uint32_t largest_list = 0;
};

class VlviReader {
 public:
  static Checked<VlviReader> open(std::string file, std::string_view bytes);

  const VlviHeader& header() const { return h_; }
  uint64_t file_size() const { return bytes_.size(); }
  const std::string& file() const { return site_.file(); }

  Checked<VlviStats> verify() const;

  // Directory entry `list` (< nlist); `open` made sure the directory fits.
  VlviList list(uint32_t list) const;

  // The document ids of one list, checked against the file.
  Checked<std::vector<uint32_t>> list_ids(uint32_t list) const;

 private:
  VlviReader(std::string file, std::string_view bytes) : site_(std::move(file)), bytes_(bytes) {}
  Check check_floats(uint64_t at, uint64_t count, const char* region) const;

  ProblemSite site_;
  std::string_view bytes_;
  VlviHeader h_;
};

}  // namespace vellum

#endif  // VELLUM_READ_VLVI_READER_H_
