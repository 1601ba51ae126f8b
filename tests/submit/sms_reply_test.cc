#include "submit/sms_reply.h"

#include <filesystem>
#include <set>

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "platform/files.h"
#include "queue/queue_env.h"
#include "queue/request_file.h"

namespace vek::submit {
namespace {

using queue::noRoute;
using queue::parseSMSMessage;
using queue::resetUniqueMessageIdsForTesting;
using queue::SMSMessage;

using vek::testing::readText;
using vek::testing::writeText;

class SMSReplyTest : public queue::QueueTestBase {
 protected:
  SMSReply reply(std::string text) {
    SMSReply r;
    r.recipient = "+447700900123";
    r.sender = "Svc";
    r.text = std::move(text);
    r.queue_root = root_;
    return r;
  }
  SMSMessage load(const std::string& path) {
    SMSMessage m;
    parseSMSMessage(readText(path), &m, noRoute);
    return m;
  }
  // "UID.DAT" holding `stored`: the next id is stored + 1000.
  void storeUniqueId(uint32_t stored) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((stored >> (8 * i)) & 0xFF);
    writeText(dir_.file("UID.DAT"), b);
    resetUniqueMessageIdsForTesting(dir_.file("UID.DAT"));
  }
};

TEST_F(SMSReplyTest, ALongReplyIsQueuedAsSegmentsInOneDirectory) {
  storeUniqueId(0x1000);
  const std::string text = std::string(160, 'a') + "b";
  ASSERT_EQ(BuildSMSReply(reply(text)), 2);
  const std::string first = "SAR-+447700900123-13e8-2-1.req";
  const std::string second = "SAR-+447700900123-13e8-2-2.req";
  EXPECT_EQ(names(root_), (std::set<std::string>{first, second})) << "nothing hidden is left";

  const std::string raw = readText(root_ + first);
  EXPECT_EQ(raw.rfind("[SMS]\r\nSubmittedBy=Auto-response to +447700900123\r\n"
                      "SubmitUser=localsystem-2way\r\nSender=Svc\r\nPhoneNumber=+447700900123\r\n"
                      "Data=",
                      0),
            0u)
      << raw;
  std::string septets;
  for (const std::string& name : {first, second}) {
    SMSMessage m = load(root_ + name);
    EXPECT_EQ(m.UDH.substr(0, 6), "050003");
    EXPECT_EQ(m.UDH.substr(8), name == first ? "0201" : "0202");
    EXPECT_EQ(m.dcs, 0);
    EXPECT_TRUE(m.Binary);
    EXPECT_EQ(raw.find("SMSCRoute="), std::string::npos);
    septets += encoding::UnpackHexToGSMSeptets(m.Data, 6);
  }
  EXPECT_EQ(load(root_ + first).UDH.substr(6, 2), load(root_ + second).UDH.substr(6, 2))
      << "one reference for the message";
  EXPECT_EQ(encoding::GSMToUTF8String(septets), text);
}

TEST_F(SMSReplyTest, ShortRepliesAreOneFileWithTheirCoding) {
  std::string cyrillic;
  for (int i = 0; i < 100; ++i) cyrillic += "\xD0\x96";  // U+0416
  struct Case {
    const char* what;
    std::string text;
    bool as_is;
    std::string data;
    uint8_t dcs;
    bool binary;
  } cases[] = {
      {"plain text", "Hi\r\nthere", false, "Hi\r\nthere", 0, false},
      {"UCS-2", "\xD0\x96x", false, "04160078", 8, true},
      {"UCS-2 kept whole is cut at 70", cyrillic, true, "", 8, true},
      {"7-bit kept whole", std::string(300, 'z'), true, std::string(300, 'z'), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    settings([&](foundation::Settings& s) { s.SendLongMessagesAsIs = c.as_is; });
    for (const std::string& n : names(root_)) ASSERT_TRUE(platform::removeFile(root_ + n).ok());
    ASSERT_EQ(BuildSMSReply(reply(c.text)), 1);
    const std::set<std::string> files = names(root_);
    ASSERT_EQ(files.size(), 1u);
    const std::string& name = *files.begin();
    EXPECT_EQ(name.size(), 12u) << "a single-message name: " << name;
    SMSMessage m = load(root_ + name);
    if (c.data.empty()) {
      EXPECT_EQ(m.Data.size(), 70u * 4);
    } else {
      EXPECT_EQ(m.Data, c.data);
    }
    EXPECT_EQ(m.dcs, c.dcs);
    EXPECT_EQ(m.Binary, c.binary);
    EXPECT_EQ(m.UDH, "");
  }
}

// A segment that cannot be written leaves no other segment queued, and
// the reply reports failure.
TEST_F(SMSReplyTest, AFailedSegmentQueuesNoneAndReportsFailure) {
  storeUniqueId(0x1000);
  ASSERT_TRUE(platform::makeDirectories(root_).ok());
  // Segment 2's hidden name is taken by a directory: its write fails.
  ASSERT_TRUE(platform::makeDirectories(root_ + ".SAR-+447700900123-13e8-3-2.req.part/").ok());
  EXPECT_EQ(BuildSMSReply(reply(std::string(400, 'q'))), -1);
  EXPECT_EQ(names(root_), (std::set<std::string>{".SAR-+447700900123-13e8-3-2.req.part"}));

  // An unsplit reply whose directory cannot be made.
  writeText(dir_.file("file"), "x");
  SMSReply r = reply("short");
  r.queue_root = dir_.file("file") + "/Q/";
  EXPECT_EQ(BuildSMSReply(r), -1);
}

TEST_F(SMSReplyTest, TheRouteTheReportNamesAppliesToEverySegment) {
  settings([](foundation::Settings& s) { s.LongTextDCS = 0xF0; });
  SMSReply r = reply(std::string(200, 'r'));
  std::vector<std::string> seen;
  r.report = [&](const SMSMessage& m, std::string* route) {
    seen.push_back(*route);
    EXPECT_EQ(m.SubmitUser, "localsystem-2way");
    if (route->empty())
      *route = "smscB";
    else
      *route = "ignored";
  };
  ASSERT_EQ(BuildSMSReply(r), 2);
  EXPECT_EQ(seen, (std::vector<std::string>{"", "smscB"}));
  const std::string dir = root_ + "RT_-_smscB_-_/";
  const std::set<std::string> files = names(dir);
  ASSERT_EQ(files.size(), 2u) << "both segments in the route's queue";
  for (const std::string& name : files) {
    SMSMessage m = load(dir + name);
    EXPECT_EQ(m.SMSCRoute, "smscB");
    EXPECT_EQ(m.dcs, 0xF0) << "LongTextDCS on 7-bit segments";
  }
}

}  // namespace
}  // namespace vek::submit
