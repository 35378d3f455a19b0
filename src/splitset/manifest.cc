#include "splitset/manifest.h"

#include "analysis/utf8.h"
#include "common/byte_reader.h"
#include "common/coding.h"
#include "splitset/manifest_format.h"

namespace vellum {

namespace {

// Where each name and summary lands in the blobs, computed before output.
struct Layout {
  std::vector<uint32_t> name_offsets;
  std::vector<uint64_t> summary_offsets;
  uint32_t sortcol_off = 0;
  uint16_t sortcol_len = 0;
  uint64_t strings_len = 0;
  uint64_t summaries_len = 0;
};

Status blob_error() { return Error(ErrorKind::kIo, "VLSS string blob exceeds the 32-bit limit"); }

// Checks a name against the limits and reserves its place in the string blob.
Status place_name(std::string_view name, Layout* layout, uint32_t* offset) {
  if (layout->strings_len > kMaxBlobBytes) return blob_error();
  if (name.size() > kMaxNameBytes) {
    return Error(ErrorKind::kIo, "VLSS name exceeds the 16-bit length limit");
  }
  *offset = static_cast<uint32_t>(layout->strings_len);
  layout->strings_len += name.size();
  return Status();
}

Result<Layout> plan(const std::vector<SplitMeta>& splits, const ManifestParams& params) {
  if (splits.size() > kMaxBlobBytes) {
    return Error(ErrorKind::kIo, "VLSS split count exceeds the 32-bit limit");
  }
  if (params.base_count > splits.size()) {
    return Error(ErrorKind::kIo, "VLSS base_count " + std::to_string(params.base_count) +
                                     " exceeds split count " + std::to_string(splits.size()));
  }
  Layout layout;
  layout.name_offsets.resize(splits.size());
  for (size_t i = 0; i < splits.size(); ++i) {
    VELLUM_RETURN_IF_ERROR(place_name(splits[i].name, &layout, &layout.name_offsets[i]));
  }
  if (params.sortcol) {
    VELLUM_RETURN_IF_ERROR(place_name(params.sortcol->name, &layout, &layout.sortcol_off));
    layout.sortcol_len = static_cast<uint16_t>(params.sortcol->name.size());
  }
  layout.summary_offsets.resize(splits.size());
  for (size_t i = 0; i < splits.size(); ++i) {
    const std::string& summary = splits[i].summary;
    if (summary.empty()) continue;  // offset 0, length 0
    if (summary.size() > kMaxBlobBytes) {
      return Error(ErrorKind::kIo, "VLSS split summary exceeds the 32-bit limit");
    }
    layout.summary_offsets[i] = layout.summaries_len;
    layout.summaries_len += summary.size();
  }
  if (layout.strings_len > kMaxBlobBytes) return blob_error();
  return layout;
}

std::string encode_header(const std::vector<SplitMeta>& splits, const ManifestParams& params,
                          const Layout& layout) {
  std::string h(kManifestHeaderBytes, '\0');
  char* p = h.data();
  kManifestMagic.copy(p + kHdrMagic, kManifestMagic.size());
  EncodeU16(p + kHdrVersion, kManifestVersion);
  EncodeU16(p + kHdrFlags, params.flags);
  p[kHdrPolicy] = static_cast<char>(params.policy);
  p[kHdrBodyKind] = static_cast<char>(params.body_kind);
  EncodeU16(p + kHdrTierCount, params.tier_count);
  EncodeU32(p + kHdrSplitCount, static_cast<uint32_t>(splits.size()));
  EncodeU32(p + kHdrBaseCount, params.base_count);
  EncodeU32(p + kHdrStringsLen, static_cast<uint32_t>(layout.strings_len));
  EncodeU64(p + kHdrSummaryBlobLen, layout.summaries_len);
  EncodeU64(p + kHdrByteCap, params.byte_cap);
  if (params.sortcol) {
    EncodeU32(p + kHdrSortcolNameOff, layout.sortcol_off);
    EncodeU16(p + kHdrSortcolNameLen, layout.sortcol_len);
    EncodeU16(p + kHdrSortcolNum, params.sortcol->num);
    p[kHdrSortcolFlag] = params.sortcol->flag ? 1 : 0;
  }
  EncodeU16(p + kHdrGramSize, params.gram_size);
  return h;
}

void encode_record(const SplitMeta& s, uint32_t name_off, uint64_t summary_off, std::string* out) {
  char r[kSplitRecordBytes] = {};
  EncodeU32(r + kRecNameOff, name_off);
  EncodeU16(r + kRecNameLen, static_cast<uint16_t>(s.name.size()));
  EncodeU16(r + kRecTier, s.tier);
  EncodeU32(r + kRecDocCount, s.doc_count);
  EncodeU32(r + kRecFirstId, s.first_id);
  EncodeU32(r + kRecLastId, s.last_id);
  EncodeU16(r + kRecSplitFlags, s.split_flags);
  EncodeU64(r + kRecSizeBytes, s.size_bytes);
  EncodeU64(r + kRecEpoch, s.epoch);
  EncodeU64(r + kRecSummaryOff, summary_off);
  EncodeU32(r + kRecSummaryLen, static_cast<uint32_t>(s.summary.size()));
  out->append(r, kSplitRecordBytes);
}

}  // namespace

Status write_manifest(const std::vector<SplitMeta>& splits, const ManifestParams& params,
                      Sink* out) {
  VELLUM_ASSIGN_OR_RETURN(const Layout layout, plan(splits, params));
  std::string head = encode_header(splits, params, layout);
  head.reserve(kManifestHeaderBytes + kSplitRecordBytes * splits.size());
  for (size_t i = 0; i < splits.size(); ++i) {
    encode_record(splits[i], layout.name_offsets[i], layout.summary_offsets[i], &head);
  }
  VELLUM_RETURN_IF_ERROR(out->append(head));
  for (const SplitMeta& s : splits) VELLUM_RETURN_IF_ERROR(out->append(s.name));
  if (params.sortcol) VELLUM_RETURN_IF_ERROR(out->append(params.sortcol->name));
  for (const SplitMeta& s : splits) VELLUM_RETURN_IF_ERROR(out->append(s.summary));
  return Status();
}

Result<std::string> write_manifest(const std::vector<SplitMeta>& splits,
                                   const ManifestParams& params) {
  std::string bytes;
  StringSink sink(&bytes);
  VELLUM_RETURN_IF_ERROR(write_manifest(splits, params, &sink));
  return bytes;
}

// ---- parsing ----

namespace {

FormatResult<std::string> name_in(std::string_view strings, uint32_t off, uint16_t len) {
  if (uint64_t{off} + len > strings.size()) {
    return FormatError::malformed("VLSS name out of string blob");
  }
  std::string_view name = strings.substr(off, len);
  if (!utf8::is_valid(name)) return FormatError::malformed("VLSS non-UTF-8 name");
  return std::string(name);
}

// Header fields after the magic and version; the reader starts at the flags.
void read_header_fields(ByteReader* in, ParsedManifest* m, uint32_t* sortcol_off,
                        uint16_t* sortcol_len, uint16_t* sortcol_num, uint8_t* sortcol_flag) {
  // The caller has checked that the whole header is present.
  in->u16(&m->flags);
  in->u8(&m->policy);
  in->u8(&m->body_kind);
  in->u16(&m->tier_count);
  in->u32(&m->split_count);
  in->u32(&m->base_count);
  in->u32(&m->strings_len);
  in->u64(&m->summary_blob_len);
  in->u64(&m->byte_cap);
  in->u32(sortcol_off);
  in->u16(sortcol_len);
  in->u16(sortcol_num);
  in->u8(sortcol_flag);
  in->u16(&m->gram_size);
  in->skip(kHdrReservedBytes);
  m->case_sensitive = (m->flags & kManifestFlagCaseSensitive) != 0;
}

FormatResult<ParsedSplit> read_record(ByteReader* in, std::string_view strings,
                                      uint64_t summary_blob_len) {
  ParsedSplit s;
  uint32_t name_off = 0;
  uint16_t name_len = 0;
  uint16_t reserved16 = 0;
  uint32_t reserved32 = 0;
  // The caller has checked that every record is present.
  in->u32(&name_off);
  in->u16(&name_len);
  in->u16(&s.tier);
  in->u32(&s.doc_count);
  in->u32(&s.first_id);
  in->u32(&s.last_id);
  in->u16(&s.split_flags);
  in->u16(&reserved16);
  in->u64(&s.size_bytes);
  in->u64(&s.epoch);
  in->u64(&s.summary_off);
  in->u32(&s.summary_len);
  in->u32(&reserved32);
  FormatResult<std::string> name = name_in(strings, name_off, name_len);
  if (!name.ok()) return name.error();
  s.name = std::move(name).value();
  if (s.summary_len != 0) {
    if (s.summary_off > UINT64_MAX - s.summary_len) {
      return FormatError::malformed("VLSS summary range overflow");
    }
    if (s.summary_off + s.summary_len > summary_blob_len) {
      return FormatError::malformed("VLSS summary out of summary blob");
    }
  }
  return s;
}

}  // namespace

FormatResult<ParsedManifest> parse_manifest(std::string_view bytes) {
  if (bytes.size() < kManifestHeaderBytes) return FormatError::malformed("short VLSS header");
  ByteReader in(bytes);
  std::string_view magic;
  in.bytes(kManifestMagic.size(), &magic);
  if (magic != kManifestMagic) return FormatError::bad_magic(magic);
  ParsedManifest m;
  in.u16(&m.version);
  if (m.version != kManifestVersion) return FormatError::unsupported_version(m.version);
  uint32_t sortcol_off = 0;
  uint16_t sortcol_len = 0, sortcol_num = 0;
  uint8_t sortcol_flag = 0;
  read_header_fields(&in, &m, &sortcol_off, &sortcol_len, &sortcol_num, &sortcol_flag);
  if (m.base_count > m.split_count) {
    return FormatError::malformed("VLSS base count exceeds split count");
  }
  const uint64_t records_len = uint64_t{m.split_count} * kSplitRecordBytes;
  const uint64_t fixed_len = records_len + m.strings_len;  // below 2^39: no overflow
  if (m.summary_blob_len > UINT64_MAX - fixed_len) {
    return FormatError::malformed("VLSS body size overflow");
  }
  if (fixed_len + m.summary_blob_len > in.remaining()) {
    return FormatError::malformed("short VLSS body");
  }
  if (m.policy > kPolicyStableKey) return FormatError::malformed("VLSS unknown policy code");
  if (m.body_kind > kBodyKindTerm) return FormatError::malformed("VLSS unknown body-kind code");

  const std::string_view strings = bytes.substr(kManifestHeaderBytes + records_len, m.strings_len);
  m.summary_blob = std::string(bytes.substr(kManifestHeaderBytes + fixed_len, m.summary_blob_len));
  if (sortcol_len != 0) {
    FormatResult<std::string> name = name_in(strings, sortcol_off, sortcol_len);
    if (!name.ok()) return name.error();
    m.sortcol = SortColumn{std::move(name).value(), sortcol_num, (sortcol_flag & 1) != 0};
  }
  m.splits.reserve(m.split_count);
  for (uint32_t i = 0; i < m.split_count; ++i) {
    FormatResult<ParsedSplit> s = read_record(&in, strings, m.summary_blob_len);
    if (!s.ok()) return s.error();
    m.splits.push_back(std::move(s).value());
  }
  return m;
}

std::string_view ParsedManifest::summary(size_t i) const {
  const ParsedSplit& s = splits[i];
  if (s.summary_len == 0) return {};
  return std::string_view(summary_blob).substr(s.summary_off, s.summary_len);
}

std::vector<SplitMeta> ParsedManifest::split_metas() const {
  std::vector<SplitMeta> out;
  out.reserve(splits.size());
  for (size_t i = 0; i < splits.size(); ++i) {
    const ParsedSplit& s = splits[i];
    out.push_back(SplitMeta{s.name, std::string(summary(i)), s.epoch, s.size_bytes, s.doc_count,
                            s.first_id, s.last_id, s.tier, s.split_flags});
  }
  return out;
}

ManifestParams ParsedManifest::params() const {
  return ManifestParams{sortcol, byte_cap, base_count, tier_count, gram_size, flags, policy, body_kind};
}

}  // namespace vellum
