// Two-way commands and receipts from outside: the gateway program on a data
// directory of its own receives messages over its HTTP interface
// ("InboundMessage=Yes"), runs the configured command for each, and queues
// the answer as a reply request file; mail commands leave spool files that
// a real SMTP sink accepts.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <set>

#include "gateway_process.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "queue/request_file.h"
#include "support/http_sink.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

uint16_t freePort() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  return l.ok() ? platform::localPort(l->get()) : 0;
}

std::string httpGet(uint16_t port, const std::string& target) {
  auto fd = platform::connectTcp("127.0.0.1", port, 5000);
  if (!fd.ok()) return {};
  std::string req = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (platform::sendAll(fd->get(), req, 5000) != platform::IoStatus::kOk) return {};
  std::string answer;
  char buf[4096];
  size_t got = 0;
  while (platform::recvSome(fd->get(), buf, sizeof buf, 5000, &got) == platform::IoStatus::kOk)
    answer.append(buf, got);
  return answer;
}

std::vector<queue::SMSMessage> requestFiles(const std::string& dir) {
  std::vector<queue::SMSMessage> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file() || it->path().extension() != ".req") continue;
    queue::SMSMessage m;
    queue::parseSMSMessage(readText(it->path().string()), &m,
                           [](std::string_view) { return std::string(); });
    out.push_back(m);
  }
  return out;
}

class TwoWayGatewayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
    data_ = dir_.path() + "data";
    ASSERT_TRUE(platform::makeDirectories(data_ + "/SMS-IN").ok());
    port_ = freePort();
  }
  void TearDown() override {
    if (!gateway_) return;
    gateway_->signal(SIGTERM);
    int code = 0;
    EXPECT_TRUE(gateway_->waitExit(30s, &code));
  }
  void start(const std::string& smsgw, const std::string& sections = "") {
    writeText(data_ + "/SMSGW.INI", "[SMSGW]\r\nWebPort=" + std::to_string(port_) +
                                        "\r\nIPAddress=127.0.0.1\r\nReceiveSMS=Yes\r\n" + smsgw +
                                        "\r\n" + sections);
    gateway_ = std::make_unique<GatewayProcess>(data_);
    ASSERT_TRUE(gateway_->start());
    ASSERT_TRUE(gateway_->waitStarted()) << gateway_->output();
  }
  // A message from `sender` to 1234 with `text` (URL-encoded) received
  // over the HTTP interface.
  void receive(const std::string& sender, const std::string& text) {
    const std::string answer =
        httpGet(port_, "/Send%20Text%20Message.htm?PhoneNumber=1234&Sender=" + sender +
                           "&InboundMessage=Yes&Text=" + text);
    ASSERT_NE(answer.find("Message Submitted"), std::string::npos) << answer.substr(0, 600);
  }
  std::vector<queue::SMSMessage> replies() { return requestFiles(data_ + "/Q"); }
  bool replyFor(const std::string& recipient, queue::SMSMessage* out) {
    for (const queue::SMSMessage& m : replies())
      if (m.PhoneNumber == recipient) {
        *out = m;
        return true;
      }
    return false;
  }

  TempDir dir_;
  std::string data_;
  uint16_t port_ = 0;
  std::unique_ptr<GatewayProcess> gateway_;
};

TEST_F(TwoWayGatewayTest, WebCommandsReplyAndErrorStatusesAreRetried) {
  std::atomic<int> failures_left{2};
  HttpSink sink([&](const HttpSink::Request& r, int) {
    HttpSink::Reply reply;
    if (r.target().find("retry") != std::string::npos && failures_left-- > 0) {
      reply.status = 500;
      reply.body = "down";
    } else {
      reply.body = "Hi\r\n";
    }
    return reply;
  });
  start("ReceiveSMSCommand1=*\t" + sink.url("/sms") + "?q=@@SMS@@&from=@@SENDER@@\tYes",
        "[Modem - 2Way]\r\nRetryDelay=1\r\nRetryDelayAfterAttempts=1\r\n");
  receive("%2B447700900001", "info%20now");
  queue::SMSMessage m;
  ASSERT_TRUE(waitUntil([&] { return replyFor("+447700900001", &m); }, 20s)) << gateway_->output();
  EXPECT_EQ(m.Data, "Hi");
  EXPECT_EQ(m.Sender, "1234");
  EXPECT_EQ(sink.requests()[0].target(), "/sms?q=now&from=%2B447700900001");

  receive("%2B447700900002", "please%20retry");
  ASSERT_TRUE(waitUntil([&] { return replyFor("+447700900002", &m); }, 30s)) << gateway_->output();
  EXPECT_EQ(m.Data, "Hi");
  EXPECT_EQ(failures_left.load(), -1);  // two 500 answers, then the one that counted
  EXPECT_EQ(sink.count(), 4);
}

TEST_F(TwoWayGatewayTest, ProgramCommandsReplyTheLiteralTextAndRunNothingElse) {
  start("ReceiveSMSCommand1=*\t/bin/echo @@TEXT@@\tYes");
  // a; touch hacked "q
  receive("%2B447700900003", "a%3B%20touch%20hacked%20%22q");
  queue::SMSMessage m;
  ASSERT_TRUE(waitUntil([&] { return replyFor("+447700900003", &m); }, 20s)) << gateway_->output();
  EXPECT_EQ(m.Data, "a; touch hacked \"q");
  EXPECT_FALSE(platform::pathExists("hacked"));
  EXPECT_FALSE(platform::pathExists(data_ + "/hacked"));
  EXPECT_FALSE(platform::pathExists(dir_.path() + "hacked"));
}

TEST_F(TwoWayGatewayTest, MailCommandsLeaveSpoolFilesAnSmtpSinkAccepts) {
  VEK_REQUIRE_ORACLES();
  writeText(data_ + "/MMSC.INI", "[MMSC]\r\nSMSDomainName=sms.example.com\r\n");
  start(
      "ReceiveSMSCommand1=MAIL\tmailto:ops@example.com?subject=SMS%20from%20@@SENDER@@"
      "&cc=@@SMS@@\tNo");
  // The text tries to add a header line through the copy address.
  receive("%2B447700900004", "mail%20boss@example.com%0D%0ABcc:%20evil@example.com");
  std::vector<std::string> spooled;
  ASSERT_TRUE(waitUntil(
      [&] {
        spooled.clear();
        for (const auto& e : platform::listDirectory(data_ + "/MMSCOUT", "*.RFC"))
          spooled.push_back(data_ + "/MMSCOUT/" + e.name);
        return !spooled.empty();
      },
      20s))
      << gateway_->output();
  const std::string mail = readText(spooled[0]);
  const std::string headers = mail.substr(0, mail.find("\r\n\r\n"));
  EXPECT_EQ(headers.find("\r\nBcc:"), std::string::npos) << mail;

  // Python's mail parser reads the headers as written.
  platform::ProcessOptions parse;
  parse.argv = {"python3", "-c",
                "import email,sys\n"
                "m=email.message_from_binary_file(open(sys.argv[1],'rb'))\n"
                "print(m['From']);print(m['To']);print(m['Cc']);print(m['Subject']);"
                "print(m.get_all('Bcc'));print(m.get_content_type())",
                spooled[0]};
  const platform::ProcessResult parsed = platform::runProcess(parse);
  ASSERT_TRUE(parsed.exitedWith(0)) << parsed.output;
  EXPECT_EQ(parsed.output,
            "+447700900004@sms.example.com\nops@example.com\n"
            "boss@example.com  Bcc: evil@example.com\nSMS from +447700900004\nNone\ntext/plain\n");

  // And a real SMTP server takes it when it is sent as it stands.
  const uint16_t smtp_port = freePort();
  platform::ProcessOptions sink;
  sink.argv = {"node",   oraclesDir() + "/node/smtp-sink.js", "--dir",         dir_.path() + "mail",
               "--port", std::to_string(smtp_port),           "--max-seconds", "60"};
  auto smtp = platform::ChildProcess::spawn(sink);
  ASSERT_TRUE(smtp.ok());
  ASSERT_TRUE(
      waitUntil([&] { return platform::connectTcp("127.0.0.1", smtp_port, 200).ok(); }, 10s));
  platform::ProcessOptions send;
  send.argv = {"python3", "-c",
               "import smtplib,sys\n"
               "raw=open(sys.argv[1],'rb').read()\n"
               "s=smtplib.SMTP('127.0.0.1',int(sys.argv[2]),timeout=20)\n"
               "s.sendmail('+447700900004@sms.example.com',"
               "['ops@example.com','boss@example.com'],raw)\ns.quit()",
               spooled[0], std::to_string(smtp_port)};
  const platform::ProcessResult sent = platform::runProcess(send);
  EXPECT_TRUE(sent.exitedWith(0)) << sent.output;
  ASSERT_TRUE(waitUntil([&] { return platform::pathExists(dir_.path() + "mail/0001.json"); }, 10s));
  const std::string record = readText(dir_.path() + "mail/0001.json");
  EXPECT_NE(record.find("SMS from +447700900004"), std::string::npos) << record;
  EXPECT_NE(record.find("boss@example.com"), std::string::npos) << record;
  smtp->kill();
}

// Receipts over real SMPP links: an account submits over HTTP asking for
// receipts, the link sends to a message centre bound as a transceiver
// (ReceiveSingleConnection=Yes), the centre's receipts come back on that
// connection (or on the link's receive-only connection) and the receipt
// thread matches them through the message-id store. Centres: smsc-sim.js
// (receipted_message_id TLV and the text) and text_receipt_smsc.js beside
// the inbound tests (the text only), each with decimal and hexadecimal
// ids. VEKSMS_GATEWAY_RECEIPT_COUNT sets the messages per centre (default
// 5).
TEST_F(TwoWayGatewayTest, ReceiptsReachTheSubmittingAccountWithItsOwnId) {
  VEK_REQUIRE_ORACLES();
  const char* count_env = ::getenv("VEKSMS_GATEWAY_RECEIPT_COUNT");
  const int count = count_env ? std::max(1, std::atoi(count_env)) : 5;
  const std::string text_peer =
      (fs::path(__FILE__).parent_path().parent_path() / "inbound" / "text_receipt_smsc.js")
          .string();
  constexpr const char* kTransceiver = "ReceiveSingleConnection=Yes\r\n";
  struct Centre {
    const char* name;
    bool text_only;
    bool hex;
    const char* link_keys;
  } centres[] = {
      {"TLV, decimal ids", false, false, kTransceiver},
      {"TLV, hex ids", false, true, kTransceiver},
      {"text only, decimal ids", true, false, kTransceiver},
      {"text only, hex ids", true, true, kTransceiver},
      // The centre sends the receipts of a transmitter's messages to a
      // receiver bound with the same name: here the link's second,
      // receive-only connection.
      {"transmitter and receive-only connections", false, false,
       "TransmitterCount=1\r\nReceiverCount=2\r\n"},
  };
  int run = 0;
  for (const Centre& c : centres) {
    SCOPED_TRACE(c.name);
    // A data directory of its own for each run (the start is recognised
    // by the event log).
    data_ = dir_.path() + "receipts" + std::to_string(++run);
    ASSERT_TRUE(platform::makeDirectories(data_ + "/SMS-IN").ok());
    ASSERT_TRUE(runGateway({"--data-dir", data_, "user", "add", "alice", "--password", "pw",
                            "--receive", "yes"})
                    .exitedWith(0));
    const uint16_t smsc_port = freePort();
    platform::ProcessOptions sim;
    if (c.text_only) {
      sim.argv = {"node", text_peer, "--port", std::to_string(smsc_port), "--max-seconds", "600"};
      if (c.hex) sim.argv.push_back("--hex");
      sim.extra_env = {"NODE_PATH=" + oraclesDir() + "/node/node_modules"};
    } else {
      sim.argv = {"node",   oraclesDir() + "/node/smsc-sim.js",
                  "--port", std::to_string(smsc_port),
                  "--dlr",  "--max-seconds",
                  "600"};
      if (c.hex) sim.argv.push_back("--msgid-hex");
    }
    auto smsc = platform::ChildProcess::spawn(sim);
    ASSERT_TRUE(smsc.ok());
    ASSERT_TRUE(
        waitUntil([&] { return platform::connectTcp("127.0.0.1", smsc_port, 200).ok(); }, 10s));
    const std::string link = "SMPP - 127.0.0.1:" + std::to_string(smsc_port);
    // With web logins the request files name the submitting account.
    start("WebAuth=Yes\r\nModem1=" + link,
          "[" + link + "]\r\nUserName=gw\r\nPassword=pw\r\n" + c.link_keys);
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) {
      const std::string answer =
          httpGet(port_, "/Send%20Text%20Message.htm?User=alice&Password=pw&PhoneNumber=%2B4477" +
                             platform::format("%07d", i) + "&Text=hello&ReceiptRequested=Yes");
      const size_t at = answer.find("MessageID=");
      ASSERT_NE(at, std::string::npos) << answer.substr(0, 600) << gateway_->output();
      ids.push_back(answer.substr(at + 10, answer.find(',', at) - at - 10));
    }
    const std::string alice_q = data_ + "/USERS/alice/Q";
    const auto limit = 60s + std::chrono::milliseconds(50) * count;
    ASSERT_TRUE(waitUntil([&] { return requestFiles(alice_q).size() >= ids.size(); }, limit))
        << gateway_->output();
    std::set<std::string> seen;
    for (const queue::SMSMessage& m : requestFiles(alice_q)) {
      EXPECT_NE(std::find(ids.begin(), ids.end(), m.ReceiptMessageId), ids.end())
          << m.ReceiptMessageId;
      EXPECT_EQ(m.Data.rfind("id:" + m.ReceiptMessageId + " ", 0), 0u) << m.Data;
      EXPECT_NE(m.MessageFlags & queue::kFlagReceiptDelivered, 0) << m.Data;
      seen.insert(m.ReceiptMessageId);
    }
    EXPECT_EQ(seen.size(), ids.size()) << "one receipt per message";
    TearDown();
    gateway_.reset();
    smsc->kill();
  }
}

}  // namespace
}  // namespace vek::testing
