#include "inbound/inbound_file.h"

#include <gtest/gtest.h>

#include "inbound/extra_params.h"
#include "queue/request_file.h"

namespace vek::inbound {
namespace {

queue::SMSMessage parse(const std::string& text) {
  queue::SMSMessage m;
  queue::parseSMSMessage(text, &m, [](std::string_view) { return std::string(); });
  return m;
}

size_t lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(InboundFileTest, LongDataIsCutOnlyAtTheLoadersLimitAndAtWholeCharacters) {
  const std::string e_acute = "\xC3\xA9";
  std::string utf8;
  while (utf8.size() < 8190) utf8 += e_acute;  // 8,190 bytes, then one that no longer fits
  utf8 = "a" + utf8;
  struct Case {
    const char* name;
    std::string data;
    bool binary;
    uint8_t dcs;
    size_t kept;
  } cases[] = {
      {"short text stays", "hello", false, 0, 5},
      {"10 KB of text", std::string(10240, 'x'), false, 0, 8191},
      {"2,000 characters are not cut at 1,023", std::string(2000, 'x'), false, 0, 2000},
      {"UTF-8 never split", utf8, false, 0, 8191},
      {"CR LF take two characters each", std::string(5000, '\n'), false, 0, 4095},
      {"a character the loader cut in half goes", std::string(8189, 'a') + "\xE2\x82", false, 0,
       8189},
      {"elsewhere a lone lead byte is a character", "caf\xE9", false, 0, 4},
      {"hex at an even length", std::string(9000, 'A'), true, 0x04, 8190},
      {"UCS-2 hex at whole characters", std::string(9000, '0'), true, 0x08, 8188},
  };
  for (const Case& c : cases) {
    std::string cut = cutData(c.data, c.binary, c.dcs);
    EXPECT_EQ(cut.size(), c.kept) << c.name;
    EXPECT_EQ(cut, c.data.substr(0, cut.size())) << c.name;
    EXPECT_LE(queue::escapeData(cut).size(), queue::kLimitData) << c.name;
  }
}

TEST(InboundFileTest, HostileValuesNeverWriteAKeyOfTheirOwn) {
  ReceivedFile f;
  f.modem_name = "SMPP - a:1\r\nRouteToLocalUser=root";
  f.sender = std::string("../../etc\r\nSMSCRoute=x\0y", 24);
  f.recipient = "12345\nReceiptDelivered=Yes";
  f.service_type = "WAP\r[ErrorDetail]";
  f.data = std::string("line1\r\nDuplicateMessageFor2Way=Yes\0end", 38) + std::string(10240, 'z');
  const std::string text = formatReceivedFile(f);
  EXPECT_EQ(lines(text), 6u) << text;  // section, ModemName, Sender, PhoneNumber, Data, ServiceType
  queue::SMSMessage m = parse(text);
  EXPECT_TRUE(m.RouteToLocalUser.empty());
  EXPECT_TRUE(m.SMSCRoute.empty());
  EXPECT_EQ(m.MessageFlags, 0u);
  EXPECT_FALSE(m.DuplicateMessageFor2Way);
  EXPECT_FALSE(m.HasErrorDetail);
  EXPECT_EQ(m.Sender, "../../etc  SMSCRoute=x y");
  EXPECT_EQ(m.Data.substr(0, 41), "line1\r\nDuplicateMessageFor2Way=Yes end" + std::string(3, 'z'));
  EXPECT_EQ(m.Data.size(), queue::kLimitData - 2);  // the escaped CR LF take two more
}

TEST(InboundFileTest, ReceiptsCarryOneStatusAndTheirId) {
  struct Case {
    uint32_t flags;
    const char* key;
    uint32_t status;  // the one status bit the file keeps
  } cases[] = {
      {queue::kFlagReceiptDelivered, "ReceiptDelivered=Yes", queue::kFlagReceiptDelivered},
      {queue::kFlagReceiptFailed | queue::kFlagReceiptDelivered, "ReceiptFailed=Yes",
       queue::kFlagReceiptFailed},
      {queue::kFlagReceiptInTransit | queue::kFlagReceiptFailed, "ReceiptIntransit=Yes",
       queue::kFlagReceiptInTransit},
  };
  for (const Case& c : cases) {
    ReceivedFile f;
    f.sender = "+1";
    f.flags = queue::kFlagIsReceipt | c.flags;
    f.receipt_message_id = "0000ABCD";
    const std::string text = formatReceivedFile(f);
    EXPECT_NE(text.find(std::string(c.key) + "\r\nReceiptMessageId=0000ABCD\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(parse(text).MessageFlags, queue::kFlagIsReceipt | c.status) << c.key;
  }
  ReceivedFile plain;
  plain.sender = "+1";
  plain.receipt_message_id = "0000ABCD";  // not a receipt: no id either
  EXPECT_EQ(formatReceivedFile(plain).find("ReceiptMessageId"), std::string::npos);
}

TEST(InboundFileTest, ExtraParametersAreFoundByWholeNameAndOptionsStayWhole) {
  const std::string extra =
      "SMPPOption_ServiceType=fake; SMPPOption_network_code=12; ServiceType=WAP; "
      "ReceiptMsgIdOrig=AB;CD";
  EXPECT_EQ(extraValue(extra, "servicetype").value_or("-"), "WAP");
  EXPECT_EQ(extraValue(extra, "ReceiptMsgIdOrig").value_or("-"), "AB");
  EXPECT_FALSE(extraValue(extra, "RouteToLocalUser"));
  EXPECT_EQ(smppOptionList(extra, OptionFilter::kAll),
            "SMPPOption_ServiceType=fake; SMPPOption_network_code=12");
  EXPECT_EQ(normaliseOptionList("network_code=12; SMPPOption_x=1;; =y"),
            "SMPPOption_network_code=12; SMPPOption_x=1");

  std::string many;
  for (int i = 0; i < 40; ++i)
    many += "SMPPOption_n" + std::to_string(i) + "=" + std::string(120, 'v') + ";";
  const std::string list = smppOptionList(many, OptionFilter::kAll);
  EXPECT_LE(list.size(), kMaxOptionList);
  for (const ExtraItem& item : extraItems(list)) EXPECT_EQ(item.value.size(), kMaxOptionValue);
}

}  // namespace
}  // namespace vek::inbound
