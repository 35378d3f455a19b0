// Arbitrary keys and values through the FST map builder (and, for some
// inputs, through the term index writer whose router it builds), read back
// by the strict test readers: every accepted key must come back with its
// value, a refused key must leave the builder unchanged, and the readers
// must find no layout fault.
//
// Input: byte 0 picks the mode; then records of
//   key_len:u8 key[key_len % 24] value_len:u8 value[value_len % 9]
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "fst_map/fst_map_builder.h"
#include "terms_dict/term_index_writer.h"
#include "testing/fst_reader.h"
#include "testing/vlt_reader.h"

namespace {

using vellum::testing::FstEntry;

std::vector<FstEntry> parse(const uint8_t* data, size_t size) {
  std::vector<FstEntry> out;
  size_t pos = 0;
  while (pos < size && out.size() < 4096) {
    const size_t klen = data[pos++] % 24;
    if (pos + klen > size) break;
    FstEntry e{std::string(reinterpret_cast<const char*>(data + pos), klen), 0};
    pos += klen;
    const size_t vlen = pos < size ? data[pos++] % 9 : 0;
    for (size_t i = 0; i < vlen && pos < size; ++i) e.value |= uint64_t{data[pos++]} << (8 * i);
    out.push_back(std::move(e));
  }
  return out;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fst_map_fuzz: %s\n", what);
  std::abort();
}

// Inserts in input order: the builder must take exactly the keys above the
// last accepted one, and the image must hold exactly those.
void check_map(const std::vector<FstEntry>& input) {
  vellum::FstMapBuilder b;
  std::vector<FstEntry> accepted;
  for (const FstEntry& e : input) {
    const bool should = accepted.empty() ? true : e.key > accepted.back().key;
    if (b.insert(e.key, e.value).ok() != should) fail("insert accepted or refused wrongly");
    if (should) accepted.push_back(e);
  }
  vellum::Result<std::string> image = b.finish();
  if (!image.ok()) fail("finish failed");
  vellum::testing::FstImage fst(*image);
  if (fst.entries() != accepted) fail("entries differ");
  for (const FstEntry& e : accepted) {
    if (fst.get(e.key) != e.value) fail("get differs");
    if (fst.lower_bound(e.key) != e) fail("lower_bound of a key differs");
  }
}

// Accepted keys as terms (ids from the values) through the whole writer.
void check_term_index(const std::vector<FstEntry>& input, uint8_t mode) {
  vellum::TermPostings postings;
  for (const FstEntry& e : input) {
    if (!postings.empty() && !(e.key > postings.back().term)) continue;
    postings.push_back({e.key, vellum::Bitmap()});
    postings.back().ids.add(static_cast<uint32_t>(e.value));
    postings.back().ids.add(static_cast<uint32_t>(e.value >> 32));
  }
  const size_t terms = postings.size();
  vellum::TermIndexOptions o;
  o.block_cap = mode >> 2;  // 0 .. 63: tiny budgets seal often
  o.head_boundary = (mode & 2) ? 65536 : 0;
  std::string out;
  vellum::StringSink sink(&out);
  if (!vellum::encode_term_index(std::move(postings), o, &sink).ok()) fail("encode failed");
  if (vellum::testing::decode_vlt(out).terms.size() != terms) fail("term count differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::vector<FstEntry> input = parse(data + 1, size - 1);
  try {
    if (data[0] & 1) {
      check_term_index(input, data[0]);
    } else {
      check_map(input);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reader: %s\n", e.what());
    std::abort();
  }
  return 0;
}
