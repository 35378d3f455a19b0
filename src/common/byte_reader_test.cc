#include "common/byte_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "common/coding.h"

namespace vellum {
namespace {

TEST(ByteReader, FixedWidthFieldsEndingAtTheEndOfTheInput) {
  std::string b;
  PutU8(&b, 0xAB);
  PutU16(&b, 0xBEEF);
  PutU32(&b, 0xDEADBEEF);
  PutU64(&b, 0x0123456789ABCDEFULL);
  ByteReader r(b);
  uint8_t a;
  uint16_t c;
  uint32_t d;
  uint64_t e;
  ASSERT_TRUE(r.u8(&a) && r.u16(&c) && r.u32(&d) && r.u64(&e));
  EXPECT_EQ(a, 0xAB);
  EXPECT_EQ(c, 0xBEEF);
  EXPECT_EQ(d, 0xDEADBEEFu);
  EXPECT_EQ(e, 0x0123456789ABCDEFULL);
  EXPECT_TRUE(r.empty());
  EXPECT_FALSE(r.u8(&a));
}

TEST(ByteReader, OneByteShortFailsAndLeavesTheCursor) {
  const std::string b(7, '\x01');
  for (size_t width : {2, 4, 8}) {
    ByteReader r(std::string_view(b).substr(0, width - 1));
    uint16_t v16 = 7;
    uint32_t v32 = 7;
    uint64_t v64 = 7;
    bool ok = width == 2 ? r.u16(&v16) : width == 4 ? r.u32(&v32) : r.u64(&v64);
    EXPECT_FALSE(ok) << width;
    EXPECT_EQ(r.offset(), 0u);
    EXPECT_EQ(v16 + v32 + v64, 21u) << "output untouched on failure";
  }
  ByteReader r(b);
  std::string_view v;
  EXPECT_FALSE(r.bytes(8, &v));
  EXPECT_FALSE(r.skip(8));
  EXPECT_TRUE(r.skip(3));
  ASSERT_TRUE(r.bytes(4, &v));
  EXPECT_EQ(v.size(), 4u);
  EXPECT_TRUE(r.bytes(0, &v));
}

TEST(ByteReader, VarintLimits) {
  for (uint64_t value : {0ULL, 127ULL, 128ULL, 16383ULL, 0xFFFFFFFFULL, ~0ULL}) {
    std::string b;
    PutVarint64(&b, value);
    ByteReader r(b);
    uint64_t got;
    ASSERT_TRUE(r.varint64(&got));
    EXPECT_EQ(got, value);
    EXPECT_TRUE(r.empty());
    // Truncated by one byte: refused, cursor unmoved.
    ByteReader shortr(std::string_view(b).substr(0, b.size() - 1));
    EXPECT_FALSE(shortr.varint64(&got));
    EXPECT_EQ(shortr.offset(), 0u);
  }
  uint32_t v32;
  std::string max32;
  PutVarint64(&max32, 0xFFFFFFFFULL);
  EXPECT_TRUE(ByteReader(max32).varint32(&v32));
  EXPECT_EQ(v32, 0xFFFFFFFFu);
  std::string over32;
  PutVarint64(&over32, 0x100000000ULL);
  EXPECT_FALSE(ByteReader(over32).varint32(&v32));
  // Eleven bytes, or a tenth byte carrying more than the top bit: refused.
  EXPECT_FALSE(ByteReader(std::string(10, '\x80') + '\x01').varint32(&v32));
  uint64_t v64;
  EXPECT_FALSE(ByteReader(std::string(10, '\x80') + '\x00').varint64(&v64));
  EXPECT_FALSE(ByteReader(std::string(9, '\xFF') + '\x02').varint64(&v64));
  EXPECT_TRUE(ByteReader(std::string(9, '\xFF') + '\x01').varint64(&v64));
  EXPECT_EQ(v64, ~0ULL);
}

}  // namespace
}  // namespace vellum
