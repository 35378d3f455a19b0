#include "read/vlti_reader.h"

#include <algorithm>

#include "analysis/utf8.h"
#include "common/byte_reader.h"
#include "common/coding.h"
#include "read/fixed_header.h"
#include "read/roaring_check.h"

namespace vellum {

namespace {

constexpr const char* kHeader = "header";
constexpr const char* kRouter = "router";
constexpr const char* kDict = "dictionary";
constexpr const char* kPostings = "postings";
constexpr std::string_view kMagic = "VLTI";
constexpr uint16_t kVersion = 2;
constexpr uint64_t kHeaderSize = 40;
constexpr uint16_t kKnownFlags = 0x7;
constexpr uint8_t kLanguageCount = 18;
constexpr int kBlockOffsetShift = 24;
constexpr uint64_t kBlockLengthMask = (uint64_t{1} << kBlockOffsetShift) - 1;
constexpr uint64_t kMaxHeadLen = (uint64_t{1} << 24) - 1;
constexpr uint64_t kTailLenSize = 4;

}  // namespace

Checked<VltiReader> VltiReader::open(std::string file, std::string_view bytes) {
  VltiReader v(std::move(file), bytes);
  const ProblemSite& site = v.site_;
  VltiHeader& h = v.h_;
  VELLUM_CHECK(check_fixed_header(site, bytes, {kMagic, kVersion, kHeaderSize}));
  const char* p = bytes.data();
  h.version = GetU16(p + 4);
  h.flags = GetU16(p + 6);
  h.term_count = GetU32(p + 8);
  h.head_boundary = GetU32(p + 12);
  h.router_len = GetU64(p + 16);
  h.dict_len = GetU64(p + 24);
  h.block_cap = GetU32(p + 32);
  h.language_code = static_cast<uint8_t>(p[36]);
  if ((h.flags & ~kKnownFlags) != 0) return site.at(kHeader, 6, "unknown flag bits are set");
  if (h.language_code > kLanguageCount) return site.at(kHeader, 36, "unknown language code");
  if ((h.language_code != 0) != ((h.flags & 3) != 0)) {
    return site.at(kHeader, 36, "language code disagrees with the stemming and stop-word flags");
  }
  for (uint64_t i = 37; i < kHeaderSize; ++i) {
    if (p[i] != 0) return site.at(kHeader, i, "reserved byte is not 0");
  }
  if (h.router_len > bytes.size() - kHeaderSize) return site.at(kRouter, bytes.size(), "file ends inside the router");
  h.dict_offset = kHeaderSize + h.router_len;
  if (h.dict_len > bytes.size() - h.dict_offset) return site.at(kDict, bytes.size(), "file ends inside the dictionary");
  h.postings_offset = h.dict_offset + h.dict_len;
  VELLUM_CHECKED_ASSIGN(FstReader router,
                        FstReader::open(site, kRouter, kHeaderSize, bytes.substr(kHeaderSize, h.router_len)));
  v.router_.emplace(std::move(router));
  return v;
}

// A block's entries, each term rebuilt from the one before it.
Checked<std::vector<VltiReader::Entry>> VltiReader::decode_block(uint64_t offset, uint64_t length) const {
  const uint64_t base = h_.dict_offset + offset;
  ByteReader r(bytes_.substr(base, length));
  std::vector<Entry> out;
  while (!r.empty()) {
    Entry e;
    e.at = base + r.offset();
    uint64_t prefix, suffix_len, delta;
    std::string_view suffix;
    if (!r.varint64(&prefix) || !r.varint64(&suffix_len) || !r.bytes(suffix_len, &suffix) ||
        !r.varint64(&delta) || !r.varint64(&e.head_len)) {
      return site_.at(kDict, base + r.offset(), "dictionary entry runs past the end of its block");
    }
    const std::string* prev = out.empty() ? nullptr : &out.back().term;
    if (prefix > (prev ? prev->size() : 0)) return site_.at(kDict, e.at, "shared prefix is longer than the previous term");
    e.term = prev ? prev->substr(0, prefix) : std::string();
    e.term.append(suffix);
    if (prev && prefix < prev->size() && !suffix.empty() && suffix[0] == (*prev)[prefix]) {
      return site_.at(kDict, e.at, "shared prefix is shorter than the terms share");
    }
    if (prev && delta == 0) return site_.at(kDict, e.at, "posting record offset does not advance");
    e.record = prev ? out.back().record + delta : delta;
    if (prev && e.record < delta) return site_.at(kDict, e.at, "posting record offset overflows");
    out.push_back(std::move(e));
  }
  return out;
}

Checked<VltiReader::Record> VltiReader::record_at(const Entry& e) const {
  const uint64_t region = bytes_.size() - h_.postings_offset;
  if (e.head_len > kMaxHeadLen) return site_.at(kDict, e.at, "head length exceeds 24 bits");
  if (e.record > region || region - e.record < kTailLenSize + e.head_len) {
    return site_.at(kDict, e.at, "posting record lies outside the postings region");
  }
  Record r;
  r.head_at = h_.postings_offset + e.record + kTailLenSize;
  r.head_len = e.head_len;
  r.tail_at = r.head_at + e.head_len;
  r.tail_len = GetU32(bytes_.data() + r.head_at - kTailLenSize);
  if (r.tail_len > bytes_.size() - r.tail_at) {
    return site_.at(kPostings, r.head_at - kTailLenSize, "tail runs past the end of the file");
  }
  return r;
}

Check VltiReader::check_record(const Entry& e, const Record& r, VltiStats* s) const {
  RoaringSummary head, tail;
  if (auto f = check_roaring(bytes_.substr(r.head_at, r.head_len), RoaringRules{}, &head)) {
    return roaring_problem(site_, kPostings, r.head_at, *f);
  }
  if (auto f = check_roaring(bytes_.substr(r.tail_at, r.tail_len), RoaringRules{}, &tail)) {
    return roaring_problem(site_, kPostings, r.tail_at, *f);
  }
  if (head.cardinality > 0 && head.max >= h_.head_boundary) {
    return site_.at(kPostings, r.head_at, "head holds an id at or above head_boundary");
  }
  if (tail.cardinality > 0 && tail.min < h_.head_boundary) {
    return site_.at(kPostings, r.tail_at, "tail holds an id below head_boundary");
  }
  const uint64_t card = head.cardinality + tail.cardinality;
  if (card == 0) return site_.at(kDict, e.at, "term has no documents");
  s->total_ids += card;
  ++s->cardinality_log2[63 - __builtin_clzll(card)];
  s->doc_span = std::max<uint64_t>(s->doc_span, uint64_t{tail.cardinality > 0 ? tail.max : head.max} + 1);
  return Check();
}

Checked<VltiStats> VltiReader::verify() const {
  VELLUM_CHECKED_ASSIGN(std::vector<FstEntry> blocks, router_->entries(h_.dict_len));
  VltiStats s;
  s.blocks = blocks.size();
  s.posting_bytes = bytes_.size() - h_.postings_offset;
  uint64_t block_at = 0, record_at_expect = 0, terms = 0;
  std::string prev;
  for (const FstEntry& b : blocks) {
    const uint64_t offset = b.value >> kBlockOffsetShift, length = b.value & kBlockLengthMask;
    if (offset != block_at || length == 0 || length > h_.dict_len - block_at) {
      return site_.at(kRouter, kHeaderSize, "router block ranges do not tile the dictionary");
    }
    block_at += length;
    VELLUM_CHECKED_ASSIGN(std::vector<Entry> entries, decode_block(offset, length));
    if (h_.block_cap != 0 && entries.size() > 1 && length > h_.block_cap) {
      return site_.at(kDict, h_.dict_offset + offset, "block of several entries exceeds block_cap");
    }
    for (const Entry& e : entries) {
      if (e.term.empty() || !utf8::is_valid(e.term)) return site_.at(kDict, e.at, "term is empty or not UTF-8");
      if (terms > 0 && e.term <= prev) return site_.at(kDict, e.at, "terms are not strictly ascending");
      if (e.record != record_at_expect) return site_.at(kDict, e.at, "posting record does not follow the previous one");
      VELLUM_CHECKED_ASSIGN(Record r, record_at(e));
      VELLUM_CHECK(check_record(e, r, &s));
      record_at_expect = r.tail_at + r.tail_len - h_.postings_offset;
      prev = e.term;
      ++terms;
    }
    if (b.key != prev) return site_.at(kRouter, kHeaderSize, "router key is not the last term of its block");
  }
  if (block_at != h_.dict_len) return site_.at(kDict, h_.dict_offset + block_at, "dictionary holds bytes no block uses");
  if (terms != h_.term_count) return site_.at(kHeader, 8, "term_count differs from the dictionary");
  if (h_.postings_offset + record_at_expect != bytes_.size()) {
    return site_.at(kPostings, h_.postings_offset + record_at_expect, "bytes follow the last posting record");
  }
  return s;
}

Checked<std::vector<uint32_t>> VltiReader::record_ids(const Record& r) const {
  std::vector<uint32_t> ids;
  RoaringSummary rs;
  if (auto f = decode_roaring(bytes_.substr(r.head_at, r.head_len), RoaringRules{}, &rs, &ids)) {
    return roaring_problem(site_, kPostings, r.head_at, *f);
  }
  const size_t head_ids = ids.size();
  if (auto f = decode_roaring(bytes_.substr(r.tail_at, r.tail_len), RoaringRules{}, &rs, &ids)) {
    return roaring_problem(site_, kPostings, r.tail_at, *f);
  }
  if (head_ids > 0 && head_ids < ids.size() && ids[head_ids - 1] >= ids[head_ids]) {
    return site_.at(kPostings, r.tail_at, "tail holds an id not above every head id");
  }
  return ids;
}

Checked<std::vector<uint32_t>> VltiReader::lookup_term(std::string_view term) const {
  VELLUM_CHECKED_ASSIGN(std::optional<FstEntry> block, router_->lower_bound(term));
  if (!block) return std::vector<uint32_t>();
  const uint64_t offset = block->value >> kBlockOffsetShift, length = block->value & kBlockLengthMask;
  if (offset > h_.dict_len || length > h_.dict_len - offset) {
    return site_.at(kRouter, kHeaderSize, "router block lies outside the dictionary");
  }
  VELLUM_CHECKED_ASSIGN(std::vector<Entry> entries, decode_block(offset, length));
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].term <= entries[i - 1].term) {
      return site_.at(kDict, entries[i].at, "terms are not strictly ascending");
    }
  }
  auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.term == term; });
  if (it == entries.end()) return std::vector<uint32_t>();
  VELLUM_CHECKED_ASSIGN(Record r, record_at(*it));
  return record_ids(r);
}

}  // namespace vellum
