// The CIMD2 packet codec, the character conversion and the mapping of
// messages onto submit, deliver message and deliver status report.
#include <gtest/gtest.h>

#include <cstdlib>

#include "encoding/gsm_alphabet.h"
#include "platform/clock.h"
#include "protocols/cimd/message.h"
#include "protocols/cimd/packet.h"
#include "protocols/cimd/text.h"

namespace vek::cimd {
namespace {

namespace flag = protocols::flag;
using protocols::InboundMessage;
using protocols::OutboundMessage;

std::string inner(const std::string& packet) {
  return packet.substr(1, packet.size() - 2);
}

TEST(CimdCodecTest, PacketsCarryNumbersParametersAndChecksum) {
  std::string p =
      buildPacket(op::kLogin, 1, {{param::kUserIdentity, "foo"}, {param::kPassword, "bar"}});
  EXPECT_EQ(p,
            "\x02"
            "01:001\t010:foo\t011:bar\t" +
                checksum("\x02"
                         "01:001\t010:foo\t011:bar\t") +
                "\x03");
  Packet back;
  ASSERT_EQ(parsePacket(inner(p), &back), PacketFault::kNone);
  EXPECT_EQ(back.op, 1);
  EXPECT_EQ(back.number, 1);
  EXPECT_TRUE(back.has_checksum);
  ASSERT_NE(back.get(param::kPassword), nullptr);
  EXPECT_EQ(*back.get(param::kPassword), "bar");
  // Without a checksum, a repeated parameter, an empty value.
  ASSERT_EQ(parsePacket("53:003\t021:1\t021:2\t060:\t", &back), PacketFault::kNone);
  EXPECT_FALSE(back.has_checksum);
  EXPECT_EQ(back.count(param::kDestination), 2u);
  EXPECT_EQ(*back.get(param::kScts), "");
  std::string bad_sum = inner(p);
  bad_sum.back() = bad_sum.back() == '0' ? '1' : '0';
  const std::tuple<const char*, std::string, PacketFault, int> faults[] = {
      {"wrong checksum", bad_sum, PacketFault::kChecksum, 1},
      {"no TAB after the header", "01:001", PacketFault::kSyntax, -1},
      {"letters for the number", "01:0x1\t", PacketFault::kSyntax, -1},
      {"number above 255", "01:300\t", PacketFault::kSyntax, 1},
      {"parameter without its colon", "03:001\t021\t", PacketFault::kSyntax, 3},
      {"three characters after the last TAB", "03:001\t021:1\tABC", PacketFault::kSyntax, 3},
  };
  for (const auto& [name, text, want, want_op] : faults) {
    SCOPED_TRACE(name);
    Packet f;
    EXPECT_EQ(parsePacket(text, &f), want);
    EXPECT_EQ(f.op, want_op);
  }
}

TEST(CimdCodecTest, UserDataUsesTheSpecialCombinations) {
  const std::pair<const char*, const char*> cases[] = {
      {"Hello [x] \xC3\xA9\xE2\x82\xAC", "Hello _XX<x_XX> _e'_XXe"},
      {"a_b \xC2\xA3 \xCE\x94", "a_--b _L- _gd"},
      {"^|\\{}~", "_XX_gl_XX_!!_XX/_XX(_XX)_XX="},
      {"@$ \"#%&'()*+,-./09:;<=>?AZaz", "@$ \"#%&'()*+,-./09:;<=>?AZaz"},
      {"\xC3\x84\xC3\x96\xC3\x91\xC3\x9C\xC2\xA7\xC2\xBF\xC3\xA4\xC3\xB6\xC3\xB1\xC3\xBC\xC3\xA0",
       "_A\"_O\"_N~_U\"_so_??_a\"_o\"_n~_u\"_a`"},
      {"line\r\nbreak", "line\r\nbreak"},
  };
  for (const auto& [text, wire] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(septetsToUserData(encoding::UTF8ToGSMString(text)), wire);
    EXPECT_EQ(userDataToText(wire), text);
  }
  // What centres also send: "_a0" for '@', raw ISO 8859-1, a stray '_'.
  EXPECT_EQ(userDataToText("_a0 \xE9[ _z"), "@ \xC3\xA9[ _z");
  EXPECT_EQ(userDataToText("end_XX"), "end");
}

TEST(CimdCodecTest, RelativeValidityTakesTheShortestPeriodLongEnough) {
  const std::pair<int64_t, int> cases[] = {{1, 0},       {5, 0},         {6, 1},       {60, 11},
                                           {720, 143},   {721, 144},     {750, 144},   {1440, 167},
                                           {1441, 168},  {2880, 168},    {43200, 196}, {43201, 197},
                                           {50000, 197}, {10000000, 255}};
  for (auto [minutes, code] : cases) EXPECT_EQ(relativeValidityCode(minutes), code) << minutes;
}

TEST(CimdCodecTest, OutboundMessagesMapOntoSubmitParameters) {
  auto text = [](const Params& p) {
    std::string out;
    for (const auto& [c, v] : p) out += std::to_string(c) + "=" + v + ";";
    return out;
  };
  const std::pair<OutboundMessage, const char*> cases[] = {
      {{"+4670111", "+4670222", 0, 0, "", "Hi \xE2\x82\xAC", flag::kReceiptRequested, false,
        "Validity=2h; LocalUser=x"},
       "21=+4670222;23=+4670111;33=Hi _XXe;50=23;56=62;"},
      {{"Shop", "4670222", 0x41, 8, "", "\xD0\x96", flag::kReplyRequested, false,
        "Validity=20301231235900"},
       "21=4670222;27=Shop;30=8;34=0416;51=301231235900;52=65;55=1;"},
      {{"", "4670222", 0, 0xF5, "06050415820000", "DEAD", flag::kNonDeliveryReceiptRequested, true,
        ""},
       "21=4670222;30=245;32=06050415820000;34=DEAD;56=54;"},
      {{"1", "4670222", 0, 0, "050003010201", "C2", 0, true, ""},
       "21=4670222;23=1;32=050003010201;33=a;"},
      {{"\xC3\x85"
        "ke_1",
        "4670222", 0, 0xF0, "", "flash", 0, false, ""},
       "21=4670222;27=_A*ke_--1;30=240;33=flash;"},
  };
  for (const auto& [m, want] : cases) {
    SCOPED_TRACE(want);
    Params p;
    std::string why;
    ASSERT_EQ(buildSubmitParams(m, &p, &why), 0u) << why;
    EXPECT_EQ(text(p), want);
  }
  const std::tuple<const char*, OutboundMessage, uint32_t> refused[] = {
      {"letters for a recipient", {"1", "shop", 0, 0, "", "x", 0, false, ""}, ec::kDestination},
      {"TAB in the recipient", {"1", "46\t7", 0, 0, "", "x", 0, false, ""}, ec::kDestination},
      {"21 digits", {"1", std::string(21, '4'), 0, 0, "", "x", 0, false, ""}, ec::kDestination},
      {"alphanumeric sender of 12",
       {"TwelveChars!", "46", 0, 0, "", "x", 0, false, ""},
       ec::kAlphaOriginator},
      {"TAB in the sender", {"Sh\tp", "46", 0, 0, "", "x", 0, false, ""}, ec::kOriginator},
      {"data not hex", {"1", "46", 0, 4, "", "XYZ", 0, true, ""}, ec::kUserData},
  };
  for (const auto& [name, m, want] : refused) {
    SCOPED_TRACE(name);
    Params p;
    std::string why;
    EXPECT_EQ(buildSubmitParams(m, &p, &why), want);
    EXPECT_FALSE(why.empty());
  }
}

TEST(CimdCodecTest, ReceivedMessagesAndStatusReportsReadBack) {
  struct Case {
    const char* name;
    Packet p;
    InboundMessage want;
  };
  const Case cases[] = {
      {"text",
       {op::kDeliverMessage,
        2,
        {{21, "1234"}, {23, "4670"}, {33, "Hi _XXe"}, {60, "260101120000"}}},
       {"L", "4670", "1234", 0, 0, "", "Hi \xE2\x82\xAC", 0, 0, "", ""}},
      {"binary with a port header from an alphanumeric sender",
       {op::kDeliverMessage,
        4,
        {{21, "1234"},
         {27, "Shop"},
         {30, "245"},
         {32, "06050415820000"},
         {34, "DEAD"},
         {52, "127"},
         {55, "1"}}},
       {"L", "Shop", "1234", 127, 0xF5, "06050415820000", "DEAD", flag::kReplyRequested, 1, "",
        ""}},
      {"delivered",
       {op::kDeliverStatusReport,
        6,
        {{21, "4670222"}, {60, "260101120000"}, {61, "4"}, {63, "260101120105"}}},
       {"L", "4670222", "", 0, 0, "",
        "id:4670222:260101120000 sub:001 dlvrd:001 submit date:2601011200 done date:2601011201 "
        "stat:DELIVRD err:000 text:",
        flag::kIsReceipt | flag::kDelivered, 0, "4670222:260101120000",
        "ReceiptMsgIdOrig=4670222:260101120000"}},
      {"failed with its error",
       {op::kDeliverStatusReport, 8, {{21, "1"}, {60, "260101120000"}, {61, "3"}, {62, "1"}}},
       {"L", "1", "", 0, 0, "",
        "id:1:260101120000 sub:001 dlvrd:000 submit date:2601011200 done date: stat:UNDELIV "
        "err:001 text:",
        flag::kIsReceipt | flag::kFailed, 0, "1:260101120000", "ReceiptMsgIdOrig=1:260101120000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InboundMessage m;
    std::string why;
    ASSERT_EQ(inboundFromPacket(c.p, "L", &m, &why), 0u) << why;
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
  const std::tuple<const char*, Packet, uint32_t> bad[] = {
      {"text and binary",
       {op::kDeliverMessage, 2, {{33, "a"}, {34, "00"}}},
       ec::kUserDataCombination},
      {"DCS out of range", {op::kDeliverMessage, 2, {{30, "999"}, {33, "a"}}}, ec::kSyntax},
      {"binary not hex", {op::kDeliverMessage, 2, {{30, "4"}, {34, "0G"}}}, ec::kUserData},
      {"report without status",
       {op::kDeliverStatusReport, 2, {{21, "1"}, {60, "2601"}}},
       ec::kSyntax},
  };
  for (const auto& [name, p, want] : bad) {
    SCOPED_TRACE(name);
    InboundMessage m;
    std::string why;
    EXPECT_EQ(inboundFromPacket(p, "L", &m, &why), want);
    EXPECT_FALSE(why.empty());
  }
}

}  // namespace
}  // namespace vek::cimd
