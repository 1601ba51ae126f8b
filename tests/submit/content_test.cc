#include <gtest/gtest.h>

#include <optional>

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "encoding/shift_tables.h"
#include "submit/content.h"
#include "submit/validation.h"

namespace vek::submit {
namespace {

std::function<uint16_t()> fixedReference(uint16_t ref, int* draws) {
  return [ref, draws] {
    ++*draws;
    return ref;
  };
}

Message textInput(std::string text) {
  Message m;
  m.recipients = {"1"};
  m.content.text = std::move(text);
  return m;
}

Checked<EncodedMessage> encode(const Message& m, const std::function<uint16_t()>& reference,
                               std::vector<int> shift_tables = {}) {
  EncodeOptions o;
  o.shift_tables = std::move(shift_tables);
  return encodeMessage(m, o, reference);
}

TEST(ContentTest, LongGsmTextBecomesSegmentsWithOneReference) {
  int draws = 0;
  auto out = encode(textInput(std::string(200, 'a')), fixedReference(0xA7, &draws));
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(draws, 1);
  EXPECT_STREQ(out->kind, "LongText");
  ASSERT_EQ(out->parts.size(), 2u);
  EXPECT_EQ(out->parts[0].udh, "050003A70201");
  EXPECT_EQ(out->parts[1].udh, "050003A70202");
  EXPECT_EQ(out->parts[0].data, encoding::PackGSMSeptetsToHex(std::string(153, 'a'), 6));
  EXPECT_EQ(out->parts[1].data, encoding::PackGSMSeptetsToHex(std::string(47, 'a'), 6));
  for (const Part& p : out->parts) EXPECT_TRUE(p.binary);
}

TEST(ContentTest, ShortTextStaysPlainAndDrawsNoReference) {
  int draws = 0;
  auto out = encode(textInput("hello\r\nthere"), fixedReference(1, &draws));
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(draws, 0);
  ASSERT_EQ(out->parts.size(), 1u);
  EXPECT_EQ(out->parts[0].data, "hello\r\nthere");
  EXPECT_FALSE(out->parts[0].binary);
  EXPECT_STREQ(out->kind, "Text");
}

TEST(ContentTest, CyrillicTextGoesAsUcs2SegmentsOf67) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "\xD0\x96";  // Zhe, 100 characters
  int draws = 0;
  auto out = encode(textInput(text), fixedReference(5, &draws));
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out->parts.size(), 2u);
  EXPECT_EQ(out->parts[0].data.size(), 67u * 4);
  EXPECT_EQ(out->parts[1].data.size(), 33u * 4);
  EXPECT_EQ(out->parts[0].data.substr(0, 8), "04160416");
  EXPECT_EQ(out->parts[0].dcs, 0x08);
  EXPECT_EQ(out->parts[1].udh, "050003050202");
}

TEST(ContentTest, TurkishTextUsesTheNationalTablesFromShiftTables) {
  const std::string text =
      "\xC5\x9F"
      "ekerli \xC3\xA7"
      "ay i\xC3\xA7"
      "tik \xC4\x9F\xC3\xBC"
      "zel";
  Message in = textInput(text);
  int draws = 0;
  // Urdu cannot carry it, Turkish can.
  auto out = encode(in, fixedReference(1, &draws), {13, 1});
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out->parts.size(), 1u);
  const Part& p = out->parts[0];
  EXPECT_TRUE(p.binary);
  EXPECT_TRUE(p.udh.find("240101") != std::string::npos ||
              p.udh.find("250101") != std::string::npos)
      << p.udh;
  EXPECT_EQ(encoding::GSM7ToUTF8String(p.udh, p.data), text);

  out = encode(in, fixedReference(1, &draws));  // without tables: UCS-2
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out->parts[0].dcs, 0x08);
}

TEST(ContentTest, BinaryContent) {
  struct Case {
    const char* text;
    const char* udh;
    bool binary;
    const char* want_data;  // nullptr: refused
    const char* want_error;
  };
  const std::string hello7 = encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString("hello"), 7);
  const Case cases[] = {
      {"0a0B", "", true, "0A0B", nullptr},
      {"hello", "0605040B8423F0", true, hello7.c_str(), nullptr},
      {"hello", "", true, nullptr,
       "Invalid format for Text/Data parameter when binary flag is set"},
      {"ABC", "", true, nullptr, "Invalid format for Text/Data parameter"},
      {"00", "05000X", true, nullptr,
       "Invalid format for UDH (hexadecimal digit characters only)."},
      {"hi", "050", false, nullptr, "Invalid format for UDH"},
  };
  for (const Case& c : cases) {
    Message in = textInput(c.text);
    in.content.udh = c.udh;
    in.content.binary = c.binary;
    auto error = validateMessage(in);
    if (c.want_error) {
      ASSERT_TRUE(error.has_value()) << c.text;
      EXPECT_EQ(error->text.rfind(c.want_error, 0), 0u) << error->text;
      continue;
    }
    EXPECT_FALSE(error.has_value()) << error->text;
    int draws = 0;
    auto out = encode(in, fixedReference(1, &draws));
    ASSERT_TRUE(out.ok());
    ASSERT_EQ(out->parts.size(), 1u);
    EXPECT_EQ(out->parts[0].data, c.want_data) << c.text;
    EXPECT_EQ(out->parts[0].udh, c.udh);
    EXPECT_TRUE(out->parts[0].binary);
  }
}

TEST(ContentTest, LongBinaryDataIsSplitByItsCoding) {
  Message in = textInput(std::string(2 * 200, 'F'));  // 200 octets
  in.content.binary = true;
  in.content.udh = "0605040B8423F0";
  int draws = 0;
  auto out = encode(in, fixedReference(9, &draws));
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out->parts.size(), 2u);
  // Port element kept after the concatenation element: 140 - 12 octets of room.
  EXPECT_EQ(out->parts[0].udh, "0B000309020105040B8423F0");
  EXPECT_EQ(out->parts[0].data.size(), 2u * 128);
}

TEST(ContentTest, SegmentsAreCappedAt100AndInboundStaysWhole) {
  int draws = 0;
  auto out = encode(textInput(std::string(153 * 120, 'b')), fixedReference(1, &draws));
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out->parts.size(), 100u);

  Message inbound = textInput(std::string(500, 'c'));
  inbound.target = Target::kInbound;
  out = encode(inbound, fixedReference(1, &draws));
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out->parts.size(), 1u);
  EXPECT_EQ(out->parts[0].data, std::string(500, 'c'));
}

TEST(ContentTest, Ucs2DataCodingAndPortHeaders) {
  const std::pair<uint8_t, uint8_t> codings[] = {
      {0x00, 0x08},
      {0x04, 0x08},
      {0x10, 0x18},
      {0x14, 0x18},
      {0x40, 0x48},
      {0x80, 0x08},
      {0xC0, 0x08},
      {0xE0, 0xE8},
      // The F0 group has no UCS-2 coding: the general group's, same class.
      {0xF0, 0x18},
      {0xF1, 0x19},
      {0xF3, 0x1B},
      {0xF4, 0x18},
      {0xF7, 0x1B},
  };
  for (auto [requested, want] : codings)
    EXPECT_EQ(ucs2Coding(requested), want) << std::hex << int(requested);

  Content c;
  c.destination_port = 0x0B84;
  c.source_port = 0x23F0;
  EXPECT_EQ(headerWithPorts(c), "0605040B8423F0");
  c.udh = "050003aa0201";
  c.source_port = 0;
  EXPECT_EQ(headerWithPorts(c), "0B0003AA020105040B840000");
}

TEST(ContentTest, BinaryDataWithoutACodingGetsBinaryDCS) {
  struct Case {
    const char* what;
    std::string data;
    const char* udh;
    std::optional<uint8_t> dcs;
    uint8_t want;
    size_t parts;
  };
  const Case cases[] = {
      {"data", "0102", "", std::nullopt, 0xF5, 1},
      {"data after a header", "0102", "0605040B8423F0", std::nullopt, 0xF5, 1},
      {"long data", std::string(2 * 200, 'A'), "", std::nullopt, 0xF5, 2},
      {"a coding asked for", "0102", "", 0xF6, 0xF6, 1},
      {"0 asked for", "0102", "", 0x00, 0x00, 1},
      {"a text after a header stays 7-bit", "hello", "0605040B8423F0", std::nullopt, 0x00, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Message m = textInput(c.data);
    m.content.binary = true;
    m.content.udh = c.udh;
    m.content.dcs = c.dcs;
    int draws = 0;
    auto out = encode(m, fixedReference(3, &draws));
    ASSERT_TRUE(out.ok()) << out.error().text;
    ASSERT_EQ(out->parts.size(), c.parts);
    for (const Part& p : out->parts) EXPECT_EQ(p.dcs, c.want);
  }
}

}  // namespace
}  // namespace vek::submit
