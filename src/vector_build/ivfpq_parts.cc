#include "vector_build/ivfpq_parts.h"

#include <algorithm>
#include <bit>

#include "common/coding.h"
#include "vector_build/train_ivfpq.h"
#include "vector_build/vlvi_writer.h"

namespace vellum {

namespace {

using u128 = unsigned __int128;

std::string decimal(u128 v) {
  std::string s;
  do {
    s.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  std::reverse(s.begin(), s.end());
  return s;
}

// The decimal text of 4 * v, which can exceed 128 bits.
std::string decimal_times_four(u128 v) {
  std::string s = decimal(v);
  int carry = 0;
  for (auto it = s.rbegin(); it != s.rend(); ++it) {
    const int digit = (*it - '0') * 4 + carry;
    *it = static_cast<char>('0' + digit % 10);
    carry = digit / 10;
  }
  if (carry != 0) s.insert(s.begin(), static_cast<char>('0' + carry));
  return s;
}

Error invalid(std::string message) {
  return Error(ErrorKind::kInvalidArgument, std::move(message));
}

// A buffer of exactly `count` little-endian floats.
Result<std::vector<float>> float_buffer(const char* name, std::string_view bytes, u128 count) {
  if (count > bytes.size() / 4 || u128{bytes.size()} != count * 4) {
    return invalid(std::string(name) + ": expected " + decimal_times_four(count) + " bytes (" +
                   decimal(count) + " f32), got " + std::to_string(bytes.size()));
  }
  std::vector<float> out(bytes.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) out[i] = std::bit_cast<float>(GetU32(bytes.data() + 4 * i));
  return out;
}

// A buffer of little-endian unsigned 32-bit integers.
Result<std::vector<uint32_t>> u32_buffer(const char* name, std::string_view bytes) {
  if (bytes.size() % 4 != 0) {
    return invalid(std::string(name) + ": byte length " + std::to_string(bytes.size()) +
                   " is not a multiple of 4");
  }
  std::vector<uint32_t> out(bytes.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) out[i] = GetU32(bytes.data() + 4 * i);
  return out;
}

Status check_part_sizes(const IvfPqParts& p) {
  const u128 ksub = u128{1} << p.nbits;
  if (u128{p.centroids.size()} != u128{p.nlist} * p.dim) {
    return VectorBuildError::bad_params("centroids length != nlist*dim");
  }
  if (u128{p.codebooks.size()} != u128{p.m} * ksub * (p.dim / p.m)) {
    return VectorBuildError::bad_params("codebooks length != m*ksub*dsub");
  }
  if (p.opq && u128{p.opq->size()} != u128{p.dim} * p.dim) {
    return VectorBuildError::bad_params("opq length != dim*dim");
  }
  if (p.assignments.size() != p.ids.size()) {
    return VectorBuildError::bad_params("assignments length != ids length");
  }
  if (u128{p.codes.size()} != u128{p.ids.size()} * p.m) {
    return VectorBuildError::bad_params("codes length != ids length * m");
  }
  return Status();
}

Status check_part_values(const IvfPqParts& p) {
  for (uint32_t a : p.assignments) {
    if (a >= p.nlist) return VectorBuildError::bad_params("an assignment >= nlist");
  }
  if (p.nbits < 8) {
    const uint8_t high = static_cast<uint8_t>(0xFF << p.nbits);
    for (char c : p.codes) {
      if ((static_cast<uint8_t>(c) & high) != 0) {
        return VectorBuildError::bad_params("a code >= ksub (1<<nbits)");
      }
    }
  }
  return Status();
}

}  // namespace

Result<IvfPqIndex> ivfpq_from_parts(IvfPqParts parts) {
  VELLUM_RETURN_IF_ERROR(check_ivfpq_params(parts.dim, parts.m, parts.nbits, parts.nlist));
  VELLUM_RETURN_IF_ERROR(check_part_sizes(parts));
  VELLUM_RETURN_IF_ERROR(check_part_values(parts));
  IvfPqIndex index;
  index.dim = parts.dim;
  index.nlist = parts.nlist;
  index.m = parts.m;
  index.n = parts.ids.size();
  index.metric = parts.metric;
  index.nbits = parts.nbits;
  index.centroids = std::move(parts.centroids);
  index.codebooks = std::move(parts.codebooks);
  index.opq = std::move(parts.opq);
  std::vector<size_t> counts(parts.nlist);
  for (uint32_t a : parts.assignments) ++counts[a];
  index.list_ids.resize(parts.nlist);
  index.list_codes.resize(parts.nlist);
  for (size_t c = 0; c < parts.nlist; ++c) {
    index.list_ids[c].reserve(counts[c]);
    index.list_codes[c].reserve(counts[c] * parts.m);
  }
  const auto* codes = reinterpret_cast<const uint8_t*>(parts.codes.data());
  for (size_t i = 0; i < parts.ids.size(); ++i) {
    const uint32_t a = parts.assignments[i];
    index.list_ids[a].push_back(parts.ids[i]);
    index.list_codes[a].insert(index.list_codes[a].end(), codes + i * parts.m,
                               codes + (i + 1) * parts.m);
  }
  return index;
}

Result<IvfPqIndex> ivfpq_from_buffers(uint64_t dim, uint64_t nlist, uint64_t m,
                                      const FaissBuffers& b, uint8_t nbits,
                                      std::string_view metric) {
  VELLUM_ASSIGN_OR_RETURN(MetricKind kind, check_vector_params(dim, nlist, m, nbits, metric));
  IvfPqParts parts;
  parts.dim = dim;
  parts.nlist = nlist;
  parts.m = m;
  parts.nbits = nbits;
  parts.metric = kind;
  const u128 ksub = u128{1} << nbits;
  VELLUM_ASSIGN_OR_RETURN(parts.centroids, float_buffer("centroids", b.centroids, u128{nlist} * dim));
  VELLUM_ASSIGN_OR_RETURN(parts.codebooks,
                          float_buffer("codebooks", b.codebooks, u128{m} * ksub * (dim / m)));
  if (b.opq) {
    VELLUM_ASSIGN_OR_RETURN(parts.opq, float_buffer("opq", *b.opq, u128{dim} * dim));
  }
  VELLUM_ASSIGN_OR_RETURN(parts.ids, u32_buffer("ids", b.ids));
  VELLUM_ASSIGN_OR_RETURN(parts.assignments, u32_buffer("assignments", b.assignments));
  parts.codes = b.codes;
  return ivfpq_from_parts(std::move(parts));
}

Result<VectorBuildStats> write_vlvi_from_faiss(const std::string& out_path, uint64_t dim,
                                               uint64_t nlist, uint64_t m,
                                               const FaissBuffers& b, uint8_t nbits,
                                               std::string_view metric) {
  VELLUM_ASSIGN_OR_RETURN(IvfPqIndex index, ivfpq_from_buffers(dim, nlist, m, b, nbits, metric));
  VELLUM_RETURN_IF_ERROR(write_vlvi_file(index, out_path));
  return VectorBuildStats{index.n, dim, nlist, m, nbits};
}

}  // namespace vellum
