#include "read/vlss_reader.h"

#include <algorithm>
#include <tuple>

#include "analysis/utf8.h"
#include "common/coding.h"

namespace vellum {

namespace {

constexpr const char* kHeader = "header";
constexpr const char* kRecords = "split records";
constexpr const char* kStrings = "string blob";
constexpr const char* kSummaries = "summary blob";
constexpr uint16_t kKnownFlags = kManifestFlagBloom | kManifestFlagFacets |
                                 kManifestFlagTombstones | kManifestFlagCaseSensitive;
constexpr uint16_t kKnownSplitFlags = kSplitFlagTombstones | kSplitFlagAbsoluteIds;

// A name a reader can join to the manifest's directory without leaving it.
bool is_plain_file_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool name_fits(std::string_view bytes, uint64_t strings_at, uint32_t strings_len, uint64_t at) {
  const uint64_t off = GetU32(bytes.data() + at), len = GetU16(bytes.data() + at + 4);
  return off + len <= strings_len && utf8::is_valid(bytes.substr(strings_at + off, len));
}

}  // namespace

Checked<VlssReader> VlssReader::open(std::string file, std::string_view bytes) {
  VlssReader v(std::move(file), bytes);
  FormatResult<ParsedManifest> parsed = parse_manifest(bytes);
  if (!parsed.ok()) return v.locate(parsed.error());
  v.parsed_ = std::make_unique<ParsedManifest>(std::move(parsed).value());
  VELLUM_CHECK(v.read_header());
  VELLUM_CHECK(v.read_records());
  return v;
}

// Where the parser's complaint lies: its checks run in header order, then
// over the sort-column name and the records.
Problem VlssReader::locate(const FormatError& e) const {
  const std::string& text = e.text();
  auto has = [&](const char* m) { return text.find(m) != std::string::npos; };
  if (has("short VLSS header") || e.kind() == FormatErrorKind::kBadMagic) return site_.at(kHeader, 0, text);
  if (e.kind() == FormatErrorKind::kUnsupportedVersion) return site_.at(kHeader, kHdrVersion, text);
  if (has("base count")) return site_.at(kHeader, kHdrBaseCount, text);
  if (has("body size overflow")) return site_.at(kHeader, kHdrSummaryBlobLen, text);
  if (has("short VLSS body")) return site_.at(kRecords, bytes_.size(), text);
  if (has("policy")) return site_.at(kHeader, kHdrPolicy, text);
  if (has("body-kind")) return site_.at(kHeader, kHdrBodyKind, text);
  const uint32_t count = GetU32(bytes_.data() + kHdrSplitCount);
  const uint32_t strings_len = GetU32(bytes_.data() + kHdrStringsLen);
  const uint64_t strings_at = kManifestHeaderBytes + kSplitRecordBytes * uint64_t{count};
  const uint64_t blob_len = GetU64(bytes_.data() + kHdrSummaryBlobLen);
  if (GetU16(bytes_.data() + kHdrSortcolNameLen) != 0 &&
      !name_fits(bytes_, strings_at, strings_len, kHdrSortcolNameOff)) {
    return site_.at(kHeader, kHdrSortcolNameOff, text);
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = kManifestHeaderBytes + kSplitRecordBytes * uint64_t{i};
    if (!name_fits(bytes_, strings_at, strings_len, at)) return site_.at(kRecords, at + kRecNameOff, text);
    const uint64_t off = GetU64(bytes_.data() + at + kRecSummaryOff);
    const uint32_t len = GetU32(bytes_.data() + at + kRecSummaryLen);
    if (len != 0 && (off > blob_len || len > blob_len - off)) return site_.at(kRecords, at + kRecSummaryOff, text);
  }
  return site_.at(kHeader, 0, text);
}

Check VlssReader::read_header() {
  const ParsedManifest& m = *parsed_;
  static_cast<ManifestFields&>(h_) = m;
  // The parser reduces the sort-column flag to a bit; the stored fields
  // are read as written.
  const char* p = bytes_.data();
  h_.sortcol_name_off = GetU32(p + kHdrSortcolNameOff);
  h_.sortcol_name_len = GetU16(p + kHdrSortcolNameLen);
  h_.sortcol_num = GetU16(p + kHdrSortcolNum);
  h_.sortcol_flag = static_cast<uint8_t>(p[kHdrSortcolFlag]);
  strings_at_ = kManifestHeaderBytes + kSplitRecordBytes * uint64_t{h_.split_count};
  summaries_at_ = strings_at_ + h_.strings_len;
  if ((h_.flags & ~kKnownFlags) != 0) return site_.at(kHeader, kHdrFlags, "unknown flag bits are set");
  for (uint64_t i = kHdrReserved; i < kManifestHeaderBytes; ++i) {
    if (p[i] != 0) return site_.at(kHeader, i, "reserved byte is not 0");
  }
  if (m.sortcol) {
    sortcol_ = m.sortcol->name;
    if (h_.sortcol_flag > 1) return site_.at(kHeader, kHdrSortcolFlag, "sort-column flag is neither 0 nor 1");
  } else if (h_.sortcol_name_off != 0 || h_.sortcol_num != 0 || h_.sortcol_flag != 0) {
    return site_.at(kHeader, kHdrSortcolNameOff, "sort-column fields are set without a sort column");
  }
  return Check();
}

Check VlssReader::read_records() {
  splits_.reserve(h_.split_count);
  for (uint32_t i = 0; i < h_.split_count; ++i) {
    const ParsedSplit& ps = parsed_->splits[i];
    const uint64_t at = kManifestHeaderBytes + kSplitRecordBytes * uint64_t{i};
    const char* p = bytes_.data() + at;
    SplitRecord s;
    s.name = ps.name;
    s.tier = ps.tier;
    s.doc_count = ps.doc_count;
    s.first_id = ps.first_id;
    s.last_id = ps.last_id;
    s.split_flags = ps.split_flags;
    s.size_bytes = ps.size_bytes;
    s.epoch = ps.epoch;
    s.summary_off = ps.summary_off;
    s.summary_len = ps.summary_len;
    s.summary = parsed_->summary(i);
    s.record_offset = at;
    if (!is_plain_file_name(s.name)) {
      return site_.at(kStrings, strings_at_ + GetU32(p + kRecNameOff), "split name is not a plain file name");
    }
    if ((s.split_flags & ~kKnownSplitFlags) != 0) {
      return site_.at(kRecords, at + kRecSplitFlags, "unknown split flag bits are set");
    }
    if (GetU16(p + kRecReserved1) != 0) return site_.at(kRecords, at + kRecReserved1, "reserved field is not 0");
    if (GetU32(p + kRecReserved2) != 0) return site_.at(kRecords, at + kRecReserved2, "reserved field is not 0");
    if (s.summary_len == 0 && s.summary_off != 0) {
      return site_.at(kRecords, at + kRecSummaryOff, "empty summary has a non-zero offset");
    }
    splits_.push_back(s);
  }
  return Check();
}

// Names go into the string blob in record order, then the sort-column
// name; summaries into the summary blob in record order.
Check VlssReader::check_blobs() const {
  uint64_t names = 0, sums = 0;
  for (const SplitRecord& s : splits_) {
    if (GetU32(bytes_.data() + s.record_offset) != names) {
      return site_.at(kRecords, s.record_offset, "split name is not where the string blob continues");
    }
    names += s.name.size();
    if (s.summary_len == 0) continue;
    if (s.summary_off != sums) {
      return site_.at(kRecords, s.record_offset + 40, "summary is not where the summary blob continues");
    }
    sums += s.summary_len;
  }
  if (h_.sortcol_name_len != 0) {
    if (h_.sortcol_name_off != names) return site_.at(kHeader, 40, "sort-column name does not follow the split names");
    names += h_.sortcol_name_len;
  }
  if (names != h_.strings_len) return site_.at(kStrings, strings_at_ + names, "string blob holds bytes no name uses");
  if (sums != h_.summary_blob_len) {
    return site_.at(kSummaries, summaries_at_ + sums, "summary blob holds bytes no summary uses");
  }
  return Check();
}

Check VlssReader::check_flags(const std::vector<SplitSummary>& sums) const {
  bool any_tombstones = false;
  for (size_t i = 0; i < splits_.size(); ++i) {
    const SplitRecord& s = splits_[i];
    const bool flagged = (s.split_flags & kSplitFlagTombstones) != 0;
    if (flagged != sums[i].tombstones.has_value()) {
      return site_.at(kRecords, s.record_offset + 20, "tombstone flag disagrees with the summary");
    }
    any_tombstones |= flagged;
    if (h_.body_kind == kBodyKindTerm && (sums[i].bloom || sums[i].tombstones)) {
      return site_.at(kSummaries, summary_at(i), "term split summary holds a Bloom filter or tombstones");
    }
  }
  if (any_tombstones != ((h_.flags & kManifestFlagTombstones) != 0)) {
    return site_.at(kHeader, 6, "tombstone flag disagrees with the split records");
  }
  if (h_.body_kind == kBodyKindNgram && h_.gram_size == 0) return site_.at(kHeader, 49, "n-gram split set has gram size 0");
  if (h_.body_kind == kBodyKindTerm && h_.gram_size != 0) return site_.at(kHeader, 49, "term split set has a gram size");
  if (h_.body_kind == kBodyKindTerm && (h_.flags & (kManifestFlagBloom | kManifestFlagTombstones)) != 0) {
    return site_.at(kHeader, 6, "term split set flags Bloom filters or tombstones");
  }
  return Check();
}

Checked<std::vector<SplitSummary>> VlssReader::verify() const {
  VELLUM_CHECK(check_blobs());
  std::vector<SplitSummary> sums;
  sums.reserve(splits_.size());
  for (size_t i = 0; i < splits_.size(); ++i) {
    VELLUM_CHECKED_ASSIGN(SplitSummary s, read_split_summary(site_, summary_at(i), splits_[i].summary));
    sums.push_back(std::move(s));
  }
  VELLUM_CHECK(check_flags(sums));
  VELLUM_CHECK(check_ranges(sums));
  return sums;
}

}  // namespace vellum
