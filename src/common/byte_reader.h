// A bounds-checked cursor over untrusted bytes.
//
// Parsers of stored files (manifests, split bodies, summaries) read through
// a ByteReader: every read checks the remaining length first and, when the
// field does not fit, returns false and leaves the cursor where it was, so
// a parser can never run off the end of its input. The caller turns a false
// into the error value its format defines.
#ifndef VELLUM_COMMON_BYTE_READER_H_
#define VELLUM_COMMON_BYTE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/coding.h"

namespace vellum {

// Longest varint encodings: 7 payload bits per byte.
constexpr size_t kMaxVarint32Bytes = 5;
constexpr size_t kMaxVarint64Bytes = 10;

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

  size_t offset() const { return pos_; }
  size_t remaining() const { return bytes_.size() - pos_; }
  bool empty() const { return pos_ == bytes_.size(); }

  bool u8(uint8_t* v) {
    if (remaining() < 1) return false;
    *v = static_cast<uint8_t>(bytes_[pos_++]);
    return true;
  }
  bool u16(uint16_t* v) { return fixed(2, v, GetU16); }
  bool u32(uint32_t* v) { return fixed(4, v, GetU32); }
  bool u64(uint64_t* v) { return fixed(8, v, GetU64); }

  // The next n bytes, as a view into the input.
  bool bytes(size_t n, std::string_view* v) {
    if (remaining() < n) return false;
    *v = bytes_.substr(pos_, n);
    pos_ += n;
    return true;
  }

  bool skip(size_t n) {
    if (remaining() < n) return false;
    pos_ += n;
    return true;
  }

  // Unsigned LEB128. Refuses encodings longer than the type allows and
  // final bytes whose payload overflows it.
  bool varint32(uint32_t* v) {
    uint64_t wide;
    if (!varint(kMaxVarint32Bytes, 32, &wide)) return false;
    *v = static_cast<uint32_t>(wide);
    return true;
  }
  bool varint64(uint64_t* v) { return varint(kMaxVarint64Bytes, 64, v); }

 private:
  template <typename T>
  bool fixed(size_t n, T* v, T (*get)(const char*)) {
    if (remaining() < n) return false;
    *v = get(bytes_.data() + pos_);
    pos_ += n;
    return true;
  }

  bool varint(size_t max_bytes, int bits, uint64_t* v) {
    uint64_t result = 0;
    for (size_t i = 0; i < max_bytes && pos_ + i < bytes_.size(); ++i) {
      const uint64_t byte = static_cast<uint8_t>(bytes_[pos_ + i]);
      const int shift = static_cast<int>(7 * i);
      // The last permitted byte may only carry the bits that remain.
      if (shift + 7 > bits && (byte & 0x7F) >> (bits - shift) != 0) return false;
      result |= (byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) {
        pos_ += i + 1;
        *v = result;
        return true;
      }
    }
    return false;
  }

  std::string_view bytes_;
  size_t pos_ = 0;
};

}  // namespace vellum

#endif  // VELLUM_COMMON_BYTE_READER_H_
