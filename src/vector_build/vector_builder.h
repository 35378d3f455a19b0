// The vector builder: stages (doc_id, vector) pairs in insertion order and
// builds a trained VLVI file from them, as often as asked; building never
// consumes or changes what is staged.
#ifndef VELLUM_VECTOR_BUILD_VECTOR_BUILDER_H_
#define VELLUM_VECTOR_BUILD_VECTOR_BUILDER_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "vector_build/ivfpq.h"

namespace vellum {

// Used when no seed is given: the bytes of "VQVIVLVI", most significant
// first. An explicit 0 is kept and means the trainer's own seed.
inline constexpr uint64_t kDefaultVectorSeed = 0x56515649564C5649ULL;

struct VectorBuildStats {
  uint64_t vectors = 0;
  uint64_t dim = 0;
  uint64_t nlist = 0;  // lists actually written
  uint64_t m = 0;
  uint64_t nbits = 0;
};

// Converted pairs, components back to back: pair i is ids[i] with the
// lengths[i] floats that follow the previous pairs' in `values`.
struct VectorBatch {
  std::vector<uint32_t> ids;
  std::vector<size_t> lengths;
  std::vector<float> values;

  void append(uint32_t id, std::span<const float> vector) {
    ids.push_back(id);
    lengths.push_back(vector.size());
    values.insert(values.end(), vector.begin(), vector.end());
  }
};

// The constructor checks, with their messages, shared with the import path:
// dim/m, then nbits, then nlist, then the metric name.
Result<MetricKind> check_vector_params(uint64_t dim, uint64_t nlist, uint64_t m, uint8_t nbits,
                                       std::string_view metric);

class VectorBuilder {
 public:
  // `seed` nullopt selects kDefaultVectorSeed.
  static Result<VectorBuilder> create(uint64_t dim, uint64_t nlist, uint64_t m, uint8_t nbits,
                                      std::string_view metric, uint64_t kmeans_iters,
                                      std::optional<uint64_t> seed);

  // Stages the pair, or refuses a vector whose length is not dim.
  Status add(uint32_t doc_id, std::span<const float> vector);

  // Stages the pairs in order up to the first of the wrong length, which is
  // refused with the pairs after it.
  Status add_many(const VectorBatch& batch);

  // Trains over everything staged and writes the file at `out_path`.
  Result<VectorBuildStats> build(const std::string& out_path) const;

  // The trained model that build() writes.
  Result<IvfPqIndex> train() const;

  size_t staged_count() const { return ids_.size(); }
  const IvfPqParams& params() const { return params_; }

 private:
  explicit VectorBuilder(const IvfPqParams& params) : params_(params) {}

  IvfPqParams params_;
  std::vector<uint32_t> ids_;
  std::vector<float> values_;  // staged_count() x dim
};

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_VECTOR_BUILDER_H_
