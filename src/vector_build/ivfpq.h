// The in-memory IVF-PQ model shared by training, import and the VLVI writer,
// its parameters, and the error values of the vector core.
//
// An IvfPqIndex is a coarse quantizer (nlist centroids of dim floats), a
// residual product quantizer (m codebooks of 2^nbits centroids of dim/m
// floats) and one inverted list per coarse centroid holding document ids and
// m one-byte codes per id, in the order the vectors were given.
#ifndef VELLUM_VECTOR_BUILD_IVFPQ_H_
#define VELLUM_VECTOR_BUILD_IVFPQ_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace vellum {

// Stored in the VLVI header, so the values are fixed.
enum class MetricKind : uint8_t { kInnerProduct = 0, kL2 = 1 };

// Parses a metric name after lowercasing its ASCII letters: "ip", "cosine",
// "dot", "inner_product" or "l2", "euclidean". Other names give nullopt.
std::optional<MetricKind> parse_metric(std::string_view name);

// The name lowercased the way parse_metric sees it (ASCII letters only).
std::string ascii_lowercase(std::string_view name);

struct IvfPqParams {
  uint64_t dim = 0;
  uint64_t nlist = 0;  // requested; training clamps it to the vector count
  uint64_t m = 0;
  uint8_t nbits = 8;
  MetricKind metric = MetricKind::kInnerProduct;
  uint64_t kmeans_iters = 25;  // 0 behaves as 1
  uint64_t seed = 0;           // 0 selects the trainer's built-in seed
};

struct IvfPqIndex {
  uint64_t dim = 0;
  uint64_t nlist = 0;
  uint64_t m = 0;
  uint64_t n = 0;
  MetricKind metric = MetricKind::kInnerProduct;
  uint8_t nbits = 8;
  std::vector<float> centroids;  // nlist x dim
  std::vector<float> codebooks;  // m x 2^nbits x (dim / m)
  std::vector<std::vector<uint32_t>> list_ids;   // nlist lists
  std::vector<std::vector<uint8_t>> list_codes;  // m bytes per id of the list
  std::optional<std::vector<float>> opq;         // dim x dim rotation, imports only
};

// Failures of training and of part validation. All are kInvalidArgument
// errors, which the module raises as ValueError with the text.
class VectorBuildError {
 public:
  static Error no_input_vectors() {
    return Error(ErrorKind::kInvalidArgument, "no input vectors");
  }
  static Error vector_length() {
    return Error(ErrorKind::kInvalidArgument, "a vector's length != params.dim");
  }
  static Error bad_params(std::string_view message) {
    return Error(ErrorKind::kInvalidArgument, "bad params: " + std::string(message));
  }
};

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_IVFPQ_H_
