// Test-only readers of VLTI term index files, written from the byte layout
// and independent of the writer.
//
//  - decode_vlt: the whole file, strictly: every header field, the router
//    against the blocks, every entry's front coding (the shared prefix must
//    be the longest one), contiguous records, strict postings with heads
//    below and tails at or above the boundary, greedy block sealing, and
//    nothing left over.
//  - VltRemoteReader: a lookup the way a reader fetching byte ranges works:
//    header, router, the one block the router names, the record's first
//    4 + head_len bytes, then the tail. It counts its fetches.
#ifndef VELLUM_TESTING_VLT_READER_H_
#define VELLUM_TESTING_VLT_READER_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/fst_reader.h"
#include "testing/test_decoders.h"

namespace vellum::testing {

struct VltHeader {
  uint16_t flags = 0;
  uint32_t term_count = 0;
  uint32_t head_boundary = 0;
  uint64_t router_len = 0;
  uint64_t dict_len = 0;
  uint32_t block_cap = 0;
  uint8_t language_code = 0;

  uint64_t dict_start() const { return 40 + router_len; }
  uint64_t postings_start() const { return 40 + router_len + dict_len; }
};

inline VltHeader parse_vlt_header(std::string_view b) {
  check(b.size() >= 40, "vlt header truncated");
  Reader r(b.substr(0, 40));
  check(r.take(4) == "VLTI", "vlt magic");
  check(r.u16() == 2, "vlt version");
  VltHeader h;
  h.flags = r.u16();
  h.term_count = r.u32();
  h.head_boundary = r.u32();
  h.router_len = r.u64();
  h.dict_len = r.u64();
  h.block_cap = r.u32();
  h.language_code = static_cast<uint8_t>(r.take(1)[0]);
  check(r.take(3) == std::string_view("\0\0\0", 3), "vlt reserved bytes not zero");
  check((h.flags & ~7u) == 0, "vlt unknown flag bits");
  check(h.language_code <= 18, "vlt language code out of range");
  // Stemming or stop-word removal need a language, and a recorded
  // language means one of them was applied.
  check(((h.flags & 3) != 0) == (h.language_code != 0), "vlt flags disagree with language code");
  return h;
}

struct VltEntry {
  std::string term;
  uint64_t record_offset = 0;
  uint64_t head_len = 0;
  size_t encoded_size = 0;
  uint64_t prefix = 0;
};

// Walks the entries of one dict block in order, checking the front coding.
class VltBlockCursor {
 public:
  explicit VltBlockCursor(std::string_view block) : block_(block) {
    check(!block.empty(), "vlt empty dict block");
  }

  bool done() const { return pos_ == block_.size(); }

  const VltEntry& next() {
    const size_t start = pos_;
    const bool first = start == 0;
    VltEntry e;
    e.prefix = varint();
    const uint64_t suffix = varint();
    check(suffix <= block_.size() - pos_, "vlt suffix runs past the block");
    check(first ? e.prefix == 0 : e.prefix <= last_.term.size(), "vlt prefix length");
    e.term = last_.term.substr(0, e.prefix);
    e.term.append(block_.substr(pos_, suffix));
    pos_ += suffix;
    const uint64_t delta = varint();
    e.record_offset = first ? delta : last_.record_offset + delta;
    e.head_len = varint();
    e.encoded_size = pos_ - start;
    if (!first) {
      size_t shared = 0;
      const std::string& prev = last_.term;
      while (shared < prev.size() && shared < e.term.size() && prev[shared] == e.term[shared]) {
        ++shared;
      }
      check(e.prefix == shared, "vlt prefix is not the whole shared prefix");
      check(e.term > prev, "vlt terms not ascending in block");
    }
    last_ = std::move(e);
    return last_;
  }

 private:
  uint64_t varint() {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      check(pos_ < block_.size(), "vlt entry truncated");
      check(shift < 64, "vlt varint too long");
      const uint8_t byte = static_cast<uint8_t>(block_[pos_++]);
      v |= uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) {
        check(byte != 0 || shift == 0, "vlt varint not minimal");
        return v;
      }
    }
  }

  std::string_view block_;
  size_t pos_ = 0;
  VltEntry last_;
};

inline std::vector<VltEntry> decode_vlt_block(std::string_view block) {
  std::vector<VltEntry> out;
  VltBlockCursor c(block);
  while (!c.done()) out.push_back(c.next());
  return out;
}

struct VltTerm {
  std::string term;
  std::vector<uint32_t> head;
  std::vector<uint32_t> tail;
};

struct VltBlock {
  uint64_t offset = 0;
  uint64_t length = 0;
  size_t entries = 0;
};

struct VltFile {
  VltHeader header;
  std::vector<VltBlock> blocks;
  std::vector<VltTerm> terms;
};

inline size_t varint_len(uint64_t v) {
  size_t n = 1;
  for (; v >= 0x80; v >>= 7) ++n;
  return n;
}

// Block i + 1 may only start when its first entry, coded as a continuation
// of block i, would have pushed block i past the budget.
inline void check_sealing(const VltEntry& last, const VltEntry& next, uint64_t block_len,
                          uint64_t budget) {
  size_t p = 0;
  while (p < last.term.size() && p < next.term.size() && last.term[p] == next.term[p]) ++p;
  const uint64_t suffix = next.term.size() - p;
  const uint64_t size = varint_len(p) + varint_len(suffix) + suffix +
                        varint_len(next.record_offset - last.record_offset) +
                        varint_len(next.head_len);
  check(block_len + size > budget, "vlt block sealed although the next entry fitted");
}

// `budget` is the block budget the writer was given when it does not fit
// the header's 32 bits; 0 takes the header's value.
inline VltFile decode_vlt(std::string_view b, uint64_t budget = 0) {
  VltFile f;
  f.header = parse_vlt_header(b);
  const VltHeader& h = f.header;
  if (budget == 0) budget = h.block_cap;
  check(budget == 0 || static_cast<uint32_t>(budget) == h.block_cap, "vlt block_cap field");
  check(h.postings_start() <= b.size(), "vlt router and dict run past the file");
  const FstImage router(b.substr(40, h.router_len));
  const std::vector<FstEntry> routes = router.entries();
  std::string_view postings = b.substr(h.postings_start());
  uint64_t next_block = 0;
  uint64_t next_record = 0;
  std::vector<VltEntry> previous_block;
  for (const FstEntry& route : routes) {
    VltBlock blk{route.value >> 24, route.value & 0xFFFFFF, 0};
    check(blk.offset == next_block, "vlt dict blocks not contiguous");
    check(blk.length > 0 && blk.offset + blk.length <= h.dict_len, "vlt block out of the dict region");
    next_block += blk.length;
    std::vector<VltEntry> entries = decode_vlt_block(b.substr(h.dict_start() + blk.offset, blk.length));
    check(entries.back().term == route.key, "vlt router key is not the block's last term");
    check(entries.size() == 1 || blk.length <= budget, "vlt block over budget");
    if (!previous_block.empty()) {
      check(entries.front().term > previous_block.back().term, "vlt terms not ascending across blocks");
      check_sealing(previous_block.back(), entries.front(), f.blocks.back().length, budget);
    }
    for (const VltEntry& e : entries) {
      check(e.record_offset == next_record, "vlt posting records not contiguous");
      Reader rec(postings.substr(std::min<uint64_t>(e.record_offset, postings.size())));
      const uint32_t tail_len = rec.u32();
      VltTerm t{e.term, decode_posting(rec.take(e.head_len)).ids, decode_posting(rec.take(tail_len)).ids};
      for (uint32_t id : t.head) check(id < h.head_boundary, "vlt head id at or above the boundary");
      for (uint32_t id : t.tail) check(id >= h.head_boundary, "vlt tail id below the boundary");
      next_record += 4 + e.head_len + tail_len;
      f.terms.push_back(std::move(t));
    }
    blk.entries = entries.size();
    f.blocks.push_back(blk);
    previous_block = std::move(entries);
  }
  check(next_block == h.dict_len, "vlt dict_len is not the sum of the blocks");
  check(next_record == postings.size(), "vlt file does not end at the last record");
  check(f.terms.size() == h.term_count, "vlt term_count");
  return f;
}

// ---- remote-style access ----

class RangeSource {
 public:
  virtual ~RangeSource() = default;
  // Exactly `len` bytes at `offset`; a short range is a reader error.
  virtual std::string fetch(uint64_t offset, uint64_t len) = 0;
  size_t fetches = 0;
  uint64_t bytes = 0;
};

class FileRanges final : public RangeSource {
 public:
  explicit FileRanges(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    require(fd_ >= 0, "cannot open " + path);
  }
  ~FileRanges() override { ::close(fd_); }
  FileRanges(const FileRanges&) = delete;
  FileRanges& operator=(const FileRanges&) = delete;

  std::string fetch(uint64_t offset, uint64_t len) override {
    std::string out(len, '\0');
    size_t got = 0;
    while (got < len) {
      const ssize_t n = ::pread(fd_, out.data() + got, len - got, static_cast<off_t>(offset + got));
      check(n > 0, "range past the end of the file");
      got += static_cast<size_t>(n);
    }
    ++fetches;
    bytes += len;
    return out;
  }

 private:
  int fd_;
};

struct VltHit {
  std::vector<uint32_t> head;
  std::vector<uint32_t> tail;
};

class VltRemoteReader {
 public:
  explicit VltRemoteReader(RangeSource* src)
      : src_(src),
        header_(parse_vlt_header(src->fetch(0, 40))),
        router_(src->fetch(40, header_.router_len)) {}

  const VltHeader& header() const { return header_; }

  // The term's head and tail ids, or nothing when the file lacks the term.
  std::optional<VltHit> lookup(std::string_view term) {
    const std::optional<FstEntry> route = router_.lower_bound(term);
    if (!route) return std::nullopt;
    const uint64_t offset = route->value >> 24;
    const uint64_t length = route->value & 0xFFFFFF;
    check(offset + length <= header_.dict_len, "vlt router names a range outside the dict");
    const std::string block = src_->fetch(header_.dict_start() + offset, length);
    for (VltBlockCursor c(block); !c.done();) {
      const VltEntry& e = c.next();
      if (e.term < term) continue;
      if (e.term != term) return std::nullopt;
      const uint64_t at = header_.postings_start() + e.record_offset;
      const std::string first = src_->fetch(at, 4 + e.head_len);
      VltHit hit;
      hit.head = decode_posting(std::string_view(first).substr(4)).ids;
      hit.tail = decode_posting(src_->fetch(at + 4 + e.head_len, GetU32(first.data()))).ids;
      return hit;
    }
    check(false, "vlt router key is not in its block");
    return std::nullopt;
  }

 private:
  RangeSource* src_;
  VltHeader header_;
  FstImage router_;
};

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_VLT_READER_H_
