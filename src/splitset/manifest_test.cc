#include "splitset/manifest.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/coding.h"

namespace vellum {
namespace {

SplitMeta split(std::string name, std::string summary = "") {
  SplitMeta s;
  s.name = std::move(name);
  s.summary = std::move(summary);
  return s;
}

std::string write_ok(const std::vector<SplitMeta>& splits, const ManifestParams& params) {
  Result<std::string> r = write_manifest(splits, params);
  EXPECT_TRUE(r.ok()) << r.error().describe();
  return r.ok() ? r.value() : std::string();
}

TEST(WriteManifest, ByteLayout) {
  SplitMeta a = split("a-s00000.vls", "SUM");
  a.tier = 3, a.doc_count = 10, a.first_id = 0, a.last_id = 9, a.split_flags = 2;
  a.size_bytes = 0x1122334455, a.epoch = 7;
  SplitMeta b = split("b.vls");
  ManifestParams p;
  p.sortcol = SortColumn{"col", 513, true};
  p.byte_cap = 33554432, p.base_count = 2, p.tier_count = 2, p.gram_size = 0x0304;
  p.flags = 0x13, p.policy = 1, p.body_kind = 1;
  const std::string m = write_ok({a, b}, p);
  ASSERT_EQ(m.size(), 64u + 2 * 56 + 12 + 5 + 3 + 3);
  const char* h = m.data();
  EXPECT_EQ(m.substr(0, 4), "VLSS");
  EXPECT_EQ(GetU16(h + 4), 1);
  EXPECT_EQ(GetU16(h + 6), 0x13);
  EXPECT_EQ(h[8], 1);
  EXPECT_EQ(h[9], 1);
  EXPECT_EQ(GetU16(h + 10), 2);
  EXPECT_EQ(GetU32(h + 12), 2u);
  EXPECT_EQ(GetU32(h + 16), 2u);
  EXPECT_EQ(GetU32(h + 20), 20u);  // both names and the sort column
  EXPECT_EQ(GetU64(h + 24), 3u);
  EXPECT_EQ(GetU64(h + 32), 33554432u);
  EXPECT_EQ(GetU32(h + 40), 17u);
  EXPECT_EQ(GetU16(h + 44), 3);
  EXPECT_EQ(GetU16(h + 46), 513);
  EXPECT_EQ(h[48], 1);
  EXPECT_EQ(GetU16(h + 49), 0x0304);
  EXPECT_EQ(m.substr(51, 13), std::string(13, '\0'));
  const char* r0 = h + 64;
  EXPECT_EQ(GetU32(r0), 0u);
  EXPECT_EQ(GetU16(r0 + 4), 12);
  EXPECT_EQ(GetU16(r0 + 6), 3);
  EXPECT_EQ(GetU32(r0 + 8), 10u);
  EXPECT_EQ(GetU32(r0 + 12), 0u);
  EXPECT_EQ(GetU32(r0 + 16), 9u);
  EXPECT_EQ(GetU16(r0 + 20), 2);
  EXPECT_EQ(GetU16(r0 + 22), 0);
  EXPECT_EQ(GetU64(r0 + 24), 0x1122334455u);
  EXPECT_EQ(GetU64(r0 + 32), 7u);
  EXPECT_EQ(GetU64(r0 + 40), 0u);
  EXPECT_EQ(GetU32(r0 + 48), 3u);
  EXPECT_EQ(GetU32(r0 + 52), 0u);
  const char* r1 = r0 + 56;
  EXPECT_EQ(GetU32(r1), 12u);
  EXPECT_EQ(GetU64(r1 + 40), 0u);  // empty summary: offset 0 whatever precedes
  EXPECT_EQ(GetU32(r1 + 48), 0u);
  EXPECT_EQ(m.substr(176), "a-s00000.vlsb.vlscolSUM");
}

TEST(WriteManifest, EmptySetIsTheHeaderPlusSortColumn) {
  EXPECT_EQ(write_ok({}, {}).size(), 64u);
  ManifestParams p;
  p.sortcol = SortColumn{"rank", 0, false};
  const std::string m = write_ok({}, p);
  EXPECT_EQ(m.size(), 68u);
  FormatResult<ParsedManifest> back = parse_manifest(m);
  ASSERT_TRUE(back.ok());
  EXPECT_TRUE(back->splits.empty());
  EXPECT_EQ(back->sortcol, p.sortcol);
}

TEST(WriteManifest, Limits) {
  ManifestParams p;
  p.base_count = 2;
  EXPECT_TRUE(write_manifest({split("a"), split("b")}, p).ok());
  p.base_count = 3;
  Result<std::string> r = write_manifest({split("a"), split("b")}, p);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kIo);
  EXPECT_EQ(r.error().message(), "VLSS base_count 3 exceeds split count 2");

  p.base_count = 0;
  EXPECT_TRUE(write_manifest({split(std::string(65535, 'n'))}, p).ok());
  r = write_manifest({split("a"), split(std::string(65536, 'n'))}, p);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "VLSS name exceeds the 16-bit length limit");
  p.sortcol = SortColumn{std::string(65536, 's'), 1, true};
  r = write_manifest({split("a")}, p);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "VLSS name exceeds the 16-bit length limit");
}

std::string random_name(std::mt19937_64& rng) {
  static const std::vector<std::string> pieces = {"a", "Z", "-s", "0", "é", "漢", "😀", ".vls"};
  std::string s;
  for (int n = rng() % 6; n > 0; --n) s += pieces[rng() % pieces.size()];
  return s;
}

TEST(ParseManifest, RoundTripsRandomSplitLists) {
  std::mt19937_64 rng(42);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<SplitMeta> splits(rng() % 12);
    for (SplitMeta& s : splits) {
      s.name = random_name(rng);
      if (rng() % 3 != 0) {
        s.summary.resize(rng() % 40);
        for (char& c : s.summary) c = static_cast<char>(rng());
      }
      s.epoch = rng(), s.size_bytes = rng();
      s.doc_count = static_cast<uint32_t>(rng()), s.first_id = static_cast<uint32_t>(rng());
      s.last_id = static_cast<uint32_t>(rng());
      s.tier = static_cast<uint16_t>(rng()), s.split_flags = static_cast<uint16_t>(rng());
    }
    ManifestParams p;
    if (rng() % 2) p.sortcol = SortColumn{random_name(rng) + "c", static_cast<uint16_t>(rng()), rng() % 2 == 0};
    p.byte_cap = rng(), p.base_count = static_cast<uint32_t>(rng() % (splits.size() + 1));
    p.tier_count = static_cast<uint16_t>(rng()), p.gram_size = static_cast<uint16_t>(rng());
    p.flags = static_cast<uint16_t>(rng()), p.policy = rng() % 2, p.body_kind = rng() % 2;
    const std::string bytes = write_ok(splits, p);
    FormatResult<ParsedManifest> back = parse_manifest(bytes);
    ASSERT_TRUE(back.ok()) << back.error().text();
    EXPECT_EQ(back->split_metas(), splits);
    EXPECT_EQ(back->params(), p);
    EXPECT_EQ(back->case_sensitive, (p.flags & 0x10) != 0);
    EXPECT_EQ(back->split_count, splits.size());
    // Extra bytes after the summary blob are ignored.
    FormatResult<ParsedManifest> padded = parse_manifest(bytes + "trailing");
    ASSERT_TRUE(padded.ok());
    EXPECT_EQ(padded->split_metas(), splits);
  }
}

// A valid two-split manifest whose fields the tests below corrupt.
std::string sample() {
  ManifestParams p;
  p.sortcol = SortColumn{"col", 1, true};
  p.base_count = 1;
  return write_ok({split("first", "S1"), split("second", "S22")}, p);
}

std::string parse_error(const std::string& bytes) {
  FormatResult<ParsedManifest> r = parse_manifest(bytes);
  return r.ok() ? "parsed" : r.error().text();
}

std::string with_u16(std::string m, size_t at, uint16_t v) {
  EncodeU16(m.data() + at, v);
  return m;
}
std::string with_u32(std::string m, size_t at, uint32_t v) {
  EncodeU32(m.data() + at, v);
  return m;
}
std::string with_u64(std::string m, size_t at, uint64_t v) {
  EncodeU64(m.data() + at, v);
  return m;
}

constexpr size_t kRec0 = 64, kRec1 = 64 + 56;

TEST(ParseManifest, EveryMalformedMessage) {
  const std::string m = sample();
  ASSERT_EQ(parse_error(m), "parsed");
  EXPECT_EQ(parse_error(m.substr(0, 63)), "malformed index: short VLSS header");
  EXPECT_EQ(parse_error(""), "malformed index: short VLSS header");
  EXPECT_EQ(parse_error("\x01\x02\x03\x04" + m.substr(4)), "bad magic [1, 2, 3, 4], expected VLSI");
  EXPECT_EQ(parse_error("VLSI" + m.substr(4)), "bad magic [86, 76, 83, 73], expected VLSI");
  EXPECT_EQ(parse_error(with_u16(m, 4, 2)), "unsupported version 2");
  EXPECT_EQ(parse_error(with_u32(m, 16, 3)), "malformed index: VLSS base count exceeds split count");
  EXPECT_EQ(parse_error(with_u64(m, 24, UINT64_MAX)), "malformed index: VLSS body size overflow");
  EXPECT_EQ(parse_error(m.substr(0, m.size() - 1)), "malformed index: short VLSS body");
  EXPECT_EQ(parse_error(with_u32(with_u32(m, 12, 0xFFFFFFFF), 16, 0)), "malformed index: short VLSS body");
  std::string bad = m;
  bad[8] = 2;
  EXPECT_EQ(parse_error(bad), "malformed index: VLSS unknown policy code");
  bad[9] = 2;  // policy is checked first
  EXPECT_EQ(parse_error(bad), "malformed index: VLSS unknown policy code");
  bad[8] = 1;
  EXPECT_EQ(parse_error(bad), "malformed index: VLSS unknown body-kind code");
  // Short body wins over a bad policy code.
  bad = m.substr(0, m.size() - 1);
  bad[8] = 9;
  EXPECT_EQ(parse_error(bad), "malformed index: short VLSS body");
}

TEST(ParseManifest, NameAndSummaryRanges) {
  const std::string m = sample();
  // String blob: "first" "second" "col" at 0, 5, 11; 14 bytes.
  EXPECT_EQ(parse_error(with_u32(m, 40, 12)), "malformed index: VLSS name out of string blob");
  EXPECT_EQ(parse_error(with_u32(m, 40, 11)), "parsed");  // ends exactly at the blob's end
  EXPECT_EQ(parse_error(with_u32(m, 40, 0xFFFFFFFF)), "malformed index: VLSS name out of string blob");
  EXPECT_EQ(parse_error(with_u16(m, kRec1 + 4, 4)), "parsed");
  EXPECT_EQ(parse_error(with_u16(m, kRec1 + 4, 10)), "malformed index: VLSS name out of string blob");
  std::string bad = m;
  bad[64 + 112 + 12] = '\xFF';  // inside "col"
  EXPECT_EQ(parse_error(bad), "malformed index: VLSS non-UTF-8 name");
  bad = m;
  bad[64 + 112 + 1] = '\xC3';  // a lead byte with no continuation in "first"
  EXPECT_EQ(parse_error(bad), "malformed index: VLSS non-UTF-8 name");
  // The sort column is checked before the records.
  EXPECT_EQ(parse_error(with_u32(bad, 40, 100)), "malformed index: VLSS name out of string blob");

  // Summary blob "S1S22": 5 bytes.
  EXPECT_EQ(parse_error(with_u64(m, kRec1 + 40, 3)), "malformed index: VLSS summary out of summary blob");
  EXPECT_EQ(parse_error(with_u64(m, kRec1 + 40, 2)), "parsed");
  EXPECT_EQ(parse_error(with_u64(m, kRec0 + 40, UINT64_MAX)), "malformed index: VLSS summary range overflow");
  // The first summary is 2 bytes long: an offset of 2^64 - 2 wraps, 2^64 - 3 does not.
  EXPECT_EQ(parse_error(with_u64(m, kRec0 + 40, UINT64_MAX - 1)), "malformed index: VLSS summary range overflow");
  EXPECT_EQ(parse_error(with_u64(m, kRec0 + 40, UINT64_MAX - 2)),
            "malformed index: VLSS summary out of summary blob");
  // An empty summary's offset is not range-checked.
  const std::string no_summary = with_u64(with_u32(m, kRec0 + 48, 0), kRec0 + 40, UINT64_MAX);
  FormatResult<ParsedManifest> r = parse_manifest(no_summary);
  ASSERT_TRUE(r.ok()) << r.error().text();
  EXPECT_EQ(r->summary(0), "");
  EXPECT_EQ(r->summary(1), "S22");
}

TEST(ParseManifest, HeaderFieldsAndSortFlagBit) {
  std::string m = sample();
  m[48] = 6;  // only the lowest bit of the sort flag counts
  m[51] = 'x';  // reserved bytes are not validated
  FormatResult<ParsedManifest> r = parse_manifest(m);
  ASSERT_TRUE(r.ok());
  ASSERT_TRUE(r->sortcol.has_value());
  EXPECT_FALSE(r->sortcol->flag);
  EXPECT_EQ(r->sortcol->name, "col");
  EXPECT_EQ(r->version, 1);
  EXPECT_EQ(r->strings_len, 14u);
  EXPECT_EQ(r->summary_blob_len, 5u);
  EXPECT_EQ(r->summary_blob, "S1S22");
  EXPECT_EQ(r->base_count, 1u);
  // 64 bytes with no splits and empty blobs is a valid manifest.
  FormatResult<ParsedManifest> empty = parse_manifest(write_ok({}, {}));
  ASSERT_TRUE(empty.ok());
  EXPECT_FALSE(empty->sortcol.has_value());
}

}  // namespace
}  // namespace vellum
