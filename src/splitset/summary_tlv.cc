#include "splitset/summary_tlv.h"

#include "common/byte_reader.h"
#include "common/coding.h"
#include "splitset/summary_format.h"

namespace vellum {

void append_tlv(std::string* summary, uint8_t kind, std::string_view payload) {
  PutU8(summary, kind);
  PutU32(summary, static_cast<uint32_t>(payload.size()));
  summary->append(payload);
}

std::string make_tlv(uint8_t kind, std::string_view payload) {
  std::string out;
  out.reserve(kTlvHeaderBytes + payload.size());
  append_tlv(&out, kind, payload);
  return out;
}

FormatResult<std::optional<std::string_view>> find_tlv(std::string_view summary, uint8_t kind) {
  ByteReader in(summary);
  while (in.remaining() >= kTlvHeaderBytes) {
    uint8_t k = 0;
    uint32_t length = 0;
    in.u8(&k);
    in.u32(&length);
    std::string_view payload;
    if (!in.bytes(length, &payload)) return FormatError::malformed("VLSS summary TLV out of range");
    if (k == kind) return std::optional<std::string_view>(payload);
  }
  return std::optional<std::string_view>();
}

}  // namespace vellum
