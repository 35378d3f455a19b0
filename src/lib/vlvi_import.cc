#include "lib/vlvi_import.h"

#include <optional>
#include <string>

#include "lib/binding.h"
#include "lib/stats.h"
#include "vector_build/ivfpq_parts.h"

namespace vellum::py {

namespace {

constexpr Callable kWrite{
    "write_vlvi_from_faiss",
    {{"out_path"}, {"dim"}, {"nlist"}, {"m"}, {"centroids"}, {"codebooks"}, {"ids"},
     {"assignments"}, {"codes"}, {"nbits", "8"}, {"metric", "\"ip\""}, {"opq", "None"}},
    "Writes a `VLVI` file from an IVF-PQ model trained elsewhere, given as little-endian "
    "byte buffers: centroids (nlist*dim f32, rotated space when opq is given), codebooks "
    "(m * 2**nbits * dim/m f32), ids and assignments (u32 each, one per vector), codes "
    "(m bytes per vector, in id order) and opq (dim*dim f32 row-major rotation) or None. "
    "Returns VectorBuildStats."};
PyObject* write(std::string out_path, uint64_t dim, uint64_t nlist, uint64_t m, Bytes centroids,
                Bytes codebooks, Bytes ids, Bytes assignments, Bytes codes, uint8_t nbits,
                std::string metric, std::optional<Bytes> opq) {
  FaissBuffers b{centroids.data, codebooks.data, ids.data, assignments.data, codes.data,
                 std::nullopt};
  if (opq) b.opq = opq->data;
  Result<VectorBuildStats> s = write_vlvi_from_faiss(out_path, dim, nlist, m, b, nbits, metric);
  if (!s.ok()) return raise(s.error());
  return new_stats(StatsKind::kVectorBuild, {s->vectors, s->dim, s->nlist, s->m, s->nbits});
}

}  // namespace

PyObject* make_write_vlvi_from_faiss(PyObject* module_name) {
  static PyMethodDef def = function<kWrite, write>();
  return make_function(&def, module_name);
}

}  // namespace vellum::py
