// The submission layer as the coming front ends use it: a Message in,
// request files out, refusals as data.
#include "submit/submit.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/settings.h"
#include "hostlib/host.h"
#include "queue/unique_id.h"
#include "support/test_support.h"

namespace vek::submit {
namespace {

namespace fs = std::filesystem;

class SubmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
    vek::testing::writeText(dir_.file("SMSGW.INI"), "[SMSGW]\r\n");
    hostlib::smsIni().invalidate();
    vek::testing::writeText(dir_.file("UID.DAT"), std::string(4, '\0'));
    queue::resetUniqueMessageIdsForTesting(dir_.file("UID.DAT"));
    foundation::publishSettings(foundation::Settings{});
    options_.queue.queue_root = dir_.file("Q/");
    options_.next_reference = [] { return uint16_t{0x42}; };
  }

  Message message(std::string text) {
    Message m;
    m.submit_user = "client";
    m.submitted_by = "10.0.0.9";
    m.recipients = {"+4411"};
    m.sender = "Shop";
    m.content.text = std::move(text);
    return m;
  }
  std::vector<std::string> queued() {
    std::vector<std::string> out;
    if (!fs::exists(dir_.file("Q"))) return out;
    for (const auto& e : fs::recursive_directory_iterator(dir_.file("Q")))
      if (e.is_regular_file()) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  vek::testing::TempDir dir_;
  SubmitOptions options_;
};

TEST_F(SubmitTest, SmppServerFilesHaveTheirOwnKeyOrder) {
  Message m = message("hi");
  m.content.dcs = 0;
  m.receipt_requested = true;
  m.non_delivery_receipt_requested = true;
  m.receipt_message_id = "000003E8";
  m.service_type = "CMT";
  m.validity = "000001000000000R";
  m.smpp_options = "SMPPOption_0x1400=AB";
  m.route_to_local_user = "bob";
  options_.queue.layout = FileLayout::kSmppServer;
  std::vector<std::string> seen;
  options_.on_file = [&](const QueuedFile& f, const EncodedMessage&) {
    seen.push_back(f.message_id);
  };
  auto out = submitMessage(m, options_);
  ASSERT_TRUE(out.ok()) << out.error().text;
  auto files = queued();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(seen, (std::vector<std::string>{"000003E8"}));
  EXPECT_EQ(vek::testing::readText(files[0]),
            "[SMS]\r\nSubmittedBy=10.0.0.9\r\nSubmitUser=client\r\nSender=Shop\r\n"
            "PhoneNumber=+4411\r\nData=hi\r\npid=00\r\ndcs=00\r\nBinary=0\r\n"
            "ReceiptRequested=Yes\r\nNonDelReceiptRequested=Yes\r\nReceiptMessageId=000003E8\r\n"
            "ServiceType=CMT\r\nValidity=000001000000000R\r\n"
            "SMPPOptions=SMPPOption_0x1400=AB\r\nRouteToLocalUser=bob\r\n");
}

// A long message to one recipient is written whole or not at all.
TEST_F(SubmitTest, ALongMessageIsQueuedWholeOrNotAtAll) {
  const std::string text(400, 'x');  // 3 segments
  // The third segment's hidden name is taken: its write fails.
  fs::create_directories(dir_.file("Q/.SAR-+4411-3e8-3-3.req.part/"));
  auto out = submitMessage(message(text), options_);
  ASSERT_TRUE(out.ok()) << out.error().text;
  EXPECT_TRUE(out->files.empty());
  EXPECT_EQ(out->failed_recipients, (std::vector<std::string>{"+4411"}));
  EXPECT_TRUE(queued().empty());

  fs::remove_all(dir_.file("Q"));
  out = submitMessage(message(text), options_);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out->files.size(), 3u);
  EXPECT_EQ(queued().size(), 3u);
  for (const QueuedFile& f : out->files)
    EXPECT_EQ(out->content.parts[f.part].udh.substr(0, 8), "05000342");
}

TEST_F(SubmitTest, RefusalsAreAKindAndTheirText) {
  struct Case {
    const char* what;
    std::function<void(Message*)> change;
    ErrorKind kind;
    const char* text;
  };
  const Case cases[] = {
      {"no recipient", [](Message* m) { m->recipients.clear(); }, ErrorKind::kNoRecipient,
       "Invalid format for telephone number."},
      {"control character", [](Message* m) { m->service_type = "a\nb"; }, ErrorKind::kInvalidField,
       "Invalid character in ServiceType"},
      {"unknown route", [](Message* m) { m->route = "nowhere"; }, ErrorKind::kUnknownRoute,
       "Unknown smscRoute=nowhere"},
      {"header", [](Message* m) { m->content.udh = "0G"; }, ErrorKind::kInvalidHeader,
       "Invalid format for UDH (hexadecimal digit characters only)."},
  };
  for (const Case& c : cases) {
    Message m = message("hi");
    c.change(&m);
    auto out = submitMessage(m, options_);
    ASSERT_FALSE(out.ok()) << c.what;
    EXPECT_EQ(out.error().kind, c.kind) << c.what;
    EXPECT_EQ(out.error().text, c.text) << c.what;
    EXPECT_EQ(out.error().status().kind(), platform::StatusKind::kInvalid);
  }
  EXPECT_TRUE(queued().empty());
}

}  // namespace
}  // namespace vek::submit
