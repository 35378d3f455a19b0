#include "vector_build/vector_builder.h"

#include "vector_build/train_ivfpq.h"
#include "vector_build/vlvi_writer.h"

namespace vellum {

namespace {

Error invalid(std::string message) {
  return Error(ErrorKind::kInvalidArgument, std::move(message));
}

}  // namespace

Result<MetricKind> check_vector_params(uint64_t dim, uint64_t nlist, uint64_t m, uint8_t nbits,
                                       std::string_view metric) {
  if (dim == 0 || m == 0 || dim % m != 0) {
    return invalid("need dim > 0, m > 0, and m to divide dim");
  }
  if (nbits < 1 || nbits > 8) return invalid("nbits must be in 1..=8");
  if (nlist == 0) return invalid("nlist must be >= 1");
  std::optional<MetricKind> kind = parse_metric(metric);
  if (!kind) {
    return invalid("unknown metric " + ascii_lowercase(metric) + "; use 'ip' (cosine) or 'l2'");
  }
  return *kind;
}

Result<VectorBuilder> VectorBuilder::create(uint64_t dim, uint64_t nlist, uint64_t m,
                                            uint8_t nbits, std::string_view metric,
                                            uint64_t kmeans_iters,
                                            std::optional<uint64_t> seed) {
  VELLUM_ASSIGN_OR_RETURN(MetricKind kind, check_vector_params(dim, nlist, m, nbits, metric));
  IvfPqParams p;
  p.dim = dim;
  p.nlist = nlist;
  p.m = m;
  p.nbits = nbits;
  p.metric = kind;
  p.kmeans_iters = kmeans_iters;
  p.seed = seed.value_or(kDefaultVectorSeed);
  return VectorBuilder(p);
}

Status VectorBuilder::add(uint32_t doc_id, std::span<const float> vector) {
  if (vector.size() != params_.dim) {
    return invalid("vector has length " + std::to_string(vector.size()) + ", expected dim " +
                   std::to_string(params_.dim));
  }
  values_.insert(values_.end(), vector.begin(), vector.end());
  ids_.push_back(doc_id);
  return Status();
}

Status VectorBuilder::add_many(const VectorBatch& batch) {
  size_t at = 0;
  for (size_t i = 0; i < batch.ids.size(); ++i) {
    const size_t len = batch.lengths[i];
    VELLUM_RETURN_IF_ERROR(add(batch.ids[i], std::span<const float>(batch.values).subspan(at, len)));
    at += len;
  }
  return Status();
}

Result<IvfPqIndex> VectorBuilder::train() const {
  std::vector<VectorRef> refs(ids_.size());
  const size_t dim = params_.dim;
  for (size_t i = 0; i < ids_.size(); ++i) {
    refs[i] = VectorRef{ids_[i], std::span<const float>(values_.data() + i * dim, dim)};
  }
  return train_ivfpq(refs, params_);
}

Result<VectorBuildStats> VectorBuilder::build(const std::string& out_path) const {
  VELLUM_ASSIGN_OR_RETURN(IvfPqIndex index, train());
  VELLUM_RETURN_IF_ERROR(write_vlvi_file(index, out_path));
  return VectorBuildStats{index.n, index.dim, index.nlist, index.m, index.nbits};
}

}  // namespace vellum
