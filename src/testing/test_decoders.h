// Test-only decoders of the formats the writers produce, written from the
// byte layouts rather than from the writers, and strict: any layout fault
// (a bad offset, a gap, a trailing byte, a run container) throws, which
// GoogleTest reports as a failure of the calling test.
#ifndef VELLUM_TESTING_TEST_DECODERS_H_
#define VELLUM_TESTING_TEST_DECODERS_H_

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/coding.h"
#include "facet/vlsf_format.h"
#include "index/posting_format.h"
#include "index/record_format.h"
#include "index/vls_format.h"

namespace vellum::testing {

// Takes a view so that a passing check allocates nothing: the decoders run
// in fuzz loops.
inline void require(bool cond, std::string_view what) {
  if (!cond) throw std::runtime_error("decode: " + std::string(what));
}

class Reader {
 public:
  explicit Reader(std::string_view b) : b_(b) {}
  size_t pos() const { return pos_; }
  size_t remaining() const { return b_.size() - pos_; }
  std::string_view take(size_t n) {
    // Only a failure pays for building the message.
    if (n > remaining()) require(false, "truncated at " + std::to_string(pos_));
    std::string_view v = b_.substr(pos_, n);
    pos_ += n;
    return v;
  }
  uint16_t u16() { return GetU16(p(2)); }
  uint32_t u32() { return GetU32(p(4)); }
  uint64_t u64() { return GetU64(p(8)); }

 private:
  const char* p(size_t n) { return take(n).data(); }
  std::string_view b_;
  size_t pos_ = 0;
};

// ---- portable Roaring posting, no-run layout only ----

struct Posting {
  std::vector<uint16_t> container_keys;
  std::vector<uint32_t> container_cards;
  std::vector<uint32_t> ids;
};

inline Posting decode_posting(std::string_view bytes) {
  Reader r(bytes);
  require(r.u32() == kNoRunCookie, "posting cookie is not the no-run cookie");
  const uint32_t count = r.u32();
  Posting p;
  for (uint32_t i = 0; i < count; ++i) {
    p.container_keys.push_back(r.u16());
    p.container_cards.push_back(uint32_t{r.u16()} + 1);
    require(i == 0 || p.container_keys[i] > p.container_keys[i - 1], "container keys not ascending");
  }
  std::vector<uint32_t> offsets;
  for (uint32_t i = 0; i < count; ++i) offsets.push_back(r.u32());
  for (uint32_t i = 0; i < count; ++i) {
    require(offsets[i] == r.pos(), "container offset mismatch");
    const uint32_t high = uint32_t{p.container_keys[i]} << 16;
    const uint32_t card = p.container_cards[i];
    size_t before = p.ids.size();
    if (card <= kMaxArrayCardinality) {
      for (uint32_t k = 0; k < card; ++k) p.ids.push_back(high | r.u16());
    } else {
      Reader words(r.take(kBitmapContainerBytes));
      for (uint32_t w = 0; w < kBitmapContainerBytes / 8; ++w) {
        uint64_t bits = words.u64();
        for (uint32_t b = 0; b < 64; ++b) {
          if (bits >> b & 1) p.ids.push_back(high | (w * 64 + b));
        }
      }
      require(p.ids.size() - before == card, "bitmap container cardinality mismatch");
    }
    for (size_t k = before + 1; k < p.ids.size(); ++k) {
      require(p.ids[k] > p.ids[k - 1], "ids not ascending in container");
    }
  }
  require(r.remaining() == 0, "trailing bytes after posting");
  return p;
}

// ---- VLS ----

struct VlsEntry {
  uint64_t key;
  uint64_t offset;
  uint32_t length;
  std::string posting;  // copied: decoders are often given temporaries
};

struct VlsFile {
  uint16_t version = 0;
  uint16_t gram_size = 0;
  uint32_t key_count = 0;
  uint32_t stride = 0;
  size_t header_len = 0;
  std::vector<uint64_t> sparse;
  std::vector<VlsEntry> entries;
};

inline VlsFile decode_vls(std::string_view bytes) {
  Reader r(bytes);
  VlsFile f;
  require(r.take(kVlsMagic.size()) == kVlsMagic, "magic");
  f.version = r.u16();
  f.gram_size = r.u16();
  f.key_count = r.u32();
  f.stride = r.u32();
  require(f.version == kVlsFoldedVersion || f.version == kVlsCaseSensitiveVersion, "version");
  require(f.stride != 0, "stride 0 in file");
  if (f.version == kVlsCaseSensitiveVersion) {
    require(r.u16() == kVlsFlagCaseSensitive, "flags word");
  }
  f.header_len = r.pos();
  const uint64_t blocks = (uint64_t{f.key_count} + f.stride - 1) / f.stride;
  for (uint64_t b = 0; b < blocks; ++b) f.sparse.push_back(r.u64());
  uint64_t expect =
      f.header_len + kVlsSparseEntrySize * blocks + kVlsDictEntrySize * uint64_t{f.key_count};
  for (uint32_t i = 0; i < f.key_count; ++i) {
    VlsEntry e;
    e.key = r.u64();
    e.offset = r.u64();
    e.length = r.u32();
    require(i == 0 || e.key > f.entries.back().key, "keys not strictly ascending");
    require(e.offset == expect, "posting offset not contiguous");
    require(e.offset + e.length <= bytes.size(), "posting out of range");
    e.posting = std::string(bytes.substr(e.offset, e.length));
    expect += e.length;
    f.entries.push_back(e);
  }
  require(expect == bytes.size(), "file does not end at the last posting");
  for (uint64_t b = 0; b < blocks; ++b) {
    require(f.sparse[b] == f.entries[b * f.stride].key, "sparse index key");
  }
  return f;
}

// ---- VLSF ----

struct VlsfField {
  std::string name;
  uint32_t name_offset;
  uint32_t first;
  uint32_t count;
};

struct VlsfCategory {
  uint64_t key;
  uint64_t head_offset;
  uint32_t doc_count;
  uint32_t name_offset;
  std::string name;
  std::string head;
  std::string tail;
};

struct VlsfFile {
  uint16_t version = 0;
  uint16_t case_sensitive = 0;
  std::vector<VlsfField> fields;
  std::vector<VlsfCategory> categories;
  std::string blob;
};

inline VlsfFile decode_vlsf(std::string_view bytes) {
  Reader r(bytes);
  VlsfFile f;
  require(r.take(kVlsfMagic.size()) == kVlsfMagic, "magic");
  f.version = r.u16();
  f.case_sensitive = r.u16();
  const uint32_t nf = r.u32();
  const uint32_t nk = r.u32();
  const uint32_t nb = r.u32();
  require(r.u32() == 0, "header reserved");
  const uint64_t tables =
      kVlsfHeaderSize + kVlsfFieldEntrySize * uint64_t{nf} + kVlsfCategoryEntrySize * uint64_t{nk};
  const uint64_t meta = tables + nb;
  require(meta <= bytes.size(), "meta region truncated");
  f.blob = std::string(bytes.substr(tables, nb));
  auto name_at = [&](uint32_t off, uint16_t len) {
    require(uint64_t{off} + len <= nb, "name out of blob");
    return std::string(f.blob.substr(off, len));
  };
  uint32_t next_first = 0;
  for (uint32_t i = 0; i < nf; ++i) {
    VlsfField fld;
    fld.name_offset = r.u32();
    const uint16_t len = r.u16();
    require(r.u16() == 0, "field reserved");
    fld.first = r.u32();
    fld.count = r.u32();
    require(fld.first == next_first, "field category ranges not contiguous");
    next_first += fld.count;
    fld.name = name_at(fld.name_offset, len);
    f.fields.push_back(fld);
  }
  require(next_first == nk, "category count");
  uint64_t expect = meta;
  for (uint32_t i = 0; i < nk; ++i) {
    VlsfCategory c;
    c.key = r.u64();
    c.head_offset = r.u64();
    const uint32_t head_len = r.u32();
    const uint32_t tail_len = r.u32();
    c.doc_count = r.u32();
    c.name_offset = r.u32();
    const uint16_t len = r.u16();
    require(r.u16() == 0, "category reserved");
    require(c.head_offset == expect, "head offset not contiguous");
    require(c.head_offset + head_len + tail_len <= bytes.size(), "posting out of range");
    c.head = std::string(bytes.substr(c.head_offset, head_len));
    c.tail = std::string(bytes.substr(c.head_offset + head_len, tail_len));
    expect += uint64_t{head_len} + tail_len;
    c.name = name_at(c.name_offset, len);
    f.categories.push_back(c);
  }
  require(expect == bytes.size(), "file does not end at the last tail");
  return f;
}

// ---- record store ----

inline std::vector<std::string> decode_records(std::string_view bin, std::string_view idx) {
  Reader r(idx);
  require(r.take(kRecordIndexMagic.size()) == kRecordIndexMagic, "magic");
  require(r.u16() == kRecordIndexVersion, "version");
  require(r.u16() == 0, "reserved");
  const uint32_t n = r.u32();
  require(r.u32() == 0, "reserved");
  require(idx.size() == kRecordIndexHeaderSize + kRecordOffsetSize * (uint64_t{n} + 1),
          "records.idx length");
  std::vector<uint64_t> offsets;
  for (uint64_t i = 0; i <= n; ++i) offsets.push_back(r.u64());
  require(offsets[0] == 0, "offsets[0]");
  require(offsets[n] == bin.size(), "offsets[n] is not the records.bin length");
  std::vector<std::string> out;
  for (uint32_t i = 0; i < n; ++i) {
    require(offsets[i] <= offsets[i + 1], "offsets decrease");
    out.emplace_back(bin.substr(offsets[i], offsets[i + 1] - offsets[i]));
  }
  return out;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  require(static_cast<bool>(in), "cannot open " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_TEST_DECODERS_H_
