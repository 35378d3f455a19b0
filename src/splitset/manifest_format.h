// Byte layout of the VLSS split-set manifest.
//
//   manifest := header split_record[split_count] strings summaries
//   header   (64 bytes)  magic "VLSS", version, flags, policy, body_kind,
//                        tier_count, split_count, base_count, strings_len,
//                        summary_blob_len, byte_cap, sort column (name
//                        offset and length, number, flag), gram_size at
//                        offset 49 (unaligned), 13 reserved zero bytes
//   split_record (56 bytes)  name_off, name_len, tier, doc_count, first_id,
//                        last_id, split_flags, 2 reserved, size_bytes,
//                        epoch, summary_off, summary_len, 4 reserved
//   strings  every split name in record order, then the sort-column name
//   summaries every non-empty split summary in record order
//
// All integers little-endian, no gaps; bytes after the summaries are ignored.
#ifndef VELLUM_SPLITSET_MANIFEST_FORMAT_H_
#define VELLUM_SPLITSET_MANIFEST_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vellum {

inline constexpr std::string_view kManifestMagic = "VLSS";
inline constexpr uint16_t kManifestVersion = 1;
inline constexpr size_t kManifestHeaderBytes = 64;
inline constexpr size_t kSplitRecordBytes = 56;

// Header field offsets.
inline constexpr size_t kHdrMagic = 0;
inline constexpr size_t kHdrVersion = 4;
inline constexpr size_t kHdrFlags = 6;
inline constexpr size_t kHdrPolicy = 8;
inline constexpr size_t kHdrBodyKind = 9;
inline constexpr size_t kHdrTierCount = 10;
inline constexpr size_t kHdrSplitCount = 12;
inline constexpr size_t kHdrBaseCount = 16;
inline constexpr size_t kHdrStringsLen = 20;
inline constexpr size_t kHdrSummaryBlobLen = 24;
inline constexpr size_t kHdrByteCap = 32;
inline constexpr size_t kHdrSortcolNameOff = 40;
inline constexpr size_t kHdrSortcolNameLen = 44;
inline constexpr size_t kHdrSortcolNum = 46;
inline constexpr size_t kHdrSortcolFlag = 48;
inline constexpr size_t kHdrGramSize = 49;
inline constexpr size_t kHdrReserved = 51;
inline constexpr size_t kHdrReservedBytes = kManifestHeaderBytes - kHdrReserved;

// Split record field offsets.
inline constexpr size_t kRecNameOff = 0;
inline constexpr size_t kRecNameLen = 4;
inline constexpr size_t kRecTier = 6;
inline constexpr size_t kRecDocCount = 8;
inline constexpr size_t kRecFirstId = 12;
inline constexpr size_t kRecLastId = 16;
inline constexpr size_t kRecSplitFlags = 20;
inline constexpr size_t kRecReserved1 = 22;
inline constexpr size_t kRecSizeBytes = 24;
inline constexpr size_t kRecEpoch = 32;
inline constexpr size_t kRecSummaryOff = 40;
inline constexpr size_t kRecSummaryLen = 48;
inline constexpr size_t kRecReserved2 = 52;

// Header flags.
inline constexpr uint16_t kManifestFlagBloom = 0x01;
inline constexpr uint16_t kManifestFlagFacets = 0x02;
inline constexpr uint16_t kManifestFlagTombstones = 0x08;
inline constexpr uint16_t kManifestFlagCaseSensitive = 0x10;

// Split flags.
inline constexpr uint16_t kSplitFlagTombstones = 0x1;
inline constexpr uint16_t kSplitFlagAbsoluteIds = 0x2;

// Policy and body-kind codes.
inline constexpr uint8_t kPolicyTiered = 0;
inline constexpr uint8_t kPolicyStableKey = 1;
inline constexpr uint8_t kBodyKindNgram = 0;
inline constexpr uint8_t kBodyKindTerm = 1;

inline constexpr uint64_t kMaxNameBytes = 0xFFFF;
inline constexpr uint64_t kMaxBlobBytes = 0xFFFFFFFF;

}  // namespace vellum

#endif  // VELLUM_SPLITSET_MANIFEST_FORMAT_H_
