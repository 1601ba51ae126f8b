#include <gtest/gtest.h>

#include "encoding/septet_packing.h"
#include "encoding/shift_tables.h"
#include "encoding/utf8.h"
#include "modem/message_reference.h"
#include "modem/pdu_decode.h"
#include "modem/pdu_submit.h"
#include "modem/receipt_text.h"

namespace vek::modem {
namespace {

SubmitInput text(std::string to, std::string data) {
  SubmitInput in;
  in.recipient = std::move(to);
  in.data = std::move(data);
  return in;
}

TEST(SubmitPduTest, LayoutOfTheFields) {
  struct Case {
    const char* name;
    SubmitInput in;
    const char* want_hex;
    unsigned want_tpdu;
  };
  SubmitInput receipt = text("+441234", "Hi");
  receipt.status_report = true;
  receipt.validity = relativeValidity("2d");
  receipt.message_reference = 5;
  SubmitInput smsc = text("0701234", "@");
  smsc.smsc = "+46700000099";
  SubmitInput excluded = text("0701234", "@");
  excluded.exclude_smsc = true;
  SubmitInput binary = text("+4670", "0102");
  binary.binary = true;
  binary.dcs = 0xF5;
  binary.pid = 0x40;
  binary.udh = "0605040B8423F0";
  binary.reply_path = true;
  SubmitInput ucs2_text = text("123", "\xC3\xA9");
  ucs2_text.dcs = 0x08;
  const Case cases[] = {
      // No SMSC: "00"; SMS-SUBMIT with status report and relative validity:
      // 0x31; 2 days: 168.
      {"receipt and validity", receipt,
       "0031050691442143"
       "0000"
       "A8"
       "02C834",
       13},
      {"SMSC given", smsc,
       "07916407000090F9"
       "01000781701032F4"
       "0000"
       "0100",
       12},
      {"SMSC excluded", excluded,
       "01000781701032F4"
       "0000"
       "0100",
       12},
      {"binary with header and reply path", binary,
       "00"
       "C1"
       "00"
       "04"
       "91"
       "6407"
       "40"
       "F5"
       "09"
       "0605040B8423F00102",
       18},
      {"text with a UCS-2 DCS goes as UCS-2", ucs2_text,
       "0001000381"
       "21F3"
       "0008"
       "0200E9",
       11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto pdu = buildSubmitPdu(c.in);
    ASSERT_TRUE(pdu.ok()) << pdu.status().message();
    EXPECT_EQ(pdu->hex, c.want_hex);
    EXPECT_EQ(pdu->tpdu_octets, c.want_tpdu);
    if (c.in.exclude_smsc) {
      EXPECT_EQ(pdu->tpdu_octets * 2, pdu->hex.size());
    }
  }
}

TEST(SubmitPduTest, MessagesThatCanNeverGoOutAreRefused) {
  SubmitInput letters = text("+4670ABC", "x");
  SubmitInput empty = text("", "x");
  SubmitInput too_long = text("123", std::string(161, 'a'));
  SubmitInput bad_hex = text("123", "0G");
  bad_hex.binary = true;
  SubmitInput bad_udh = text("123", "00");
  bad_udh.binary = true;
  bad_udh.udh = "0500030102";  // announces 5 octets, holds 4
  SubmitInput long_binary = text("123", std::string(282, 'A'));
  long_binary.binary = true;
  long_binary.dcs = 0x04;
  for (const SubmitInput* in : {&letters, &empty, &too_long, &bad_hex, &bad_udh, &long_binary})
    EXPECT_FALSE(buildSubmitPdu(*in).ok()) << in->recipient << " " << in->data;
  EXPECT_TRUE(buildSubmitPdu(text("123", std::string(160, 'a'))).ok());
}

TEST(SubmitPduTest, SeptetCountOfPackedBinaryData) {
  struct Case {
    const char* name;
    std::string udh;
    std::string septets;  // packed after the header
    size_t want_udl;
  };
  const Case cases[] = {
      {"7 septets fill 7 octets minus a bit", "", "ABCDEFG", 7},
      {"8 septets fill 7 octets exactly", "", "ABCDEFGH", 8},
      {"8 septets, the last is '@'", "", std::string("ABCDEFG\0", 8),
       7},  // indistinguishable from fill
      {"header of 6 and 153 septets", "050003A70201", std::string(153, 'x'), 160},
      {"header of 6 and 152 septets", "050003A70201", std::string(152, 'x'), 159},
      {"Turkish header of 4", "03250101", "abc", 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SubmitInput in = text("123", encoding::PackGSMSeptetsToHex(c.septets, c.udh.size() / 2));
    in.binary = true;
    in.udh = c.udh;
    auto pdu = buildSubmitPdu(in);
    ASSERT_TRUE(pdu.ok());
    // UDL is the octet before the user data.
    const size_t ud_hex = c.udh.size() + in.data.size();
    const std::string udl = pdu->hex.substr(pdu->hex.size() - ud_hex - 2, 2);
    EXPECT_EQ(std::stoul(udl, nullptr, 16), c.want_udl);
  }
  // A header alone: its septets only, padded to whole octets.
  SubmitInput header_only = text("123", "");
  header_only.binary = true;
  header_only.udh = "050003A70201";
  auto pdu = buildSubmitPdu(header_only);
  ASSERT_TRUE(pdu.ok());
  EXPECT_EQ(pdu->hex.substr(pdu->hex.size() - 16), "07050003A7020100");
}

TEST(SubmitPduTest, ValidityBandsNeverShortenOrWrap) {
  struct Case {
    const char* text;
    int want;  // -1: none
  };
  const Case cases[] = {
      {"5m", 0},      {"6m", 1},     {"60m", 11},    {"1h", 11},   {"12h", 143},
      {"13h", 145},   {"24h", 167},  {"1d", 167},    {"25h", 168}, {"2d", 168},
      {"30d", 196},   {"31d", 197},  {"35d", 197},   {"36d", 198}, {"441d", 255},
      {"1000d", 255}, {"100h", 171}, {"1000m", 153}, {"0d", -1},   {"", -1},
      {"2w", -1},     {"d", -1},     {"-3h", -1},    {"2 D", 168}, {"99999999999999999999h", 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto v = relativeValidity(c.text);
    EXPECT_EQ(v ? *v : -1, c.want);
  }
}

TEST(MessageReferenceTest, CounterSkipsZeroAndKeysUseTheLastEightDigits) {
  uint8_t previous = nextMessageReference(false);
  for (int i = 0; i < 600; ++i) {
    const uint8_t r = nextMessageReference(false);
    EXPECT_NE(r, 0);
    EXPECT_EQ(r, previous == 255 ? 1 : previous + 1);
    previous = r;
  }
  EXPECT_EQ(nextMessageReference(true), 0);
  EXPECT_EQ(modemMessageKey(17, "+447700900123"), "11-00900123");
  EXPECT_EQ(modemMessageKey(17, "447700900123"), "11-00900123");
  EXPECT_EQ(modemMessageKey(255, "+1234"), "FF-1234");
  EXPECT_EQ(cmgsReference("+CMGS: 17\r\nOK"), 17);
  EXPECT_EQ(cmgsReference("+CMGS:255"), 255);
  EXPECT_EQ(cmgsReference("+CMGS: 0"), -1);
  EXPECT_EQ(cmgsReference("+CMGS: 256"), -1);
  EXPECT_EQ(cmgsReference("OK"), -1);
}

const char kDeliver[] =
    "07916407000090F9040B916407000000F10000622190312030001FC8329BFD0699E5EF36A8FD2697DBAD79BAC"
    "D02B5CBF379F85C06C500";

std::string statusReport(const char* sca, uint8_t status) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s06120B91%s62219031203000622190312035%s%02X", sca,
                swappedDigits("+46700900123").c_str(), "00", status);
  return buf;
}

TEST(ReceivedPduTest, DeliverAndStatusReportDecode) {
  auto d = decodeReceivedPdu(kDeliver);
  ASSERT_TRUE(d.ok()) << d.status().message();
  EXPECT_EQ(d->type, ReceivedPdu::Type::kDeliver);
  EXPECT_EQ(d->smsc, "+46700000099");
  EXPECT_EQ(d->sender, "+46700000001");
  EXPECT_EQ(d->data, "Hello from modem-sim, message 1");
  EXPECT_FALSE(d->binary);
  EXPECT_EQ(d->service_centre_time.year, 26);
  EXPECT_EQ(d->service_centre_time.second, 3);

  // With and without the service centre part (modems that leave it out of
  // +CDS; found by the implausible address when not told).
  for (const char* sca : {"07916407000090F9", ""}) {
    SCOPED_TRACE(sca);
    DecodeOptions o;
    o.has_smsc = *sca != 0;
    for (const DecodeOptions& opt : {o, DecodeOptions{}}) {
      auto sr = decodeReceivedPdu(statusReport(sca, 0x46), opt);
      ASSERT_TRUE(sr.ok()) << sr.status().message();
      EXPECT_EQ(sr->type, ReceivedPdu::Type::kStatusReport);
      EXPECT_EQ(sr->message_reference, 0x12);
      EXPECT_EQ(sr->recipient, "+46700900123");
      EXPECT_EQ(sr->status, 0x46);
      EXPECT_EQ(sr->discharge_time.second, 53);
    }
  }
  DecodeOptions no_check;
  no_check.check_status_report_smsc = false;
  EXPECT_FALSE(decodeReceivedPdu(statusReport("", 0), no_check).ok());
}

TEST(ReceivedPduTest, AlphanumericSenderNationalTablesAndBinaryData) {
  // Sender "Bank" (alphanumeric, 7-bit packed), header announcing the
  // Turkish locking shift, text in that table.
  std::string septets;
  ASSERT_NE(encoding::UTF8ToShiftTableString(1, "\xC4\x9F\xC5\x9F", &septets), 0);
  const std::string ud = "03250101" + encoding::PackGSMSeptetsToHex(septets, 4);
  char udl[3];
  std::snprintf(udl, sizeof udl, "%02X", static_cast<unsigned>(5 + septets.size()));
  const std::string alpha =
      "00"
      "44"
      "07D0" +
      encoding::PackGSMSeptetsToHex("Bank", 0) + "0000" + "62219031203000" + udl + ud;
  auto a = decodeReceivedPdu(alpha);
  ASSERT_TRUE(a.ok()) << a.status().message();
  EXPECT_EQ(a->sender, "Bank");
  EXPECT_EQ(a->udh, "03250101");
  EXPECT_EQ(a->data, "\xC4\x9F\xC5\x9F");

  // UCS-2 and 8-bit data stay hexadecimal.
  const std::string ucs2 =
      "00"
      "04"
      "0381"
      "21F3"
      "0008"
      "62219031203000"
      "04"
      "00E90041";
  auto u = decodeReceivedPdu(ucs2);
  ASSERT_TRUE(u.ok());
  EXPECT_TRUE(u->binary);
  EXPECT_EQ(u->sender, "123");
  EXPECT_EQ(u->data, "00E90041");
  EXPECT_EQ(encoding::UCS2HexToUTF8(u->data),
            "\xC3\xA9"
            "A");
}

TEST(ReceivedPduTest, LengthsThatLieAreRefused) {
  const std::string good = kDeliver;
  struct Case {
    const char* name;
    std::string hex;
  };
  // The user data length sits after the service centre (8 octets), first
  // octet, sender (8), PID, DCS and time stamp (7): at hex offset 52.
  ASSERT_EQ(good.substr(52, 2), "1F");
  std::string long_udl = good;
  long_udl.replace(52, 2, "FF");  // beyond 160 septets
  std::string more_udl = good;
  more_udl.replace(52, 2, "30");  // 48 septets, 28 octets present
  const Case cases[] = {
      {"odd digit count", good.substr(1)},
      {"not hexadecimal", "0791640700009XF9"},
      {"empty", ""},
      {"service centre longer than the PDU", "0C91640700"},
      {"cut in the address", good.substr(0, 24)},
      {"cut in the time stamp", good.substr(0, 44)},
      {"user data length too long", long_udl},
      {"user data length beyond the data", more_udl},
      {"header longer than the user data",
       "00"
       "44"
       "0381"
       "21F3"
       "0004"
       "62219031203000"
       "02"
       "0500"},
      {"submit type", "0001000381214300000100"},
      {"longer than any PDU", std::string(2000, '0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(decodeReceivedPdu(c.hex).ok());
  }
  EXPECT_EQ(tpduOctets(good), static_cast<int>(good.size() / 2 - 8));
  EXPECT_EQ(tpduOctets("0C9164"), -1);
}

TEST(ReceiptTextTest, StatusKindsAndTexts) {
  EXPECT_EQ(receiptKind(0x00), ReceiptKind::kDelivered);
  EXPECT_EQ(receiptKind(0x02), ReceiptKind::kDelivered);
  EXPECT_EQ(receiptKind(0x21), ReceiptKind::kTemporary);
  EXPECT_EQ(receiptKind(0x3F), ReceiptKind::kTemporary);
  EXPECT_EQ(receiptKind(0x03), ReceiptKind::kFailed);
  EXPECT_EQ(receiptKind(0x46), ReceiptKind::kFailed);
  EXPECT_EQ(statusMeaning(0x30), "(Temp Error: Unknown error)");
  EXPECT_EQ(statusMeaning(0x99), "(Error: Message not Delivered)");

  auto sr = decodeReceivedPdu(statusReport("07916407000090F9", 0x46));
  ASSERT_TRUE(sr.ok());
  EXPECT_EQ(receiptText(*sr, "0000ABCD", false),
            "id:0000ABCD sub:001 dlvrd:000 submit date:2612091302 done date:2612091302 "
            "stat:REJECTD err:046");
  EXPECT_EQ(receiptText(*sr, "x", true),
            "Report: +46700900123 SMSC: +46700000099 Submitted: 2026-12-09 13:02:03 +0000 "
            "Reported: 2026-12-09 13:02:53 +0000 Status: 46 (Error: Message Expired)");
}

}  // namespace
}  // namespace vek::modem
