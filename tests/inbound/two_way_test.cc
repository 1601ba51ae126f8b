// Two-way commands run by the inbound threads: web commands against a
// loopback server, programs, mail spool files, and the retries and
// set-asides their failures lead to.
#include "inbound/two_way.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "encoding/utf8.h"
#include "inbound/inbound_env.h"
#include "inbound/inbound_worker.h"
#include "queue/request_writer.h"
#include "support/http_sink.h"

namespace vek::inbound {
namespace {

using namespace std::chrono_literals;
using vek::testing::HttpSink;
using vek::testing::readText;

class TwoWayTest : public InboundTest {
 protected:
  void command(const std::string& value, const std::string& more_smsgw = "",
               const std::string& sections = "") {
    configure("ReceiveSMSCommand1=" + value + "\r\n" + more_smsgw, sections);
  }
  std::string drop(const std::string& text, const std::string& more = "",
                   const std::string& name = "00000001.in") {
    queue::RequestWriter w("[SMS-IN]");
    w.text("Sender", "+447700900123").text("PhoneNumber", "1234").data(text);
    EXPECT_TRUE(platform::makeDirectories(inboundDir()).ok());
    EXPECT_TRUE(platform::publishFile(inboundDir() + name, w.str() + more).ok());
    return inboundDir() + name;
  }
  PassResult pass() { return worker_.runPass(); }
  std::vector<queue::SMSMessage> replies() {
    std::vector<queue::SMSMessage> out;
    for (const std::string& f : files(data_ + "Q/", "*.req")) out.push_back(load(f));
    return out;
  }
  std::string onlyReply() {
    auto r = replies();
    EXPECT_EQ(r.size(), 1u);
    if (r.size() != 1) return "<" + std::to_string(r.size()) + " replies>";
    EXPECT_EQ(r[0].PhoneNumber, "+447700900123");
    EXPECT_EQ(r[0].Sender, "1234");
    // Text outside the GSM alphabet (a backquote) goes as UCS-2.
    return r[0].Binary && r[0].dcs == 8 ? encoding::UCS2HexToUTF8(r[0].Data) : r[0].Data;
  }
  std::vector<std::string> setAside(const std::string& pattern) {
    std::vector<std::string> out;
    for (const std::string& f : files(inboundDir(), pattern))
      if (f.find("/SMS-IN/2") != std::string::npos) out.push_back(f);
    return out;
  }

  InboundWorker worker_{kInboundMessagesAndJoining, TwoWayOptions{500ms, 5s}};
};

TEST_F(TwoWayTest, WebAnswersBecomeRepliesByTheirContentType) {
  struct Case {
    std::string content_type;
    std::string body;
    std::string reply;  // "" : no reply
  } cases[] = {
      {"text/plain", "Hi\r\n", "Hi"},
      {"text/plain; charset=ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
      {"text/html", "<p>Hi</p>",
       "Command not completed.  Request returned invalid content type:  "
       "text/html"},
      {"text/plain", " \r\n", ""},
  };
  for (const Case& c : cases) {
    HttpSink sink([&](const HttpSink::Request&, int) {
      HttpSink::Reply r;
      r.content_type = c.content_type;
      r.body = c.body;
      return r;
    });
    command("*\t" + sink.url("/cmd") + "?from=@@SENDER@@&q=@@SMS@@\tYes");
    drop("info about cats");
    EXPECT_EQ(pass().completed, 1u) << c.content_type;
    ASSERT_EQ(sink.count(), 1);
    EXPECT_EQ(sink.requests()[0].target(), "/cmd?from=%2B447700900123&q=about%20cats");
    if (c.reply.empty()) {
      EXPECT_TRUE(replies().empty());
    } else {
      EXPECT_EQ(onlyReply(), c.reply) << c.content_type;
    }
    EXPECT_TRUE(files(inboundDir(), "*.in").empty());
    for (const std::string& f : files(data_ + "Q/")) (void)platform::removeFile(f);
  }
}

TEST_F(TwoWayTest, AMegabyteAnswerIsCutAndTheConnectionKept) {
  HttpSink sink([](const HttpSink::Request&, int) {
    HttpSink::Reply r;
    r.body = std::string(1 << 20, 'y');
    return r;
  });
  command("*\t" + sink.url() + "\tYes");
  drop("first", "", "00000001.in");
  drop("second", "", "00000002.in");
  EXPECT_EQ(pass().completed, 2u);
  EXPECT_EQ(sink.count(), 2);
  EXPECT_EQ(sink.connections(), 1);  // the thread's kept-alive connection served both
  size_t total = 0;
  for (const auto& m : replies()) total += m.Binary ? 0 : m.Data.size();
  EXPECT_GT(replies().size(), 2u);  // a long reply in segments
  EXPECT_LE(total, 2u * 8192);
}

TEST_F(TwoWayTest, ErrorStatusIsRetriedByTheScheduleThenSetAside) {
  std::atomic<int> fail_first{1};
  HttpSink sink([&](const HttpSink::Request&, int index) {
    HttpSink::Reply r;
    if (index < fail_first) r.status = 500;
    r.body = "Hi";
    return r;
  });
  const std::string schedule =
      "[Modem - 2Way]\r\nRetryDelay=0\r\nRetryDelayAfterAttempts=1\r\nRetryMaxAttempts=2\r\n";
  command("*\t" + sink.url() + "\tYes", "", schedule);
  const std::string path = drop("retry me");
  EXPECT_EQ(pass().retried, 1u);
  EXPECT_EQ(load(path).RetryCount, 1u);
  EXPECT_EQ(pass().completed, 1u);  // 500 once, then "Hi"
  EXPECT_EQ(onlyReply(), "Hi");

  fail_first = 1000;
  drop("always failing", "", "00000002.in");
  EXPECT_EQ(pass().retried, 1u);
  EXPECT_EQ(pass().retried, 1u);
  EXPECT_EQ(pass().set_aside, 1u);  // third failure after two: given up
  EXPECT_EQ(setAside("*.BAD").size(), 1u);
  EXPECT_TRUE(files(inboundDir(), "*.in").empty());
}

TEST_F(TwoWayTest, AnUnreachableServerIsRetriedWithoutALimit) {
  uint16_t closed_port;
  {
    HttpSink gone([](const HttpSink::Request&, int) { return HttpSink::Reply{}; });
    closed_port = gone.port();
  }
  command("*\thttp://127.0.0.1:" + std::to_string(closed_port) + "/\tYes", "",
          "[Modem - 2Way]\r\nRetryDelay=0\r\nRetryDelayAfterAttempts=1\r\nRetryMaxAttempts=1\r\n");
  const std::string path = drop("anyone there");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pass().retried, 1u);
  EXPECT_EQ(load(path).RetryCount, 3u);
  EXPECT_TRUE(setAside("*.BAD").empty());
}

TEST_F(TwoWayTest, ProgramValuesStayInsideTheirArguments) {
  const std::string hostile = "a; touch hacked \"q $(touch hacked2) `touch hacked3`";
  struct Case {
    std::string command;
    std::string reply;
  } cases[] = {
      {"*\t/bin/echo @@TEXT@@\tYes", hostile},
      {"*\t/usr/bin/printenv VEKSMS_SENDER\tYes", "+447700900123"},
      {"*\t/bin/echo \"[@@SMSPREFIX@@]\" @@MSGDATE@@\tYes", "[a;] 19700101"},
  };
  for (const Case& c : cases) {
    command(c.command);
    const std::string path = drop(hostile);
    ASSERT_TRUE(platform::setModifiedTime(path, platform::SystemTime(60s)).ok());
    EXPECT_EQ(pass().completed, 1u) << c.command;
    EXPECT_EQ(onlyReply(), c.reply) << c.command;
    for (const std::string& f : files(data_ + "Q/")) (void)platform::removeFile(f);
  }
  for (const char* name : {"hacked", "hacked2", "hacked3"}) {
    EXPECT_FALSE(platform::pathExists(name));
    EXPECT_FALSE(platform::pathExists(data_ + name));
  }
}

TEST_F(TwoWayTest, RunawayProgramsAreKilledWithTheirProcessGroup) {
  const std::string pid_file = dir_.file("child.pid");
  command("*\t/bin/sh -c \"sleep 30 & echo $! > " + pid_file + "; wait\"\tYes", "",
          "[Modem - 2Way]\r\nRetryDelay=0\r\nRetryMaxAttempts=5\r\n");
  const std::string path = drop("never ends");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pass().retried, 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(load(path).RetryCount, 1u);
  const pid_t grandchild = static_cast<pid_t>(std::atoi(readText(pid_file).c_str()));
  ASSERT_GT(grandchild, 0);
  // Killed with the group: gone, or a zombie waiting for its new parent.
  EXPECT_TRUE(vek::testing::waitUntil(
      [&] {
        const std::string stat = readText("/proc/" + std::to_string(grandchild) + "/stat");
        return stat.empty() || stat.find(") Z") != std::string::npos;
      },
      5s));
}

TEST_F(TwoWayTest, JunkOutputAndMissingProgramsNeverBreakTheThread) {
  command("*\t/usr/bin/head -c 200000 /dev/urandom\tYes");
  drop("junk please");
  EXPECT_EQ(pass().completed, 1u);
  size_t total = 0;
  for (const auto& m : replies()) total += m.Data.size();
  EXPECT_GT(total, 0u);
  for (const std::string& f : files(data_ + "Q/")) (void)platform::removeFile(f);

  command("*\t/nonexistent/program @@TEXT@@\tYes", "",
          "[Modem - 2Way]\r\nRetryDelay=0\r\nRetryMaxAttempts=5\r\n");
  drop("run it", "", "00000002.in");
  EXPECT_EQ(pass().retried, 1u);
  EXPECT_EQ(onlyReply(), "Command not completed.  System error executing associated command.");
  EXPECT_EQ(pass().retried, 1u);
  EXPECT_EQ(replies().size(), 1u);  // told once, not at every retry
}

TEST_F(TwoWayTest, MailtoCommandsWriteSpoolFiles) {
  vek::testing::writeText(data_ + "MMSC.INI", "[MMSC]\r\nSMSDomainName=sms.example.com\r\n");
  hostlib::mmscIni().invalidate();
  command("*\tmailto:@@SMSPREFIX@@\tYes");
  drop("bob@example.com please call me");
  EXPECT_EQ(pass().completed, 1u);
  const auto spooled = files(data_ + "MMSCOUT/", "*.RFC");
  ASSERT_EQ(spooled.size(), 1u);
  EXPECT_EQ(readText(spooled[0]),
            "From: +447700900123@sms.example.com\r\nTo: bob@example.com\r\n"
            "Subject: +447700900123 - SMS Text Message\r\n"
            "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\nplease call me\r\n");
  EXPECT_TRUE(replies().empty());

  drop("nobody-here hello", "", "00000002.in");
  EXPECT_EQ(pass().completed, 1u);
  EXPECT_EQ(onlyReply(),
            "Invalid e-mail recipient: nobody-here.  Please specify a valid e-mail address to "
            "start the text of your message.");
}

TEST_F(TwoWayTest, EightBitTextCodingsBecomeTextBeforeMatching) {
  command("hi\t/bin/echo got @@TEXT@@ @@Binary@@\tYes");
  drop("", "Binary=1\r\ndcs=8\r\nData=00680069\r\n");  // UCS-2 "hi"
  EXPECT_EQ(pass().completed, 1u);
  EXPECT_EQ(onlyReply(), "got hi 0");
}

}  // namespace
}  // namespace vek::inbound
