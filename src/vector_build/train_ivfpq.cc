#include "vector_build/train_ivfpq.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "vector_build/kmeans.h"

namespace vellum {

namespace {

Status validate(std::span<const VectorRef> vectors, const IvfPqParams& p) {
  if (vectors.empty()) return VectorBuildError::no_input_vectors();
  VELLUM_RETURN_IF_ERROR(check_ivfpq_params(p.dim, p.m, p.nbits, p.nlist));
  for (const VectorRef& v : vectors) {
    if (v.values.size() != p.dim) return VectorBuildError::vector_length();
  }
  return Status();
}

// The training matrix, in staged order; for inner product each vector is
// divided by its norm unless its squared norm is exactly zero.
std::vector<float> training_matrix(std::span<const VectorRef> vectors, size_t dim,
                                   MetricKind metric) {
  std::vector<float> x(vectors.size() * dim);
  for (size_t i = 0; i < vectors.size(); ++i) {
    const float* src = vectors[i].values.data();
    float* dst = x.data() + i * dim;
    if (metric == MetricKind::kL2) {
      std::copy_n(src, dim, dst);
      continue;
    }
    float sq = -0.0f;
    for (size_t j = 0; j < dim; ++j) sq = sq + src[j] * src[j];
    if (sq == 0.0f) {
      std::copy_n(src, dim, dst);
      continue;
    }
    const float norm = std::sqrt(sq);
    for (size_t j = 0; j < dim; ++j) dst[j] = src[j] / norm;
  }
  return x;
}

// Trains sub-quantizer after sub-quantizer over the residuals in `r`,
// continuing the one random state, and fills the codebooks and the codes.
Status train_product_quantizer(const std::vector<float>& r, size_t n, const IvfPqParams& p,
                               size_t iters, uint64_t* state, AssignKernel kernel,
                               IvfPqIndex* index, std::vector<uint8_t>* codes) {
  const size_t dim = p.dim, m = p.m, dsub = dim / m, ksub = size_t{1} << p.nbits;
  index->codebooks.resize(m * ksub * dsub);
  codes->resize(n * m);
  std::vector<float> gathered(n * dsub);
  for (size_t j = 0; j < m; ++j) {
    for (size_t i = 0; i < n; ++i) {
      std::copy_n(r.data() + i * dim + j * dsub, dsub, gathered.data() + i * dsub);
    }
    VELLUM_ASSIGN_OR_RETURN(KMeansResult sub,
                            kmeans(gathered.data(), n, dsub, ksub, iters, state, kernel));
    std::copy(sub.centroids.begin(), sub.centroids.end(),
              index->codebooks.begin() + static_cast<ptrdiff_t>(j * ksub * dsub));
    for (size_t i = 0; i < n; ++i) (*codes)[i * m + j] = static_cast<uint8_t>(sub.assignment[i]);
  }
  return Status();
}

void fill_lists(std::span<const VectorRef> vectors, const std::vector<uint32_t>& assignment,
                const std::vector<uint8_t>& codes, size_t m, IvfPqIndex* index) {
  index->list_ids.assign(index->nlist, {});
  index->list_codes.assign(index->nlist, {});
  for (size_t i = 0; i < vectors.size(); ++i) {
    const uint32_t c = assignment[i];
    index->list_ids[c].push_back(vectors[i].id);
    index->list_codes[c].insert(index->list_codes[c].end(), codes.begin() + i * m,
                                codes.begin() + (i + 1) * m);
  }
}

}  // namespace

Status check_ivfpq_params(uint64_t dim, uint64_t m, uint8_t nbits, uint64_t nlist) {
  if (dim == 0 || m == 0 || dim % m != 0) {
    return VectorBuildError::bad_params("dim/m: need dim>0, m>0, m|dim");
  }
  if (nbits < 1 || nbits > 8) return VectorBuildError::bad_params("nbits must be in 1..=8");
  if (nlist == 0) return VectorBuildError::bad_params("nlist must be >= 1");
  return Status();
}

Result<IvfPqIndex> train_ivfpq(std::span<const VectorRef> vectors, const IvfPqParams& p,
                               AssignKernel kernel) {
  VELLUM_RETURN_IF_ERROR(validate(vectors, p));
  const size_t n = vectors.size();
  const size_t dim = p.dim;
  const size_t iters = std::max<uint64_t>(p.kmeans_iters, 1);
  uint64_t state = p.seed != 0 ? p.seed : kBuiltinTrainSeed;

  IvfPqIndex index;
  index.dim = dim;
  index.nlist = std::min<uint64_t>(p.nlist, n);
  index.m = p.m;
  index.n = n;
  index.metric = p.metric;
  index.nbits = p.nbits;

  std::vector<float> x = training_matrix(vectors, dim, p.metric);
  VELLUM_ASSIGN_OR_RETURN(KMeansResult coarse,
                          kmeans(x.data(), n, dim, index.nlist, iters, &state, kernel));
  // The residuals replace the training matrix, which nothing needs after.
  for (size_t i = 0; i < n; ++i) {
    const float* c = coarse.centroids.data() + size_t{coarse.assignment[i]} * dim;
    float* row = x.data() + i * dim;
    for (size_t j = 0; j < dim; ++j) row[j] = row[j] - c[j];
  }
  std::vector<uint8_t> codes;
  VELLUM_RETURN_IF_ERROR(
      train_product_quantizer(x, n, p, iters, &state, kernel, &index, &codes));
  index.centroids = std::move(coarse.centroids);
  fill_lists(vectors, coarse.assignment, codes, p.m, &index);
  return index;
}

}  // namespace vellum
