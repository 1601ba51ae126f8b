#include "encoding/long_message.h"

#include <gtest/gtest.h>

#include <string>

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "encoding/user_data_header.h"
#include "encoding/utf8.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace vek::encoding {
namespace {

// The septets a segment carries, unpacked at its own header's offset.
std::string unpackSegment(const Segment& s, bool alt = false) {
  if (alt) {
    EXPECT_EQ(s.data.substr(0, 2), "1A");
    return UnpackHexToGSMSeptets(s.data.substr(2), 0);
  }
  return UnpackHexToGSMSeptets(s.data, s.udh.size() / 2);
}

std::string joinSeptets(const SplitMessage& m, bool alt = false) {
  std::string all;
  for (const Segment& s : m.segments) all += unpackSegment(s, alt);
  return all;
}

std::string letters(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + i % 26));
  return s;
}

TEST(LongMessageTest, SegmentSizesAndHeadersFollowTheSettings) {
  struct Case {
    const char* what;
    bool ucs2;
    size_t length;
    SplitOptions options;
    std::vector<size_t> sizes;  // empty: not split
    const char* first_header;   // with reference 0x2A
  };
  SplitOptions ref16;
  ref16.ConcatRef16Bit = true;
  SplitOptions alt;
  alt.AltLongText = true;
  SplitOptions short_limit;
  short_limit.MaxSMSSegmentLengthText = 30;  // below 40: the default
  SplitOptions limit_40;
  limit_40.MaxSMSSegmentLengthText = 40;
  SplitOptions as_is;
  as_is.SendLongMessagesAsIs = true;
  const Case cases[] = {
      {"160 septets fit", false, 160, {}, {}, ""},
      {"161 septets", false, 161, {}, {153, 8}, "0500032A0201"},
      {"16-bit reference", false, 161, ref16, {152, 9}, "060804002A0201"},
      {"alternative packing", false, 161, alt, {152, 9}, "0500032A0201"},
      {"limit 30 is 160", false, 161, short_limit, {153, 8}, "0500032A0201"},
      {"limit 40 stays", false, 41, limit_40, {33, 8}, "0500032A0201"},
      {"as is", false, 400, as_is, {}, ""},
      {"70 UCS-2 fit", true, 70, {}, {}, ""},
      {"71 UCS-2", true, 71, {}, {67, 4}, "0500032A0201"},
      {"71 UCS-2, 16-bit", true, 71, ref16, {66, 5}, "060804002A0201"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SMSText text;
    text.ucs2 = c.ucs2;
    if (c.ucs2) {
      text.units = std::u16string(c.length, u'\x416');
    } else {
      text.septets = UTF8ToGSMString(letters(c.length));
    }
    ASSERT_EQ(needsSplitting(text, c.options), !c.sizes.empty());
    if (c.sizes.empty()) continue;
    auto split = splitText(text, 0x2A, c.options);
    ASSERT_TRUE(split.ok()) << split.status().message();
    ASSERT_EQ(split->segments.size(), c.sizes.size());
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      const Segment& s = split->segments[i];
      EXPECT_EQ(s.units, c.sizes[i]) << "segment " << i + 1;
      std::string want = c.first_header;
      want.replace(want.size() - 2, 2, i == 0 ? "01" : "02");
      EXPECT_EQ(s.udh, want);
      if (c.ucs2) {
        EXPECT_EQ(s.data.size(), 4 * c.sizes[i]);
      }
    }
    if (!c.ucs2) {
      const bool packed_alt = c.options.AltLongText && !c.options.ConcatRef16Bit;
      EXPECT_EQ(joinSeptets(*split, packed_alt), text.septets);
      // Every segment fits 140 octets with its header.
      for (const Segment& s : split->segments) EXPECT_LE(s.udh.size() + s.data.size(), 280u);
    }
  }
}

// A character never straddles two segments: an escape pair (two septets)
// or a surrogate pair at the cut moves whole to the next segment.
TEST(LongMessageTest, CutsNeverSeparateEscapeOrSurrogatePairs) {
  struct Case {
    size_t before;  // plain characters before the pair
    size_t first;   // septets or units in segment 1
  } septet_cases[] = {{151, 153}, {152, 152}, {153, 153}, {0, 152}};
  for (const Case& c : septet_cases) {
    // "[" is the escape pair 1B 3C; a run of them tests the pair parity.
    const std::string text = letters(c.before) + std::string(120, '[');
    SMSText t = encodeSMSText(text);
    ASSERT_FALSE(t.ucs2);
    auto split = splitText(t, 1, SplitOptions{});
    ASSERT_TRUE(split.ok());
    EXPECT_EQ(split->segments[0].units, c.first) << "after " << c.before;
    std::string out;
    for (const Segment& s : split->segments) {
      const std::string part = unpackSegment(s);
      EXPECT_NE(static_cast<uint8_t>(part.back()), kGsmEscape) << "segment ends in an escape";
      out += GSMToUTF8String(part);
    }
    EXPECT_EQ(out, text);
  }
  for (size_t before : {66u, 65u}) {
    std::u16string units = UTF8ToUCS2(letters(before) + "\xF0\x9F\x98\x80" + letters(20));
    auto split = splitUcs2(units, {}, 1, SplitOptions{});
    ASSERT_TRUE(split.ok());
    EXPECT_EQ(split->segments[0].units, before == 66 ? 66u : 67u) << "after " << before;
    std::string hex;
    for (const Segment& s : split->segments) hex += s.data;
    EXPECT_EQ(UCS2HexToUTF8(hex), UCS2ToUTF8(units));
  }
}

// A message that brings its own header keeps its other elements (in the
// first segment, or in all with RepeatUDHAllSegments) and loses its own
// concatenation element; room and fill offsets follow the longer header.
TEST(LongMessageTest, OwnHeaderElementsAreKeptAndCountAgainstTheRoom) {
  const std::string ports = "0605040B8423F0";  // c = 6 octets of elements
  std::string octets(300, '\x5A');
  auto split = splitOctets(octets, ports, 0x77, SplitOptions{});
  ASSERT_TRUE(split.ok());
  ASSERT_EQ(split->segments.size(), 3u);
  EXPECT_EQ(split->segments[0].udh,
            "0B00037703010504"
            "0B8423F0");
  EXPECT_EQ(split->segments[0].units, 128u);  // 140 - 12
  EXPECT_EQ(split->segments[2].units, 44u);

  SplitOptions once;
  once.RepeatUDHAllSegments = false;
  const std::string septets = UTF8ToGSMString(letters(300));
  auto text = splitSeptets(septets,
                           "0B"
                           "0003AA0201"
                           "0504"
                           "0B8423F0",
                           0x10, once);
  ASSERT_TRUE(text.ok());
  ASSERT_EQ(text->segments.size(), 3u);
  EXPECT_EQ(text->segments[0].udh,
            "0B0003100301"
            "05040B8423F0")
      << "the old 00 element is gone";
  EXPECT_EQ(text->segments[1].udh, "050003100302");
  EXPECT_EQ(text->segments[0].units, 146u) << "160 - ceil(12 * 8 / 7)";
  EXPECT_EQ(joinSeptets(*text), septets) << "each segment packed at its own header's offset";
}

TEST(LongMessageTest, HeadersThatLeaveNoRoomOrDoNotParseAreRefused) {
  std::string big = "85";  // 133 octets: one element of 131 (u = 139)
  big +=
      "70"
      "83" +
      std::string(2 * 131, 'A');
  ASSERT_EQ(big.size(), 2u * 134);
  struct Case {
    const char* what;
    std::string udh;
    UserDataKind kind;
    std::string payload;
  } cases[] = {
      {"UCS-2 room 0", big, UserDataKind::kUcs2, ""},
      {"escape pair in 1 septet", big, UserDataKind::kSeptets, "\x1B\x3C"},
      {"length octet too long", "0700030102", UserDataKind::kOctets, "x"},
      {"element past the end", "03000501", UserDataKind::kOctets, "x"},
      {"not hexadecimal", "0500030G0201", UserDataKind::kOctets, "x"},
      {"odd digits", "050", UserDataKind::kOctets, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::Status st;
    if (c.kind == UserDataKind::kUcs2) {
      st = splitUcs2(u"abc", c.udh, 1, SplitOptions{}).status();
    } else if (c.kind == UserDataKind::kSeptets) {
      st = splitSeptets(c.payload, c.udh, 1, SplitOptions{}).status();
    } else {
      st = splitOctets(c.payload, c.udh, 1, SplitOptions{}).status();
    }
    EXPECT_FALSE(st.ok());
  }
  // One octet of room still works for 8-bit data.
  auto one = splitOctets("abc", big, 1, SplitOptions{});
  ASSERT_TRUE(one.ok());
  EXPECT_EQ(one->segments.size(), 3u);
}

TEST(LongMessageTest, AtMostMaxSegmentsAreMadeAndTheRestCounted) {
  SplitOptions o;
  o.max_segments = 2;
  auto split = splitOctets(std::string(300, 'x'), {}, 1, o);
  ASSERT_TRUE(split.ok());
  EXPECT_EQ(split->segments.size(), 2u);
  EXPECT_EQ(split->dropped, 300u - 2 * 134);
  EXPECT_EQ(split->segments[1].udh, "050003010202");
}

TEST(UserDataHeaderTest, InboundHeadersGiveConcatenationAndPorts) {
  struct Case {
    const char* udh;
    bool valid, segment;
    uint32_t reference;
    unsigned total, number;
    int destination, source;  // -1: none
  } cases[] = {
      {"", true, false, 0, 0, 0, -1, -1},
      {"050003A70302", true, true, 0xA7, 3, 2, -1, -1},
      {"060804BEEF0201", true, true, 0xBEEF, 2, 1, -1, -1},
      {"0B0504158200000003770201", true, true, 0x77, 2, 1, 0x1582, 0},
      {"0405021582", true, false, 0, 0, 0, 0x1582, -1},
      {"050003A70203", true, false, 0, 0, 0, -1, -1},  // number above total
      {"050003A70200", true, false, 0, 0, 0, -1, -1},
      {"080003A702010504", true, true, 0xA7, 2, 1, -1, -1},  // 05 runs past the end
      {"05000ZA70302", false, false, 0, 0, 0, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.udh);
    InboundHeader h = parseInboundHeader(c.udh);
    EXPECT_EQ(h.valid, c.valid);
    EXPECT_EQ(h.segment, c.segment);
    EXPECT_EQ(h.reference, c.reference);
    EXPECT_EQ(h.total, c.total);
    EXPECT_EQ(h.number, c.number);
    EXPECT_EQ(h.has_destination_port ? static_cast<int>(h.destination_port) : -1, c.destination);
    EXPECT_EQ(h.has_source_port ? static_cast<int>(h.source_port) : -1, c.source);
  }
  EXPECT_FALSE(parseInboundHeader(std::string(2 * 400, '0')).valid) << "over 399 octets";
  // The headers the gateway writes: the 8-bit form keeps the reference's
  // low octet, and totals and numbers are taken modulo 256.
  EXPECT_EQ(concatenationHeader(0x1A7, 0x103, 2, false), "050003A70302");
  EXPECT_EQ(concatenationHeader(0xBEEF, 2, 1, true), "060804BEEF0201");
}

// node-pdu decodes each segment, as an SMS-SUBMIT with our header and
// packed text, to the right piece of the text and the right numbering.
TEST(LongMessageOracleTest, SegmentsDecodeWithNodePdu) {
  VEK_REQUIRE_ORACLES();
  if (!platform::findProgram("node")) GTEST_SKIP() << "node not installed";
  const std::string pdu_js = testing::oraclesDir() + "/node/pdu.js";
  std::string text;
  while (text.size() < 161) text += "The quick brown fox jumps over the lazy dog. ";
  text.resize(161);
  for (bool ref16 : {false, true}) {
    SplitOptions o;
    o.ConcatRef16Bit = ref16;
    auto split = splitText(encodeSMSText(text), 0x3C, o);
    ASSERT_TRUE(split.ok());
    ASSERT_EQ(split->segments.size(), 2u);
    std::string decoded;
    for (size_t i = 0; i < 2; ++i) {
      const Segment& s = split->segments[i];
      const size_t udl = (s.udh.size() / 2 * 8 + 6) / 7 + s.units;
      char udl_hex[8];
      snprintf(udl_hex, sizeof udl_hex, "%02X", static_cast<unsigned>(udl));
      const std::string pdu = std::string("0041000681214365") + "0000" + udl_hex + s.udh + s.data;
      platform::ProcessOptions po;
      po.argv = {"node", pdu_js, "decode", pdu};
      po.merge_stderr = false;
      po.time_limit = std::chrono::milliseconds(20000);
      platform::ProcessResult r = platform::runProcess(po);
      ASSERT_TRUE(r.exitedWith(0)) << r.error_output;
      const std::string piece = text.substr(i == 0 ? 0 : 161 - s.units, s.units);
      EXPECT_NE(r.output.find("\"text\": \"" + piece + "\""), std::string::npos) << r.output;
      EXPECT_NE(r.output.find("\"seq\": " + std::to_string(i + 1)), std::string::npos);
      EXPECT_NE(r.output.find("\"total\": 2"), std::string::npos);
      decoded += piece;
    }
    EXPECT_EQ(decoded, text);
  }
}

}  // namespace
}  // namespace vek::encoding
