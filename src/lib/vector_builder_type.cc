#include "lib/vector_builder_type.h"

#include <optional>
#include <string>

#include "lib/binding.h"
#include "lib/stats.h"
#include "lib/vector_args.h"
#include "vector_build/vector_builder.h"

namespace vellum::py {

namespace {

struct VectorBuilderClass {
  using Core = VectorBuilder;
  static constexpr const char* kName = "VectorBuilder";
};

constexpr Callable kNew{
    "VectorBuilder",
    {{"dim"}, {"nlist"}, {"m"}, {"nbits", "8"}, {"metric", "\"ip\""}, {"kmeans_iters", "25"},
     {"seed", "None"}},
    "Accumulates `(doc_id, vector)` pairs, then trains and writes an `VLVI` IVF-PQ vector "
    "index: nlist coarse clusters, m sub-quantizers of 2**nbits centroids each. metric is "
    "'ip' (cosine: vectors are scaled to unit length) or 'l2'. Training is deterministic "
    "for a given seed."};
Result<VectorBuilder> make(uint64_t dim, uint64_t nlist, uint64_t m, uint8_t nbits,
                           std::string metric, uint64_t kmeans_iters,
                           std::optional<uint64_t> seed) {
  return VectorBuilder::create(dim, nlist, m, nbits, metric, kmeans_iters, seed);
}

constexpr Callable kAdd{
    "add",
    {{"doc_id"}, {"vector"}},
    "Stages one vector under doc_id (normally the dataset's rank-order document id). "
    "vector is any sequence of floats; NumPy float32 and float64 rows are read directly.",
    Borrow::kExclusive};
Status add(VectorBuilder& b, uint32_t doc_id, FloatVector vector) {
  return b.add(doc_id, vector.values);
}

constexpr Callable kAddMany{
    "add_many",
    {{"items"}},
    "Stages a batch of (doc_id, vector) pairs. The whole batch is converted first; pairs "
    "before the first vector of the wrong length stay staged.",
    Borrow::kExclusive};
Status add_many(VectorBuilder& b, VectorBatch items) { return b.add_many(items); }

constexpr Callable kBuild{
    "build",
    {{"out_path"}},
    "Trains over every staged vector and writes the index to out_path (missing parent "
    "directories are created); returns VectorBuildStats. The staged vectors stay, so the "
    "builder can receive more and build again.",
    Borrow::kShared};
PyObject* build(VectorBuilder& b, std::string out_path) {
  Result<VectorBuildStats> s = b.build(out_path);
  if (!s.ok()) return raise(s.error());
  return new_stats(StatsKind::kVectorBuild, {s->vectors, s->dim, s->nlist, s->m, s->nbits});
}

}  // namespace

PyObject* make_vector_builder_type() {
  static PyMethodDef methods[] = {
      method<VectorBuilderClass, kAdd, add>(),
      method<VectorBuilderClass, kAddMany, add_many>(),
      method<VectorBuilderClass, kBuild, build>(),
      kEndOfMethods,
  };
  return make_class<VectorBuilderClass, kNew, make>(methods);
}

}  // namespace vellum::py
