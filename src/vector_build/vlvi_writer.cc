#include "vector_build/vlvi_writer.h"

#include <bit>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "common/coding.h"
#include "vector_build/vlvi_format.h"

namespace vellum {

namespace {

constexpr size_t kChunkFloats = size_t{1} << 14;

Error limit_error(const char* field) {
  return Error(ErrorKind::kIo, std::string("VLVI ") + field + " exceeds the 32-bit limit");
}

Error inconsistent(const char* what) {
  return Error(ErrorKind::kInvalidInput, std::string("VLVI index is inconsistent: ") + what);
}

bool has_size(size_t actual, uint64_t a, uint64_t b) {
  uint64_t want;
  return !__builtin_mul_overflow(a, b, &want) && actual == want;
}

Status check_index(const IvfPqIndex& x) {
  constexpr uint64_t kU32 = std::numeric_limits<uint32_t>::max();
  if (x.dim > kU32) return limit_error("dim");
  if (x.nlist > kU32) return limit_error("nlist");
  if (x.m > kU32) return limit_error("m");
  if (x.dim == 0 || x.m == 0 || x.dim % x.m != 0 || x.nbits < 1 || x.nbits > 8) {
    return inconsistent("dim, m or nbits");
  }
  if (!has_size(x.centroids.size(), x.nlist, x.dim)) return inconsistent("centroids");
  if (!has_size(x.codebooks.size(), uint64_t{1} << x.nbits, x.dim)) return inconsistent("codebooks");
  if (x.opq && !has_size(x.opq->size(), x.dim, x.dim)) return inconsistent("rotation");
  if (x.list_ids.size() != x.nlist || x.list_codes.size() != x.nlist) return inconsistent("lists");
  uint64_t total = 0;
  for (size_t c = 0; c < x.nlist; ++c) {
    if (!has_size(x.list_codes[c].size(), x.list_ids[c].size(), x.m)) return inconsistent("codes");
    if (x.list_ids[c].size() > kU32) return limit_error("list count");
    total += x.list_ids[c].size();
  }
  if (total != x.n) return inconsistent("vector count");
  return Status();
}

std::string header(const IvfPqIndex& x) {
  std::string h;
  h.reserve(vlvi::kHeaderSize);
  h.append(vlvi::kMagic, sizeof(vlvi::kMagic));
  PutU16(&h, vlvi::kVersion);
  PutU8(&h, static_cast<uint8_t>(x.metric));
  PutU8(&h, x.opq ? 1 : 0);
  PutU32(&h, static_cast<uint32_t>(x.dim));
  PutU32(&h, static_cast<uint32_t>(x.nlist));
  PutU32(&h, static_cast<uint32_t>(x.m));
  PutU8(&h, x.nbits);
  h.append(vlvi::kReservedASize, '\0');
  PutU64(&h, x.n);
  h.append(vlvi::kReservedBSize, '\0');
  return h;
}

// Raw little-endian floats, a bounded chunk at a time.
Status append_floats(const std::vector<float>& values, Sink* sink) {
  std::string buf;
  for (size_t at = 0; at < values.size(); at += kChunkFloats) {
    const size_t count = std::min(kChunkFloats, values.size() - at);
    buf.resize(count * vlvi::kFloatSize);
    for (size_t i = 0; i < count; ++i) {
      EncodeU32(buf.data() + i * vlvi::kFloatSize, std::bit_cast<uint32_t>(values[at + i]));
    }
    VELLUM_RETURN_IF_ERROR(sink->append(buf));
  }
  return Status();
}

// Every list's offset, from the sizes alone.
std::string directory(const IvfPqIndex& x) {
  std::string dir;
  dir.reserve(x.nlist * vlvi::kDirectoryEntrySize);
  uint64_t offset = vlvi_data_offset(x.dim, x.nlist, x.nbits, x.opq.has_value());
  for (size_t c = 0; c < x.nlist; ++c) {
    PutU64(&dir, offset);
    PutU32(&dir, static_cast<uint32_t>(x.list_ids[c].size()));
    offset += x.list_ids[c].size() * vlvi::kIdSize + x.list_codes[c].size();
  }
  return dir;
}

Status append_lists(const IvfPqIndex& x, Sink* sink) {
  std::string ids;
  for (size_t c = 0; c < x.nlist; ++c) {
    ids.clear();
    for (uint32_t id : x.list_ids[c]) PutU32(&ids, id);
    VELLUM_RETURN_IF_ERROR(sink->append(ids));
    const std::vector<uint8_t>& codes = x.list_codes[c];
    VELLUM_RETURN_IF_ERROR(
        sink->append(std::string_view(reinterpret_cast<const char*>(codes.data()), codes.size())));
  }
  return Status();
}

}  // namespace

uint64_t vlvi_data_offset(uint64_t dim, uint64_t nlist, uint8_t nbits, bool rotated) {
  const uint64_t ksub = uint64_t{1} << nbits;
  uint64_t offset = vlvi::kHeaderSize;
  if (rotated) offset += vlvi::kFloatSize * dim * dim;
  offset += vlvi::kFloatSize * nlist * dim;
  offset += vlvi::kFloatSize * ksub * dim;
  offset += vlvi::kDirectoryEntrySize * nlist;
  return offset;
}

Status write_vlvi_file(const IvfPqIndex& index, const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  if (!parent.empty()) {
    VELLUM_RETURN_IF_ERROR(create_dirs(parent));
  }
  VELLUM_ASSIGN_OR_RETURN(FileSink file, FileSink::create(path));
  VELLUM_RETURN_IF_ERROR(write_vlvi(index, &file));
  return file.close();
}

Status write_vlvi(const IvfPqIndex& index, Sink* sink) {
  VELLUM_RETURN_IF_ERROR(check_index(index));
  const std::string dir = directory(index);
  VELLUM_RETURN_IF_ERROR(sink->append(header(index)));
  if (index.opq) {
    VELLUM_RETURN_IF_ERROR(append_floats(*index.opq, sink));
  }
  VELLUM_RETURN_IF_ERROR(append_floats(index.centroids, sink));
  VELLUM_RETURN_IF_ERROR(append_floats(index.codebooks, sink));
  VELLUM_RETURN_IF_ERROR(sink->append(dir));
  return append_lists(index, sink);
}

}  // namespace vellum
