#include "read/vls_reader.h"

#include <algorithm>

#include "analysis/ngram_keys.h"
#include "common/byte_reader.h"
#include "common/coding.h"
#include "index/vls_format.h"
#include "read/id_sets.h"
#include "read/roaring_check.h"

namespace vellum {

namespace {

constexpr const char* kHeader = "header";
constexpr const char* kSparse = "sparse index";
constexpr const char* kDict = "dictionary";
constexpr const char* kPostings = "postings";

}  // namespace

Checked<VlsReader> VlsReader::open(std::string file, std::string_view bytes) {
  VlsReader v(std::move(file), bytes);
  const ProblemSite& site = v.site_;
  VlsHeader& h = v.h_;
  ByteReader r(bytes);
  std::string_view magic;
  if (!r.bytes(kVlsMagic.size(), &magic) || !r.u16(&h.version) || !r.u16(&h.gram_size) ||
      !r.u32(&h.key_count) || !r.u32(&h.stride)) {
    return site.at(kHeader, 0, "file is shorter than the header");
  }
  if (magic != kVlsMagic) return site.at(kHeader, 0, "bad magic, expected VLSI");
  if (h.version != kVlsFoldedVersion && h.version != kVlsCaseSensitiveVersion) {
    return site.at(kHeader, 4, "unsupported version " + std::to_string(h.version));
  }
  if (h.gram_size == 0) return site.at(kHeader, 6, "gram size is 0");
  if (h.stride == 0) return site.at(kHeader, 12, "stride is 0");
  h.case_sensitive = h.version == kVlsCaseSensitiveVersion;
  if (h.case_sensitive) {
    uint16_t flags;
    if (!r.u16(&flags)) return site.at(kHeader, 16, "file is shorter than the header");
    if (flags != kVlsFlagCaseSensitive) return site.at(kHeader, 16, "flags word is not 1");
  }
  h.header_size = r.offset();
  h.block_count = (uint64_t{h.key_count} + h.stride - 1) / h.stride;
  h.sparse_offset = h.header_size;
  h.dict_offset = h.sparse_offset + kVlsSparseEntrySize * h.block_count;
  h.postings_offset = h.dict_offset + kVlsDictEntrySize * h.key_count;
  if (h.dict_offset > bytes.size()) {
    return site.at(kSparse, bytes.size(), "file ends inside the sparse index");
  }
  if (h.postings_offset > bytes.size()) {
    return site.at(kDict, bytes.size(), "file ends inside the dictionary");
  }
  return v;
}

VlsEntry VlsReader::entry(uint32_t i) const {
  const char* p = bytes_.data() + h_.dict_offset + kVlsDictEntrySize * i;
  return VlsEntry{GetU64(p), GetU64(p + 8), GetU32(p + 16)};
}

Check VlsReader::verify_sparse() const {
  for (uint64_t b = 0; b < h_.block_count; ++b) {
    const uint64_t at = h_.sparse_offset + kVlsSparseEntrySize * b;
    if (GetU64(bytes_.data() + at) != entry(static_cast<uint32_t>(b * h_.stride)).key) {
      return site_.at(kSparse, at, "key differs from the first key of its block");
    }
  }
  return Check();
}

Check VlsReader::verify_dictionary() const {
  uint64_t expect = h_.postings_offset;
  for (uint32_t i = 0; i < h_.key_count; ++i) {
    const uint64_t at = h_.dict_offset + kVlsDictEntrySize * i;
    const VlsEntry e = entry(i);
    if (i > 0 && e.key <= entry(i - 1).key) {
      return site_.at(kDict, at, "keys are not strictly ascending");
    }
    if (e.offset != expect) {
      return site_.at(kDict, at + 8, "posting offset does not follow the previous posting");
    }
    if (e.length == 0) return site_.at(kDict, at + 16, "posting is empty");
    if (e.length > bytes_.size() - expect) {
      return site_.at(kDict, at + 16, "posting runs past the end of the file");
    }
    expect += e.length;
  }
  if (expect != bytes_.size()) {
    return site_.at(kPostings, expect, "bytes follow the last posting");
  }
  return Check();
}

Checked<VlsStats> VlsReader::verify() const {
  VELLUM_CHECK(verify_sparse());
  VELLUM_CHECK(verify_dictionary());
  VlsStats s;
  s.posting_bytes = bytes_.size() - h_.postings_offset;
  for (uint32_t i = 0; i < h_.key_count; ++i) {
    const VlsEntry e = entry(i);
    RoaringSummary rs;
    if (auto f = check_roaring(bytes_.substr(e.offset, e.length), RoaringRules{}, &rs)) {
      return roaring_problem(site_, kPostings, e.offset, *f);
    }
    s.total_ids += rs.cardinality;
    if (rs.cardinality == 0) {
      ++s.empty_postings;
      continue;
    }
    ++s.cardinality_log2[63 - __builtin_clzll(rs.cardinality)];
    s.doc_span = std::max<uint64_t>(s.doc_span, uint64_t{rs.max} + 1);
  }
  return s;
}

// The dictionary block a lookup reads: its keys must ascend and start with
// the key the sparse index announced.
Check VlsReader::check_block(uint64_t block) const {
  const uint32_t first = static_cast<uint32_t>(block * h_.stride);
  const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(h_.key_count, first + uint64_t{h_.stride}));
  const uint64_t sparse_at = h_.sparse_offset + kVlsSparseEntrySize * block;
  if (GetU64(bytes_.data() + sparse_at) != entry(first).key) {
    return site_.at(kSparse, sparse_at, "key differs from the first key of its block");
  }
  for (uint32_t i = first + 1; i < end; ++i) {
    if (entry(i).key <= entry(i - 1).key) {
      return site_.at(kDict, h_.dict_offset + kVlsDictEntrySize * i, "keys are not strictly ascending");
    }
  }
  return Check();
}

Checked<std::optional<VlsEntry>> VlsReader::find(uint64_t key) const {
  if (h_.block_count == 0) return std::optional<VlsEntry>();
  // Last block whose first key is not above `key`.
  uint64_t lo = 0, hi = h_.block_count;
  while (hi - lo > 1) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (GetU64(bytes_.data() + h_.sparse_offset + kVlsSparseEntrySize * mid) <= key) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  VELLUM_CHECK(check_block(lo));
  uint32_t first = static_cast<uint32_t>(lo * h_.stride);
  uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(h_.key_count, first + uint64_t{h_.stride}));
  while (first < end) {
    const uint32_t mid = first + (end - first) / 2;
    if (entry(mid).key < key) {
      first = mid + 1;
    } else {
      end = mid;
    }
  }
  if (first == h_.key_count || entry(first).key != key) return std::optional<VlsEntry>();
  const VlsEntry e = entry(first);
  const uint64_t at = h_.dict_offset + kVlsDictEntrySize * first;
  if (e.offset < h_.postings_offset || e.offset > bytes_.size() ||
      e.length > bytes_.size() - e.offset) {
    return site_.at(kDict, at + 8, "posting lies outside the postings region");
  }
  return std::optional<VlsEntry>(e);
}

Checked<std::vector<uint32_t>> VlsReader::posting_ids(const VlsEntry& e) const {
  if (e.offset > bytes_.size() || e.length > bytes_.size() - e.offset) {
    return site_.at(kPostings, e.offset, "posting lies outside the file");
  }
  std::vector<uint32_t> ids;
  RoaringSummary rs;
  if (auto f = decode_roaring(bytes_.substr(e.offset, e.length), RoaringRules{}, &rs, &ids)) {
    return roaring_problem(site_, kPostings, e.offset, *f);
  }
  return ids;
}

Checked<std::optional<std::vector<uint32_t>>> VlsReader::lookup_text(std::string_view query) const {
  using Answer = std::optional<std::vector<uint32_t>>;
  const std::vector<uint64_t> keys = ngram_keys(query, h_.gram_size, !h_.case_sensitive);
  if (keys.empty()) return Answer();
  std::vector<VlsEntry> found;
  for (uint64_t key : keys) {
    VELLUM_CHECKED_ASSIGN(std::optional<VlsEntry> e, find(key));
    if (!e) return Answer(std::vector<uint32_t>());
    found.push_back(*e);
  }
  // Smallest postings first keep the running intersection small.
  std::sort(found.begin(), found.end(),
            [](const VlsEntry& a, const VlsEntry& b) { return a.length < b.length; });
  std::vector<uint32_t> hits;
  for (size_t i = 0; i < found.size(); ++i) {
    VELLUM_CHECKED_ASSIGN(std::vector<uint32_t> ids, posting_ids(found[i]));
    hits = i == 0 ? std::move(ids) : intersect_sorted(hits, ids);
    if (hits.empty()) break;
  }
  return Answer(std::move(hits));
}

}  // namespace vellum
