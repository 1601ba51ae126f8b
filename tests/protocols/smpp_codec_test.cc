// The PDU codec, the text conversions and the message mapping on their own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "hostlib/host.h"
#include "platform/byte_io.h"
#include "protocols/message_text.h"
#include "protocols/smpp/message.h"
#include "protocols/smpp/pdu.h"
#include "protocols/smpp/receipt.h"
#include "protocols/smpp/tlv.h"
#include "support/test_support.h"

namespace vek::smpp {
namespace {

std::string encode(const Pdu& p, bool tlvs = true) {
  platform::ByteWriter w;
  encodePdu(p, &w, tlvs);
  return w.str();
}

uint32_t decode(const std::string& bytes, Pdu* p) {
  return decodePdu(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), p);
}

std::string hex(std::string h) {
  std::erase(h, ' ');
  std::string out;
  EXPECT_TRUE(platform::fromHex(h, &out)) << h;
  return out;
}

TEST(SmppCodecTest, EncodesTheStandardLayout) {
  Pdu p;
  p.command_id = cmd::kSubmitSm;
  p.sequence = 5;
  p.source = {1, 1, "123"};
  p.destination = {1, 1, "456"};
  p.registered_delivery = 1;
  p.short_message = "Hi";
  EXPECT_EQ(platform::toHex(encode(p)),
            "00000029000000040000000000000005"
            "00"
            "010131323300"
            "010134353600"
            "000000"
            "00"
            "00"
            "01000000"
            "024869");
  Pdu nack = makeResponse(p, status::kThrottled);
  EXPECT_EQ(platform::toHex(encode(nack)),
            "00000010800000040000005800000005");  // an error answer has no body
}

TEST(SmppCodecTest, EveryCommandSurvivesARoundTrip) {
  std::vector<Pdu> pdus;
  auto add = [&](uint32_t id) -> Pdu& {
    pdus.emplace_back();
    pdus.back().command_id = id;
    pdus.back().sequence = static_cast<uint32_t>(pdus.size());
    return pdus.back();
  };
  Pdu& bind = add(cmd::kBindTransceiver);
  bind.system_id = "fifteen_chars__";
  bind.password = "eight_ch";
  bind.system_type = "twelve_chars";
  bind.interface_version = 0x34;
  bind.address_range = {1, 1, "^4670"};
  add(cmd::kBindReceiverResp).system_id = "SMSC";
  add(cmd::kBindTransmitterResp).addTlv(tag::kScInterfaceVersion, "\x34");
  Pdu& outbind = add(cmd::kOutbind);
  outbind.system_id = "x";
  outbind.password = "y";
  Pdu& sm = add(cmd::kSubmitSm);
  sm.service_type = "WAP";
  sm.source = {5, 0, "Shop"};
  sm.destination = {1, 1, "46701234567"};
  sm.esm_class = 0x40;
  sm.validity_period = "000001000000000R";
  sm.schedule_delivery_time = "261231235959004+";
  sm.data_coding = 8;
  sm.short_message = std::string(254, 'z');
  sm.addTlv(0x1401, "vendor");
  Pdu& dsm = add(cmd::kDeliverSm);
  dsm.esm_class = 0x04;
  dsm.addTlv(tag::kReceiptedMessageId, std::string("abc\0", 4));
  dsm.addTlv(tag::kMessageState, "\x02");
  add(cmd::kSubmitSmResp).message_id = std::string(64, '9');
  add(cmd::kDeliverSmResp);
  Pdu& multi = add(cmd::kSubmitMulti);
  multi.dests = {{1, {1, 1, "111"}, ""}, {2, {}, "friends"}};
  multi.short_message = "to many";
  Pdu& multi_resp = add(cmd::kSubmitMultiResp);
  multi_resp.message_id = "m1";
  multi_resp.unsuccess = {{{1, 1, "111"}, status::kInvDstAdr}};
  Pdu& data = add(cmd::kDataSm);
  data.source = {0, 0, std::string(64, 's')};
  data.destination = {0, 0, "d"};
  data.addTlv(tag::kMessagePayload, std::string(3000, 'p'));
  add(cmd::kDataSmResp).message_id = "d1";
  Pdu& query = add(cmd::kQuerySm);
  query.message_id = "q";
  query.source = {1, 1, "1"};
  Pdu& query_resp = add(cmd::kQuerySmResp);
  query_resp.final_date = "260101000000000+";
  query_resp.message_state = state::kDelivered;
  Pdu& cancel = add(cmd::kCancelSm);
  cancel.message_id = "c";
  Pdu& replace = add(cmd::kReplaceSm);
  replace.message_id = "r";
  replace.short_message = "new";
  Pdu& alert = add(cmd::kAlertNotification);
  alert.esme = {1, 1, "99"};
  alert.addTlv(0x0422, "\x01");
  for (uint32_t id : {cmd::kGenericNack, cmd::kUnbind, cmd::kUnbindResp, cmd::kEnquireLink,
                      cmd::kEnquireLinkResp, cmd::kCancelSmResp, cmd::kReplaceSmResp})
    add(id);
  for (const Pdu& p : pdus) {
    SCOPED_TRACE(commandName(p.command_id));
    std::string bytes = encode(p);
    Pdu back;
    ASSERT_EQ(decode(bytes, &back), 0u);
    EXPECT_EQ(back.command_id, p.command_id);
    EXPECT_EQ(back.sequence, p.sequence);
    EXPECT_EQ(back.tlvs.size(), p.tlvs.size());
    EXPECT_EQ(encode(back), bytes);
  }
  EXPECT_EQ(encode(pdus[4], false).size() + 10, encode(pdus[4]).size());  // TLVs left out for 3.3
}

TEST(SmppCodecTest, MalformedBodiesGetTheStatusThatAnswersThem) {
  auto frame = [](uint32_t id, const std::string& body, uint32_t status_code = 0) {
    platform::ByteWriter w;
    w.u32(static_cast<uint32_t>(16 + body.size()));
    w.u32(id);
    w.u32(status_code);
    w.u32(1);
    w.bytes(body);
    return w.str();
  };
  const std::string z16(16, '\0');
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t want;
  };
  const Case cases[] = {
      {"service_type without NUL", frame(cmd::kSubmitSm, "ABCDEFGH"), status::kInvSerTyp},
      {"source_addr of 21 characters",
       frame(cmd::kSubmitSm, hex("00 0101") + std::string(21, '1') + "\0"), status::kInvSrcAdr},
      {"validity of 5 characters",
       frame(cmd::kSubmitSm, hex("00 000000 000000 000000 00") + "12345" + hex("00")),
       status::kInvExpiry},
      {"sm_length 255", frame(cmd::kSubmitSm, z16 + "\xFF" + std::string(255, 'x')),
       status::kInvMsgLen},
      {"short_message past the end", frame(cmd::kDeliverSm, z16 + "\x05" + "abc"),
       status::kInvMsgLen},
      {"truncated mandatory part", frame(cmd::kSubmitSm, std::string(9, '\0')), status::kInvCmdLen},
      {"no destinations", frame(cmd::kSubmitMulti, hex("00 000000 00")), status::kInvNumDests},
      {"bad dest_flag", frame(cmd::kSubmitMulti, hex("00 000000 01 03")), status::kInvDestFlag},
      {"message_id of 65 characters", frame(cmd::kSubmitSmResp, std::string(65, '7') + hex("00")),
       status::kInvMsgId},
      {"TLV header cut", frame(cmd::kDeliverSm, z16 + hex("00 0427")), status::kInvOptParStream},
      {"TLV value overruns", frame(cmd::kDeliverSm, z16 + hex("00 001E 0010 41")),
       status::kInvOptParStream},
      {"message_state of two octets", frame(cmd::kDeliverSm, z16 + hex("00 0427 0002 0202")),
       status::kInvParLen},
      {"unknown command", frame(0x00000099, ""), status::kInvCmdId},
      {"length field disagrees", frame(cmd::kEnquireLink, "") + "x", status::kInvCmdLen},
      {"error answer without body", frame(cmd::kSubmitSmResp, "", status::kThrottled), status::kOk},
      {"vendor TLV of any size", frame(cmd::kDeliverSm, z16 + hex("00 1401 0003 010203")),
       status::kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pdu p;
    EXPECT_EQ(decode(c.bytes, &p), c.want);
  }
}

TEST(SmppCodecTest, TextConversions) {
  auto shortMessage = [](const OutboundMessage& m) {
    Pdu p;
    EXPECT_EQ(buildMessagePdu(cmd::kSubmitSm, m, 0x34, OptionTable(), &p), 0u);
    return p.short_message;
  };
  // Packed septets travel one per octet; a zero septet that only pads the
  // last octet is dropped.
  EXPECT_EQ(shortMessage({"", "+1", 0, 0, "", "E8329BFD06", 0, true, ""}), "hello");
  EXPECT_EQ(shortMessage({"", "+1", 0, 0, "", "B1582C168BC500", 0, true, ""}),
            std::string(7, '\x31'));
  std::string gsm =
      shortMessage({"", "+1", 0, 0, "", "A[b]\xE2\x82\xAC\xC3\xA7\xCE\xA9\xE4\xB8\xAD", 0, false,
                    ""});  // A[b]€çΩ中
  EXPECT_EQ(platform::toHex(gsm), "411B3C621B3E1B6509152D");
  EXPECT_EQ(protocols::gsmToUtf8(gsm, ""), "A[b]\xE2\x82\xAC\xC3\x87\xCE\xA9-");
  EXPECT_EQ(protocols::gsmToUtf8(std::string("x\x1B", 2), ""),
            "x-");  // a lone escape at the end reads nothing further
  EXPECT_EQ(protocols::gsmToUtf8("caf\xE9\x1B\x3C", ""), "caf\xC3\xA9[")
      << "Latin-1 under data_coding 0";
  EXPECT_EQ(protocols::gsmToUtf8("\x07", ""), "\xC3\xAC");
  EXPECT_EQ(protocols::gsmToUtf8("\x07", hex("03250101")), "\xC4\xB1") << "Turkish locking shift";
  std::string emoji = "\xF0\x9F\x98\x80\xC3\xA5";
  EXPECT_EQ(platform::toHex(protocols::utf8ToUcs2(emoji)), "D83DDE0000E5");
  EXPECT_EQ(protocols::utf8ToLatin1("\xC3\xA5\xE2\x82\xAC"), "\xE5?");
  const std::pair<uint8_t, protocols::Alphabet> dcs[] = {
      {0x00, protocols::Alphabet::kGsm7},   {0x01, protocols::Alphabet::kAscii},
      {0x03, protocols::Alphabet::kLatin1}, {0x08, protocols::Alphabet::kUcs2},
      {0x04, protocols::Alphabet::kBinary}, {0x11, protocols::Alphabet::kGsm7},
      {0x18, protocols::Alphabet::kUcs2},   {0x48, protocols::Alphabet::kUcs2},
      {0x34, protocols::Alphabet::kBinary}, {0xC0, protocols::Alphabet::kGsm7},
      {0xE8, protocols::Alphabet::kUcs2},   {0xF1, protocols::Alphabet::kGsm7},
      {0xF5, protocols::Alphabet::kBinary}, {0x90, protocols::Alphabet::kBinary},
  };
  for (auto [code, want] : dcs) EXPECT_EQ(protocols::alphabetOf(code), want) << int{code};
}

TEST(SmppCodecTest, ReceiptTextAndStates) {
  ReceiptText r;
  ASSERT_TRUE(
      parseReceiptText("id:0A1F sub:001 dlvrd:000 submit date:2401011200 done date:2401011201 "
                       "stat:UNDELIV err:034 text:Paid: 5 id:x",
                       &r));
  EXPECT_EQ(r.id, "0A1F");
  EXPECT_EQ(r.submit_date, "2401011200");
  EXPECT_EQ(r.done_date, "2401011201");
  EXPECT_EQ(r.stat, "UNDELIV");
  EXPECT_EQ(r.err, "034");
  EXPECT_EQ(r.text, "Paid: 5 id:x");
  EXPECT_FALSE(parseReceiptText("just a message", &r));
  EXPECT_EQ(flagsForStat("delivrd"), flag::kDelivered);
  EXPECT_EQ(flagsForStat("ENROUTE"), flag::kInTransit);
  EXPECT_EQ(flagsForStat("REJECTD"), flag::kFailed);
  EXPECT_EQ(flagsForStat("???"), 0u);
  EXPECT_EQ(flagsForState(state::kExpired), flag::kFailed);
  EXPECT_EQ(stateForFlags(flag::kIsReceipt | flag::kInTransit), state::kEnroute);
}

TEST(SmppCodecTest, AddressesAndValidity) {
  const std::tuple<const char*, int, int, const char*> addrs[] = {
      {"+46701234567", 1, 1, "46701234567"},
      {"0701234567", 2, 1, "0701234567"},
      {"Shop", 5, 0, "Shop"},
      {"+46 70", 5, 0, "+46 70"},
      {"", 0, 0, ""},
  };
  for (auto [text, ton, npi, addr] : addrs) {
    Address a = addressFor(text);
    EXPECT_EQ(a.ton, ton) << text;
    EXPECT_EQ(a.npi, npi) << text;
    EXPECT_EQ(a.addr, addr) << text;
  }
  ::setenv("TZ", "XYZ-2", 1);  // UTC+2, no daylight saving
  ::tzset();
  const std::pair<const char*, const char*> validity[] = {
      {"2d", "000002000000000R"},
      {"90m", "000000013000000R"},
      {"36H", "000001120000000R"},
      {"000003000000000R", "000003000000000R"},
      {"20261231235900", "261231235900008+"},
      {"261231235900", "261231235900008+"},
      {"0d", ""},
      {"soon", ""},
      {"20261331000000", ""},
      {"261301120000000+", ""},
      {"261201120000049-", ""},
  };
  for (auto [text, want] : validity) EXPECT_EQ(validityToSmpp(text), want) << text;
  ::unsetenv("TZ");
  ::tzset();
}

TEST(SmppCodecTest, OutboundMessagesMapOntoFieldsAndTlvs) {
  OptionTable declared = OptionTable::parse({{"vendor_flag", "0x1401,integer,1"},
                                             {"vendor_text", "5122,string"},
                                             {"vendor_blob", "0x1403,hex"},
                                             {"user_message_reference", "Yes"},
                                             {"broken", "zz,integer"}});
  EXPECT_EQ(declared.size(), 3u);
  OutboundMessage m{
      "+4670111",
      "Club",
      0,
      0,
      "",
      "x",
      flag::kNonDeliveryReceiptRequested | flag::kReplyRequested,
      false,
      "ServiceType=WAP; Validity=1h; LocalUser=alice; SMPPOption_vendor_flag=7; "
      "SMPPOption_vendor_text=abc; SMPPOption_vendor_blob=A0B1; SMPPOption_callback_num=0102; "
      "SMPPOption_nobody=1; SMPPOption_vendor_flag2=1; DestTON=0"};
  Pdu p;
  std::string skipped;
  ASSERT_EQ(buildMessagePdu(cmd::kSubmitSm, m, 0x34, declared, &p, &skipped), 0u);
  EXPECT_EQ(p.service_type, "WAP");
  EXPECT_EQ(p.validity_period, "000000010000000R");
  EXPECT_EQ(p.registered_delivery, 2);
  EXPECT_EQ(p.esm_class, 0x80);
  EXPECT_EQ(p.destination.ton, 0);
  EXPECT_EQ(p.destination.npi, 0);
  ASSERT_NE(p.findTlv(0x1401), nullptr);
  EXPECT_EQ(p.findTlv(0x1401)->value, "\x07");
  EXPECT_EQ(p.findTlv(0x1402)->value, std::string("abc\0", 4));
  EXPECT_EQ(p.findTlv(0x1403)->value, "\xA0\xB1");
  EXPECT_EQ(skipped, "callback_num, nobody, vendor_flag2");  // callback_num needs 4..19 octets

  // Over 254 octets: message_payload for 3.4, refused for 3.3.
  OutboundMessage big{"", "+1", 0, 0, "0500030A0201", std::string(300, 'a'), 0, false, ""};
  ASSERT_EQ(buildMessagePdu(cmd::kSubmitSm, big, 0x34, declared, &p), 0u);
  EXPECT_TRUE(p.short_message.empty());
  EXPECT_EQ(p.findTlv(tag::kMessagePayload)->value.size(), 306u);
  EXPECT_EQ(buildMessagePdu(cmd::kSubmitSm, big, 0x33, declared, &p), status::kInvMsgLen);

  // Packed 7-bit data from the gateway's segment files travels unpacked.
  OutboundMessage seg{"", "+1", 0, 0, "050003A00201", "D06536FB0D", 0, true, ""};
  ASSERT_EQ(buildMessagePdu(cmd::kSubmitSm, seg, 0x34, declared, &p), 0u);
  EXPECT_EQ(p.short_message, hex("050003A00201") + "hello");

  // A receipt handed to a server client.
  OutboundMessage rct{
      "+2",  "+1", 0, 0, "", "id:ABC sub:001 stat:DELIVRD", flag::kIsReceipt | flag::kDelivered,
      false, ""};
  ASSERT_EQ(buildMessagePdu(cmd::kDeliverSm, rct, 0x34, declared, &p), 0u);
  EXPECT_EQ(p.esm_class, 0x04);
  EXPECT_EQ(p.findTlv(tag::kReceiptedMessageId)->value, std::string("ABC\0", 4));
  EXPECT_EQ(p.findTlv(tag::kMessageState)->value, "\x02");
  ASSERT_EQ(buildMessagePdu(cmd::kDeliverSm, rct, 0x33, declared, &p), 0u);
  EXPECT_TRUE(p.tlvs.empty());
}

TEST(SmppCodecTest, InboundMessagesCarryReceiptFieldsAndOptions) {
  OptionTable declared = OptionTable::parse({{"vendor_flag", "0x1401,integer"}});
  Pdu p;
  p.command_id = cmd::kDeliverSm;
  p.source = {1, 1, "4670222"};
  p.destination = {0, 1, "1234"};
  p.esm_class = 0x04;
  p.service_type = "CM;T";
  p.short_message =
      "id:31 sub:001 dlvrd:001 submit date:2401011200 done date:2401011201 stat:UNDELIV err:000";
  p.addTlv(tag::kReceiptedMessageId, std::string("1F\0", 3));
  p.addTlv(tag::kMessageState, "\x02");  // the TLV wins over the text
  p.addTlv(0x1401, "\x05");
  p.addTlv(0x1499, "\xAB");
  InboundMessage m = inboundFromPdu(p, "SMPP - x:1", declared);
  EXPECT_EQ(m.sender, "+4670222");
  EXPECT_EQ(m.recipient, "1234");
  EXPECT_EQ(m.flags, flag::kIsReceipt | flag::kDelivered);
  EXPECT_EQ(m.smsc_message_id, "1F");
  EXPECT_EQ(m.extra,
            "ServiceType=CM T; ReceiptMsgIdOrig=1F; ReceiptMsgIdText=31; "
            "SMPPOption_receipted_message_id=1F; "
            "SMPPOption_message_state=2; SMPPOption_vendor_flag=5; SMPPOption_0x1499=AB");

  Pdu mo;
  mo.command_id = cmd::kDataSm;
  mo.data_coding = 3;
  mo.esm_class = 0xC0;  // UDH and reply path
  mo.destination = {1, 1, "1"};
  mo.addTlv(tag::kMessagePayload, hex("03 240101") + "\xE5t");
  m = inboundFromPdu(mo, "L", declared);
  EXPECT_EQ(m.udh, "03240101");
  EXPECT_EQ(m.data, "\xC3\xA5t");
  EXPECT_EQ(m.flags, flag::kReplyRequested);
  EXPECT_EQ(m.type, kMessageText);
}

TEST(SmppCodecTest, DeclaredOptionsComeFromTheConfiguration) {
  vek::testing::TempDir dir;
  vek::testing::writeText(dir.file("SMSGW.INI"),
                          "[SMPPOptions]\r\nvendor_code=0x1410,integer,2\r\n");
  hostlib::SMSIniSetFilename(dir.file("SMSGW.INI"));
  auto table = currentOptionTable();
  ASSERT_NE(table->find("VENDOR_CODE"), nullptr);
  EXPECT_EQ(table->find("vendor_code")->tag, 0x1410);
  EXPECT_EQ(tlvValueFromText(*table->find("vendor_code"), "258"), std::string("\x01\x02", 2));
  hostlib::SMSIniSetFilename("");
}

}  // namespace
}  // namespace vek::smpp
