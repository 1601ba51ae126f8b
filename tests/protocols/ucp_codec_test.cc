// The UCP/EMI frame codec and the mapping of messages onto 51, 52 and 53.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/byte_io.h"
#include "platform/clock.h"
#include "protocols/ucp/frame.h"
#include "protocols/ucp/message.h"

namespace vek::ucp {
namespace {

namespace flag = protocols::flag;
using protocols::InboundMessage;
using protocols::OutboundMessage;

std::string inner(const std::string& frame) {
  return frame.substr(1, frame.size() - 2);
}

TEST(UcpCodecTest, FramesCarryLengthAndChecksum) {
  std::string f = buildFrame(2, false, ot::kAlert, {"0234765439845", "0539"});
  EXPECT_EQ(f,
            "\x02"
            "02/00035/O/31/0234765439845/0539/A4\x03");
  EXPECT_EQ(buildAck(7, ot::kSubmit, "0612345678:130399121500"),
            "\x02"
            "07/00043/R/51/A//0612345678:130399121500/" +
                checksum("07/00043/R/51/A//0612345678:130399121500/") + "\x03");
  EXPECT_EQ(inner(buildNack(99, ot::kSession, 7)).substr(0, 20), "99/00022/R/60/N/07//");
  Frame back;
  ASSERT_EQ(parseFrame(inner(f), &back), FrameFault::kNone);
  EXPECT_EQ(back.trn, 2);
  EXPECT_FALSE(back.result);
  EXPECT_EQ(back.ot, 31);
  EXPECT_EQ(back.fields, (std::vector<std::string>{"0234765439845", "0539"}));
  // A 5x operation keeps all 33 positions, empty ones included.
  std::vector<std::string> fields(kFields5x);
  fields[kAdC] = "123";
  fields[kXSer] = "020108";
  ASSERT_EQ(parseFrame(inner(buildFrame(0, false, ot::kSubmit, fields)), &back), FrameFault::kNone);
  EXPECT_EQ(back.fields, fields);
}

TEST(UcpCodecTest, BrokenFramesAreNamedAndKeepTheirHeader) {
  std::string good = inner(buildFrame(5, false, ot::kAlert, {"1234", "0539"}));
  std::string bad_sum = good;
  bad_sum[bad_sum.size() - 1] = bad_sum.back() == '0' ? '1' : '0';
  std::string long_len = good;
  long_len.replace(3, 5, "00099");
  long_len.replace(long_len.size() - 2, 2, checksum(long_len.substr(0, long_len.size() - 2)));
  std::string control = good;
  control[15] = '\x01';
  control.replace(control.size() - 2, 2, checksum(control.substr(0, control.size() - 2)));
  const std::tuple<const char*, std::string, FrameFault, int> cases[] = {
      {"wrong checksum", bad_sum, FrameFault::kChecksum, 31},
      {"length that lies", long_len, FrameFault::kLength, 31},
      {"control character in a field", control, FrameFault::kSyntax, 31},
      {"letters for the TRN", "AB" + good.substr(2), FrameFault::kSyntax, -1},
      {"no checksum", good.substr(0, good.size() - 2), FrameFault::kSyntax, 31},
      {"too short", "05/00010/O/", FrameFault::kSyntax, -1},
      {"neither O nor R", good.substr(0, 9) + "X" + good.substr(10), FrameFault::kSyntax, -1},
  };
  for (const auto& [name, text, want, want_ot] : cases) {
    SCOPED_TRACE(name);
    Frame f;
    EXPECT_EQ(parseFrame(text, &f), want);
    EXPECT_EQ(f.ot, want_ot);
  }
}

TEST(UcpCodecTest, AlphanumericSendersArePackedSeptetsBehindTheirLength) {
  EXPECT_EQ(packAlphanumeric("ALPHA@NUM"), "10412614190438AB4D");
  EXPECT_EQ(packAlphanumeric("ALPHA"), "094126141904");
  EXPECT_EQ(packAlphanumeric("TwelveChars!"), "");  // more than 11
  for (const char* text : {"ALPHA@NUM", "Shop", "Ab\xC3\xA9_12345"}) {
    std::string back;
    ASSERT_TRUE(unpackAlphanumeric(packAlphanumeric(text), &back)) << text;
    EXPECT_EQ(back, text);
  }
  std::string out;
  EXPECT_FALSE(unpackAlphanumeric("10412614", &out));  // fewer octets than the length says
  EXPECT_FALSE(unpackAlphanumeric("zz", &out));
}

TEST(UcpCodecTest, OutboundMessagesMapOntoTheSubmitFields) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  platform::FakeClock clock(platform::fromUnix(1767268800));  // 2026-01-01 12:00 UTC
  platform::ScopedClock scoped(&clock);
  struct Case {
    const char* name;
    OutboundMessage m;
    std::vector<std::pair<Field5x, std::string>> want;
  };
  const Case cases[] = {
      {"Latin-1 text as IRA",
       {"+4670111", "+4670222", 0, 0, "",
        "Gr\xC3\xBC\xC3\x9F"
        "e [x]",
        0, false, ""},
       {{kAdC, "004670222"},
        {kOAdC, "4670111"},
        {kOTOA, "1139"},
        {kMT, "3"},
        {kMsg, "4772FCDF65205B785D"},
        {kXSer, ""},
        {kNB, ""}}},
      {"euro needs the GSM septets",
       {"1234", "4670222", 0, 0, "", "5\xE2\x82\xAC", 0, false, ""},
       {{kOAdC, "1234"}, {kOTOA, ""}, {kMT, "4"}, {kNB, "21"}, {kMsg, "B54D19"}}},
      {"UCS-2 with its DCS",
       {"Shop", "4670222", 0, 8, "", "\xD0\x96", 0, false, ""},
       {{kOAdC, "0753F41B0E"},
        {kOTOA, "5039"},
        {kMT, "4"},
        {kNB, "16"},
        {kMsg, "0416"},
        {kXSer, "020108"}}},
      {"8-bit data with a header",
       {"", "4670222", 0, 0xF5, "06050415820000", "DEADBEEF", 0, true, ""},
       {{kMT, "4"},
        {kNB, "32"},
        {kMsg, "DEADBEEF"},
        {kDCs, "1"},
        {kXSer,
         "010706050415820000"
         "0201F5"}}},
      {"packed 7-bit segment after a header",
       {"", "4670222", 0, 0, "050003010201", "C2", 0, true, ""},
       {{kMT, "3"}, {kMsg, "61"}, {kXSer, "0106050003010201"}}},
      {"receipt, validity, billing, PID, reply path",
       {"1", "4670222", 0x41, 0, "", "x", flag::kReceiptRequested | flag::kReplyRequested, false,
        "Validity=2h; BillingInfo=AB; OurMsgId=Q1; LocalUser=u"},
       {{kNRq, "1"},
        {kNT, "3"},
        {kNPID, "0539"},
        {kVP, "0101261400"},
        {kRPID, "0065"},
        {kRPLy, "1"},
        {kXSer, "0C024142"}}},
      {"a validity beyond what a centre keeps is cut at 63 weeks",
       {"1", "4670222", 0, 0, "", "x", 0, false, "Validity=999999d"},
       {{kVP, "1803271200"}}},
      {"non-delivery receipt only, absolute validity",
       {"1", "4670222", 0, 0, "", "x", flag::kNonDeliveryReceiptRequested, false,
        "Validity=20260305081500"},
       {{kNRq, "1"}, {kNT, "2"}, {kVP, "0503260815"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> f;
    std::string why;
    ASSERT_EQ(buildSubmitFields(c.m, &f, &why), 0u) << why;
    ASSERT_EQ(f.size(), kFields5x);
    for (const auto& [field, value] : c.want) EXPECT_EQ(f[field], value) << "field " << field;
  }
  ::unsetenv("TZ");
  ::tzset();
}

TEST(UcpCodecTest, MessagesTheCentreCannotTakeAreRefusedBeforeSending) {
  const std::tuple<const char*, OutboundMessage, uint32_t> cases[] = {
      {"letters for a recipient", {"1", "shop", 0, 0, "", "x", 0, false, ""}, ec::kAdCInvalid},
      {"NUL in the recipient",
       {"1",
        std::string("46\0"
                    "7",
                    4),
        0, 0, "", "x", 0, false, ""},
       ec::kAdCInvalid},
      {"17 digits", {"1", std::string(17, '4'), 0, 0, "", "x", 0, false, ""}, ec::kAdCInvalid},
      {"alphanumeric sender of 12",
       {"TwelveChars!", "46", 0, 0, "", "x", 0, false, ""},
       ec::kSyntax},
      {"NUL in the sender",
       {std::string("Sh\0p", 4), "46", 0, 0, "", "x", 0, false, ""},
       ec::kSyntax},
      {"data not hex", {"1", "46", 0, 4, "", "XYZ", 0, true, ""}, ec::kSyntax},
      {"header not hex", {"1", "46", 0, 0, "0G", "x", 0, false, ""}, ec::kSyntax},
      {"larger than a frame can say",
       {"1", "46", 0, 4, "", std::string(100000, 'A'), 0, true, ""},
       ec::kTooLong},
  };
  for (const auto& [name, m, want] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::string> f;
    std::string why;
    EXPECT_EQ(buildSubmitFields(m, &f, &why), want);
    EXPECT_FALSE(why.empty());
  }
}

TEST(UcpCodecTest, ReceivedMessagesAndNotificationsReadBack) {
  auto fields = [](std::vector<std::pair<Field5x, std::string>> set) {
    std::vector<std::string> f(kFields5x);
    for (auto& [k, v] : set) f[k] = v;
    return f;
  };
  struct Case {
    const char* name;
    int op;
    std::vector<std::string> f;
    InboundMessage want;
  };
  const Case cases[] = {
      {"Latin-1 text",
       ot::kDeliver,
       fields({{kAdC, "1234"}, {kOAdC, "46700000001"}, {kMT, "3"}, {kMsg, "48E9"}}),
       {"L", "46700000001", "1234", 0, 0, "", "H\xC3\xA9", 0, 0, "", ""}},
      {"GSM codes with an escape",
       ot::kDeliver,
       fields({{kAdC, "1234"}, {kOAdC, "4670"}, {kMT, "3"}, {kMsg, "1B65203C"}}),
       {"L", "4670", "1234", 0, 0, "", "\xE2\x82\xAC <", 0, 0, "", ""}},
      {"UCS-2 from an alphanumeric sender",
       ot::kDeliver,
       fields({{kAdC, "1234"},
               {kOAdC, "094126141904"},
               {kOTOA, "5039"},
               {kMT, "4"},
               {kNB, "16"},
               {kMsg, "0416"},
               {kXSer, "020108"},
               {kRPLy, "1"}}),
       {"L", "ALPHA", "1234", 0, 8, "", "0416", flag::kReplyRequested, 1, "", ""}},
      {"binary with a port header",
       ot::kDeliver,
       fields({{kAdC, "1234"},
               {kOAdC, "4670"},
               {kOTOA, "1139"},
               {kMT, "4"},
               {kNB, "16"},
               {kMsg, "DEAD"},
               {kXSer,
                "010706050415820000"
                "0201F5"},
               {kRPID, "0127"}}),
       {"L", "+4670", "1234", 127, 0xF5, "06050415820000", "DEAD", 0, 1, "", ""}},
      {"packed septets",
       ot::kDeliver,
       fields({{kAdC, "1"}, {kOAdC, "2"}, {kMT, "4"}, {kNB, "21"}, {kMsg, "B54D19"}}),
       {"L", "2", "1", 0, 0, "", "5\xE2\x82\xAC", 0, 0, "", ""}},
      {"delivered notification",
       ot::kNotification,
       fields({{kAdC, "4670111"},
               {kOAdC, "004670222"},
               {kSCTS, "010126120000"},
               {kDst, "0"},
               {kRsn, "000"},
               {kDSCTS, "010126120105"},
               {kMT, "3"},
               {kMsg, "4F4B"}}),
       {"L", "004670222", "4670111", 0, 0, "",
        "id:004670222:010126120000 sub:001 dlvrd:001 submit date:2601011200 done date:2601011201 "
        "stat:DELIVRD err:000 text:",
        flag::kIsReceipt | flag::kDelivered, 0, "004670222:010126120000",
        "ReceiptMsgIdOrig=004670222:010126120000"}},
      {"not delivered",
       ot::kNotification,
       fields({{kAdC, "1"},
               {kOAdC, "2"},
               {kSCTS, "010126120000"},
               {kDst, "2"},
               {kRsn, "107"},
               {kMT, "3"},
               {kMsg, ""}}),
       {"L", "2", "1", 0, 0, "",
        "id:2:010126120000 sub:001 dlvrd:000 submit date:2601011200 done date: stat:UNDELIV "
        "err:107 text:",
        flag::kIsReceipt | flag::kFailed, 0, "2:010126120000", "ReceiptMsgIdOrig=2:010126120000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InboundMessage m;
    std::string why;
    ASSERT_TRUE(inboundFromFields(c.op, c.f, "L", &m, &why)) << why;
    EXPECT_EQ(m.sender, c.want.sender);
    EXPECT_EQ(m.recipient, c.want.recipient);
    EXPECT_EQ(m.pid, c.want.pid);
    EXPECT_EQ(m.dcs, c.want.dcs);
    EXPECT_EQ(m.udh, c.want.udh);
    EXPECT_EQ(m.data, c.want.data);
    EXPECT_EQ(m.flags, c.want.flags);
    EXPECT_EQ(m.type, c.want.type);
    EXPECT_EQ(m.smsc_message_id, c.want.smsc_message_id);
    EXPECT_EQ(m.extra, c.want.extra);
  }
  const std::pair<const char*, std::vector<std::string>> bad[] = {
      {"XSer cut short", fields({{kMT, "3"}, {kXSer, "0107AB"}})},
      {"message not hex", fields({{kMT, "3"}, {kMsg, "4G"}})},
      {"alphanumeric sender too short", fields({{kOTOA, "5039"}, {kOAdC, "10AB"}, {kMT, "3"}})},
      {"unknown message type", fields({{kMT, "7"}})},
      {"RPID out of range", fields({{kMT, "3"}, {kRPID, "0999"}})},
  };
  for (const auto& [name, f] : bad) {
    SCOPED_TRACE(name);
    InboundMessage m;
    std::string why;
    EXPECT_FALSE(inboundFromFields(ot::kDeliver, f, "L", &m, &why));
    EXPECT_FALSE(why.empty());
  }
}

}  // namespace
}  // namespace vek::ucp
