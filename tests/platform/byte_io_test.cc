#include "platform/byte_io.h"

#include <gtest/gtest.h>

namespace vek::platform {
namespace {

TEST(ByteIoTest, ReaderRefusesToReadPastTheEnd) {
  const uint8_t data[] = {0x00, 0x00, 0x00, 0x10, 0xAB};
  ByteReader r(std::span<const uint8_t>(data, sizeof data));
  uint32_t len = 0;
  ASSERT_TRUE(r.u32(&len));
  EXPECT_EQ(len, 0x10u);
  uint16_t v = 0x5555;
  EXPECT_FALSE(r.u16(&v));  // one byte left
  EXPECT_EQ(v, 0x5555);     // untouched on failure
  std::string s;
  EXPECT_FALSE(r.bytes(2, &s));
  uint8_t b;
  ASSERT_TRUE(r.u8(&b));
  EXPECT_EQ(b, 0xAB);
  EXPECT_TRUE(r.empty());
}

TEST(ByteIoTest, CStringNeedsItsNulWithinTheLimit) {
  struct Case {
    std::string input;
    size_t max_with_nul;
    bool ok;
    std::string value;
  } cases[] = {
      {std::string("abc\0rest", 8), 4, true, "abc"},
      {std::string("abcd\0", 5), 4, false, ""},  // 4 chars + NUL exceeds 4
      {std::string("abc", 3), 10, false, ""},    // no NUL at all
      {std::string("\0", 1), 1, true, ""},
  };
  for (const auto& c : cases) {
    ByteReader r(c.input);
    std::string out;
    EXPECT_EQ(r.cstring(&out, c.max_with_nul), c.ok) << c.input;
    if (c.ok) {
      EXPECT_EQ(out, c.value);
    } else {
      EXPECT_EQ(r.offset(), 0u) << "a failed read consumes nothing";
    }
  }
}

TEST(ByteIoTest, WriterRoundTripsEveryWidthAndPatchesLength) {
  ByteWriter w;
  w.u32(0);
  w.u16(0x1234);
  w.u16le(0x1234);
  w.u32le(0xA1B2C3D4);
  w.cstring("too long value", 4);
  w.uintvar(0x7F);
  w.uintvar(0x80);
  w.uintvar(0xFFFFFFFF);
  w.patchU32(0, static_cast<uint32_t>(w.size()));

  ByteReader r(std::span<const uint8_t>(w.data()));
  uint32_t total, le32;
  uint16_t be16, le16;
  std::string s;
  uint32_t v1, v2, v3;
  ASSERT_TRUE(r.u32(&total) && r.u16(&be16) && r.u16le(&le16) && r.u32le(&le32) &&
              r.cstring(&s, 4) && r.uintvar(&v1) && r.uintvar(&v2) && r.uintvar(&v3));
  EXPECT_EQ(total, w.size());
  EXPECT_EQ(be16, 0x1234);
  EXPECT_EQ(le16, 0x1234);
  EXPECT_EQ(le32, 0xA1B2C3D4u);
  EXPECT_EQ(s, "too");
  EXPECT_EQ(v1, 0x7Fu);
  EXPECT_EQ(v2, 0x80u);
  EXPECT_EQ(v3, 0xFFFFFFFFu);
}

TEST(ByteIoTest, UintvarRejectsOverlongAndUnterminatedForms) {
  const uint8_t unterminated[] = {0x81, 0x82};
  ByteReader a(std::span<const uint8_t>(unterminated, 2));
  uint32_t v;
  EXPECT_FALSE(a.uintvar(&v));
  const uint8_t too_big[] = {0x9F, 0xFF, 0xFF, 0xFF, 0x7F};  // needs more than 32 bits
  ByteReader b(std::span<const uint8_t>(too_big, 5));
  EXPECT_FALSE(b.uintvar(&v));
}

TEST(ByteIoTest, HexRoundTripAndRejectsBadText) {
  std::string bin;
  ASSERT_TRUE(fromHex("00ff7Fa0", &bin));
  EXPECT_EQ(toHex(bin), "00FF7FA0");
  EXPECT_FALSE(fromHex("ABC", &bin));
  EXPECT_FALSE(fromHex("GG", &bin));
}

}  // namespace
}  // namespace vek::platform
