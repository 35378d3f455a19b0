// The TLV container of split summaries: entries of (kind, 32-bit length,
// payload) back to back. Lookup reads untrusted bytes and never runs past
// them; trailing bytes too short for an entry header are not an error.
#ifndef VELLUM_SPLITSET_SUMMARY_TLV_H_
#define VELLUM_SPLITSET_SUMMARY_TLV_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "splitset/format_error.h"

namespace vellum {

// Kind byte, 32-bit length, payload. Payloads are below 2^32 bytes (every
// producer's payload is bounded far below that).
std::string make_tlv(uint8_t kind, std::string_view payload);
void append_tlv(std::string* summary, uint8_t kind, std::string_view payload);

// The payload of the first entry of `kind`, a view into `summary`; nullopt
// when no entry has that kind. An entry running past the end is
// "VLSS summary TLV out of range", even when it is not of `kind`.
FormatResult<std::optional<std::string_view>> find_tlv(std::string_view summary, uint8_t kind);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_SUMMARY_TLV_H_
