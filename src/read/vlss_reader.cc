#include "read/vlss_reader.h"

#include <algorithm>
#include <tuple>

#include "common/byte_reader.h"
#include "common/coding.h"
#include "read/utf8_check.h"

namespace vellum {

namespace {

constexpr const char* kHeader = "header";
constexpr const char* kRecords = "split records";
constexpr const char* kStrings = "string blob";
constexpr const char* kSummaries = "summary blob";
constexpr std::string_view kMagic = "VLSS";
constexpr uint16_t kVersion = 1;
constexpr uint64_t kHeaderSize = 64;
constexpr uint64_t kRecordSize = 56;
constexpr uint64_t kReservedAt = 51;
constexpr uint16_t kKnownFlags = kManifestFlagBloom | kManifestFlagFacets |
                                 kManifestFlagTombstones | kManifestFlagCaseSensitive;
constexpr uint16_t kKnownSplitFlags = kSplitFlagTombstones | kSplitFlagAbsoluteIds;

// A name a reader can join to the manifest's directory without leaving it.
bool is_plain_file_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

Checked<VlssReader> VlssReader::open(std::string file, std::string_view bytes) {
  VlssReader v(std::move(file), bytes);
  VELLUM_CHECK(v.read_header());
  VELLUM_CHECK(v.read_records());
  return v;
}

Check VlssReader::read_header() {
  if (bytes_.size() < kHeaderSize) return site_.at(kHeader, 0, "file is shorter than the 64-byte header");
  const char* p = bytes_.data();
  if (bytes_.substr(0, 4) != kMagic) return site_.at(kHeader, 0, "bad magic, expected VLSS");
  h_.version = GetU16(p + 4);
  if (h_.version != kVersion) return site_.at(kHeader, 4, "unsupported version " + std::to_string(h_.version));
  h_.flags = GetU16(p + 6);
  h_.policy = static_cast<uint8_t>(p[8]);
  h_.body_kind = static_cast<uint8_t>(p[9]);
  h_.tier_count = GetU16(p + 10);
  h_.split_count = GetU32(p + 12);
  h_.base_count = GetU32(p + 16);
  h_.strings_len = GetU32(p + 20);
  h_.summary_blob_len = GetU64(p + 24);
  h_.byte_cap = GetU64(p + 32);
  h_.sortcol_name_off = GetU32(p + 40);
  h_.sortcol_name_len = GetU16(p + 44);
  h_.sortcol_num = GetU16(p + 46);
  h_.sortcol_flag = static_cast<uint8_t>(p[48]);
  h_.gram_size = GetU16(p + 49);
  h_.case_sensitive = (h_.flags & kManifestFlagCaseSensitive) != 0;
  if (h_.base_count > h_.split_count) return site_.at(kHeader, 16, "base count exceeds split count");
  const uint64_t fixed = kHeaderSize + kRecordSize * h_.split_count + h_.strings_len;
  if (h_.summary_blob_len > UINT64_MAX - fixed) return site_.at(kHeader, 24, "body size overflows");
  if (fixed + h_.summary_blob_len > bytes_.size()) {
    return site_.at(kRecords, bytes_.size(), "file ends before the end of the summary blob");
  }
  if (h_.policy > 1) return site_.at(kHeader, 8, "unknown policy code");
  if (h_.body_kind > 1) return site_.at(kHeader, 9, "unknown body-kind code");
  if ((h_.flags & ~kKnownFlags) != 0) return site_.at(kHeader, 6, "unknown flag bits are set");
  for (uint64_t i = kReservedAt; i < kHeaderSize; ++i) {
    if (p[i] != 0) return site_.at(kHeader, i, "reserved byte is not 0");
  }
  strings_at_ = kHeaderSize + kRecordSize * h_.split_count;
  summaries_at_ = fixed;
  const std::string_view strings = bytes_.substr(strings_at_, h_.strings_len);
  if (h_.sortcol_name_len != 0) {
    if (uint64_t{h_.sortcol_name_off} + h_.sortcol_name_len > h_.strings_len) {
      return site_.at(kHeader, 40, "sort-column name lies outside the string blob");
    }
    sortcol_ = strings.substr(h_.sortcol_name_off, h_.sortcol_name_len);
    if (!is_valid_utf8(sortcol_)) return site_.at(kStrings, strings_at_ + h_.sortcol_name_off, "sort-column name is not UTF-8");
    if (h_.sortcol_flag > 1) return site_.at(kHeader, 48, "sort-column flag is neither 0 nor 1");
  } else if (h_.sortcol_name_off != 0 || h_.sortcol_num != 0 || h_.sortcol_flag != 0) {
    return site_.at(kHeader, 40, "sort-column fields are set without a sort column");
  }
  return Check();
}

Check VlssReader::read_records() {
  const std::string_view strings = bytes_.substr(strings_at_, h_.strings_len);
  const std::string_view summaries = bytes_.substr(summaries_at_, h_.summary_blob_len);
  splits_.reserve(h_.split_count);
  for (uint32_t i = 0; i < h_.split_count; ++i) {
    const uint64_t at = kHeaderSize + kRecordSize * i;
    const char* p = bytes_.data() + at;
    SplitRecord s;
    const uint32_t name_off = GetU32(p);
    const uint16_t name_len = GetU16(p + 4);
    s.tier = GetU16(p + 6);
    s.doc_count = GetU32(p + 8);
    s.first_id = GetU32(p + 12);
    s.last_id = GetU32(p + 16);
    s.split_flags = GetU16(p + 20);
    s.size_bytes = GetU64(p + 24);
    s.epoch = GetU64(p + 32);
    s.summary_off = GetU64(p + 40);
    s.summary_len = GetU32(p + 48);
    s.record_offset = at;
    if (uint64_t{name_off} + name_len > h_.strings_len) {
      return site_.at(kRecords, at, "split name lies outside the string blob");
    }
    s.name = strings.substr(name_off, name_len);
    if (!is_valid_utf8(s.name)) return site_.at(kStrings, strings_at_ + name_off, "split name is not UTF-8");
    if (!is_plain_file_name(s.name)) {
      return site_.at(kStrings, strings_at_ + name_off, "split name is not a plain file name");
    }
    if ((s.split_flags & ~kKnownSplitFlags) != 0) return site_.at(kRecords, at + 20, "unknown split flag bits are set");
    if (GetU16(p + 22) != 0) return site_.at(kRecords, at + 22, "reserved field is not 0");
    if (GetU32(p + 52) != 0) return site_.at(kRecords, at + 52, "reserved field is not 0");
    if (s.summary_len != 0) {
      if (s.summary_off > h_.summary_blob_len || s.summary_len > h_.summary_blob_len - s.summary_off) {
        return site_.at(kRecords, at + 40, "summary lies outside the summary blob");
      }
      s.summary = summaries.substr(s.summary_off, s.summary_len);
    } else if (s.summary_off != 0) {
      return site_.at(kRecords, at + 40, "empty summary has a non-zero offset");
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
    if (h_.body_kind == kBodyTerms && (sums[i].bloom || sums[i].tombstones)) {
      return site_.at(kSummaries, summary_at(i), "term split summary holds a Bloom filter or tombstones");
    }
  }
  if (any_tombstones != ((h_.flags & kManifestFlagTombstones) != 0)) {
    return site_.at(kHeader, 6, "tombstone flag disagrees with the split records");
  }
  if (h_.body_kind == kBodyNgram && h_.gram_size == 0) return site_.at(kHeader, 49, "n-gram split set has gram size 0");
  if (h_.body_kind == kBodyTerms && h_.gram_size != 0) return site_.at(kHeader, 49, "term split set has a gram size");
  if (h_.body_kind == kBodyTerms && (h_.flags & (kManifestFlagBloom | kManifestFlagTombstones)) != 0) {
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
