// Drives ByteReader with a program read from the input itself: each byte
// picks the next read, the rest is the data. No read may pass the end, and
// the offset only moves by what a successful read consumed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/byte_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t ops = data[0] % 32;
  if (size < 1 + ops) return 0;
  std::string_view body(reinterpret_cast<const char*>(data + 1 + ops), size - 1 - ops);
  vellum::ByteReader r(body);
  for (size_t i = 0; i < ops; ++i) {
    const size_t before = r.offset();
    bool ok = false;
    uint8_t a;
    uint16_t b;
    uint32_t c;
    uint64_t d;
    std::string_view v;
    switch (data[1 + i] % 8) {
      case 0: ok = r.u8(&a); break;
      case 1: ok = r.u16(&b); break;
      case 2: ok = r.u32(&c); break;
      case 3: ok = r.u64(&d); break;
      case 4: ok = r.varint32(&c); break;
      case 5: ok = r.varint64(&d); break;
      case 6: ok = r.bytes(data[1 + i] >> 3, &v) && v.size() == size_t{data[1 + i]} >> 3; break;
      default: ok = r.skip(data[1 + i] >> 3); break;
    }
    if (!ok && r.offset() != before) std::abort();
    if (r.offset() > body.size()) std::abort();
  }
  return 0;
}
