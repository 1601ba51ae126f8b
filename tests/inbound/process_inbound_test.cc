#include "inbound/process_inbound.h"

#include <gtest/gtest.h>

#include "inbound/inbound_env.h"
#include "inbound/smpp_receive.h"

namespace vek::inbound {
namespace {

using vek::testing::readText;
using vek::testing::writeText;

class ProcessInboundTest : public InboundTest {
 protected:
  static InboundSMS message(const std::string& extra = "") {
    InboundSMS m;
    m.link_name = "SMPP - smsc:2775";
    m.sender = "+447700900001";
    m.recipient = "12345";
    m.data = "hello";
    m.extra = extra;
    return m;
  }
  // Stores `m`; returns the one file it wrote.
  std::string store(const InboundSMS& m) {
    auto r = ProcessInboundSMS(m);
    EXPECT_TRUE(r.ok()) << r.status().message();
    return r.ok() ? r->path : std::string();
  }
};

TEST_F(ProcessInboundTest, KindOfFileFollowsTheMessageAndWakesItsThreads) {
  std::string path = store(message("ServiceType=WAP; ReceivedSMSC=c1; Validity=1d"));
  EXPECT_EQ(platform::parentDirectory(path), inboundDir());
  EXPECT_TRUE(platform::endsWithNoCase(path, ".in"));
  EXPECT_TRUE(foundation::inboundEventA().isSet());
  EXPECT_EQ(readText(path),
            "[SMS-IN]\r\nModemName=SMPP - smsc:2775\r\nSender=+447700900001\r\n"
            "PhoneNumber=12345\r\nData=hello\r\nServiceType=WAP\r\nReceivedSMSC=c1\r\n");

  InboundSMS receipt = message();
  receipt.flags = queue::kFlagIsReceipt | queue::kFlagReceiptDelivered;
  receipt.receipt_message_id = "0000ABCD";
  EXPECT_TRUE(platform::endsWithNoCase(store(receipt), ".rec"));
  EXPECT_TRUE(foundation::inboundEventB().isSet());
  receipt.extra = "ResolveReceiptID=Yes";
  EXPECT_TRUE(platform::endsWithNoCase(store(receipt), ".rct"));
}

TEST_F(ProcessInboundTest, LocalAccountsOnlyByExistingNamesAndNeverOutsideTheirDirectory) {
  account("alice", true);
  std::string path = store(message("RouteToLocalUser=ALICE"));
  EXPECT_EQ(platform::parentDirectory(path), queueOf("alice"));
  queue::SMSMessage m = load(path);
  EXPECT_FALSE(m.Inbound);
  EXPECT_EQ(m.RouteToLocalUser, "alice");
  EXPECT_EQ(m.ModemName, "SMPP - smsc:2775");

  for (const char* hostile : {"../../private", "../alice", "nobody", "a/b", "~SMSIN::../../x"}) {
    path = store(message(std::string("RouteToLocalUser=") + hostile));
    EXPECT_EQ(platform::parentDirectory(path), inboundDir()) << hostile;
    EXPECT_TRUE(load(path).RouteToLocalUser.empty()) << hostile;
  }
  for (const std::string& f : everything())
    EXPECT_EQ(f.rfind(data_, 0), 0u) << f;  // nothing outside the data directory
}

TEST_F(ProcessInboundTest, LinkSettingsRewriteAddressesRouteLocallyOrSendOnAgain) {
  account("bob", true);
  configure("",
            "[SMPP - smsc:2775]\r\nInSenderPrefixConvert=+44:0, +:00\r\n"
            "InRecipPrefixConvert=123:\r\nRouteLocal=bob\r\n"
            "[SMPP - other:1]\r\nReRouteReceived=r1\r\n[SMPP - any:1]\r\nReRouteReceived=Yes\r\n");
  std::string path = store(message());
  queue::SMSMessage m = load(path);
  EXPECT_EQ(platform::parentDirectory(path), queueOf("bob"));
  EXPECT_EQ(m.Sender, "07700900001");
  EXPECT_EQ(m.PhoneNumber, "45");

  InboundSMS out = message();
  out.link_name = "SMPP - other:1";
  auto stored = ProcessInboundSMS(out);
  ASSERT_TRUE(stored.ok());
  EXPECT_EQ(stored->outcome, InboundOutcome::kReRouted);
  EXPECT_NE(stored->path.find("/Q/RT_-_r1_-_/"), std::string::npos) << stored->path;
  EXPECT_EQ(load(stored->path).SMSCRoute, "r1");
  EXPECT_EQ(stored->message_id, platform::baseName(stored->path).substr(0, 8));

  out.link_name = "SMPP - any:1";
  out.udh = "050003A70302";
  path = store(out);
  EXPECT_NE(path.find("/Q/SAR-"), std::string::npos) << path;  // a segment keeps its siblings' name
  EXPECT_TRUE(load(path).SMSCRoute.empty());
}

TEST_F(ProcessInboundTest, WapPushForAnAccountOnAnMmsLinkStaysInbound) {
  account("carol", true);
  configure("ReceiveMMS=Yes");
  InboundSMS m = message("RouteToLocalUser=carol");
  m.udh = "0605040B840B84";
  EXPECT_EQ(platform::parentDirectory(store(m)), inboundDir());
  m.udh = "060504238423F0";  // port 9092
  EXPECT_EQ(platform::parentDirectory(store(m)), queueOf("carol"));
}

TEST_F(ProcessInboundTest, NothingStoredIsAFailureAndNothingIsLostOnceWritable) {
  // The directory is a file: every write fails, even for root.
  writeText(data_ + "SMS-IN", "not a directory");
  auto r = ProcessInboundSMS(message());
  EXPECT_FALSE(r.ok());
  smpp::InboundMessage received;
  received.sender = "+1";
  EXPECT_EQ(SMPPReceiveMessageCallback(received), 0);
  ASSERT_TRUE(platform::removeFile(data_ + "SMS-IN").ok());
  EXPECT_TRUE(ProcessInboundSMS(message()).ok());
  EXPECT_EQ(files(inboundDir(), "*.in").size(), 1u);
}

TEST_F(ProcessInboundTest, SmppCallbackCollectsOptionsAndSendsReceiptsToBeResolved) {
  configure("", "[SMPPOptions]\r\nnetwork_code=1\r\n");
  smpp::InboundMessage m;
  m.link_name = "SMPP - smsc:2775";
  m.sender = "+1";
  m.recipient = "2";
  m.data = "0041";
  m.dcs = 8;
  m.type = smpp::kMessageBinary;
  m.extra = "ServiceType=WAP; SMPPOption_network_code=12; SMPPOption_user_message_reference=7";
  ASSERT_EQ(SMPPReceiveMessageCallback(m), 1);
  auto in = files(inboundDir(), "*.in");
  ASSERT_EQ(in.size(), 1u);
  queue::SMSMessage loaded = load(in[0]);
  EXPECT_EQ(loaded.ServiceType, "WAP");
  EXPECT_EQ(loaded.SMPPOptions, "SMPPOption_network_code=12; SMPPOption_user_message_reference=7");
  EXPECT_TRUE(loaded.Binary);
  EXPECT_EQ(loaded.dcs, 8);

  m.flags = queue::kFlagIsReceipt | queue::kFlagReceiptDelivered;
  m.smsc_message_id = "4F2A";
  ASSERT_EQ(SMPPReceiveMessageCallback(m), 1);
  auto rct = files(inboundDir(), "*.rct");
  ASSERT_EQ(rct.size(), 1u);
  EXPECT_EQ(load(rct[0]).ReceiptMessageId, "4F2A");
}

}  // namespace
}  // namespace vek::inbound
