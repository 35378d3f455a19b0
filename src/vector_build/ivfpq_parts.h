// An IVF-PQ model trained elsewhere (for example by FAISS), given as
// little-endian byte buffers, turned into an IvfPqIndex and a VLVI file.
// Every buffer is checked before anything is built or written, so bad
// parts never produce a file.
#ifndef VELLUM_VECTOR_BUILD_IVFPQ_PARTS_H_
#define VELLUM_VECTOR_BUILD_IVFPQ_PARTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "vector_build/ivfpq.h"
#include "vector_build/vector_builder.h"

namespace vellum {

// Decoded parts. `codes` holds m bytes per id, in id order.
struct IvfPqParts {
  uint64_t dim = 0;
  uint64_t nlist = 0;
  uint64_t m = 0;
  uint8_t nbits = 8;
  MetricKind metric = MetricKind::kInnerProduct;
  std::vector<float> centroids;               // nlist x dim (rotated space with opq)
  std::vector<float> codebooks;               // m x 2^nbits x (dim / m)
  std::optional<std::vector<float>> opq;      // dim x dim, row-major
  std::vector<uint32_t> ids;
  std::vector<uint32_t> assignments;          // coarse list of each id
  std::string_view codes;
};

// Validates the parts ("bad params: ..." errors, first failure only) and
// builds the lists: id i and its codes go to list assignments[i], in order.
// The list count is nlist as given; no vector is normalised.
Result<IvfPqIndex> ivfpq_from_parts(IvfPqParts parts);

// The raw arguments of write_vlvi_from_faiss.
struct FaissBuffers {
  std::string_view centroids;
  std::string_view codebooks;
  std::string_view ids;
  std::string_view assignments;
  std::string_view codes;
  std::optional<std::string_view> opq;
};

// Checks the parameters, then the float buffers (centroids, codebooks,
// opq) and the integer buffers (ids, assignments) by length, decodes them
// and validates the parts.
Result<IvfPqIndex> ivfpq_from_buffers(uint64_t dim, uint64_t nlist, uint64_t m,
                                      const FaissBuffers& buffers, uint8_t nbits,
                                      std::string_view metric);

// ivfpq_from_buffers, then the file at `out_path`.
Result<VectorBuildStats> write_vlvi_from_faiss(const std::string& out_path, uint64_t dim,
                                               uint64_t nlist, uint64_t m,
                                               const FaissBuffers& buffers, uint8_t nbits,
                                               std::string_view metric);

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_IVFPQ_PARTS_H_
