// The SMPP engine against independent peers: the SMSC simulator
// (smsc-sim.js) for the client entries, the ESME client (smpp-client.js)
// for the server entries. Skipped when the peers are not installed.
//
// VEKSMS_SMPP_ORACLE_COUNT sets the number of submits of the window runs
// (default 10000).
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <set>

#include "platform/byte_io.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "protocols/message_text.h"
#include "protocols/smpp/receipt.h"
#include "smpp_harness.h"
#include "support/test_support.h"

namespace vek::smpp {
namespace {

using namespace std::chrono_literals;
using testing::Inbox;
using testing::TestServer;
using testing::yieldUntil;

uint16_t freePort() {
  auto fd = platform::listenTcp("127.0.0.1", 0);
  return fd.ok() ? platform::localPort(fd->get()) : 0;
}

int submitCount() {
  const char* env = std::getenv("VEKSMS_SMPP_ORACLE_COUNT");
  int n = env ? std::atoi(env) : 0;
  return n > 0 ? n : 10000;
}

// smsc-sim.js on a free port, killed when the test ends.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> extra, const std::string& log = {})
      : port_(freePort()) {
    platform::ProcessOptions o;
    o.argv = {"node",          vek::testing::oraclesDir() + "/node/smsc-sim.js",
              "--port",        std::to_string(port_),
              "--max-seconds", "300"};
    if (!log.empty()) o.argv.insert(o.argv.end(), {"--log", log});
    o.argv.insert(o.argv.end(), extra.begin(), extra.end());
    auto child = platform::ChildProcess::spawn(o);
    EXPECT_TRUE(child.ok()) << child.status().message();
    if (child.ok()) child_ = std::move(*child);
    ready_ = vek::testing::waitUntil(
        [&] { return platform::connectTcp("127.0.0.1", port_, 200).ok(); }, 10s);
  }
  ~Simulator() { child_.kill(); }
  uint16_t port() const { return port_; }
  bool ready() const { return ready_; }

 private:
  uint16_t port_;
  platform::ChildProcess child_;
  bool ready_ = false;
};

std::string linkName(uint16_t port) {
  return "SMPP - 127.0.0.1:" + std::to_string(port);
}

uint32_t bindTo(Connection& conn, uint16_t port, int bind_type = kBindTypeTransceiver) {
  uint32_t st = SMPPConnect(conn, tls::Stream(), linkName(port), "127.0.0.1", port);
  return st ? st : SMPPBind(conn, 0x34, bind_type, "gateway", "secret", "");
}

TEST(SmppOracleTest, SubmitsWithWindowOneAndFiftyAreAllAcceptedWithDistinctIds) {
  VEK_REQUIRE_ORACLES();
  Simulator sim({});
  ASSERT_TRUE(sim.ready());
  const int count = submitCount();
  std::set<std::string> ids;
  {
    Connection conn;
    ASSERT_EQ(bindTo(conn, sim.port(), kBindTypeTransmitter), 0u);
    auto t0 = platform::monotonicNow();
    for (int i = 0; i < count; ++i) {
      std::string id;
      ASSERT_EQ(
          SMPPSubmitMessage(conn, 0x34, "+4670000001", "+4670" + std::to_string(1000000 + i), 0, 0,
                            "", "Window one message " + std::to_string(i), 0, false, &id, "", ""),
          0u);
      ids.insert(id);
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(platform::monotonicNow() - t0)
                  .count();
    std::printf("window 1: %d submits in %lld ms\n", count, static_cast<long long>(ms));
    EXPECT_EQ(SMPPUnbind(conn, 0x34), 0u);
  }
  {
    Connection conn;
    ASSERT_EQ(bindTo(conn, sim.port(), kBindTypeTransmitter), 0u);
    std::vector<std::shared_ptr<AsyncSubmit>> ctxs;
    ctxs.reserve(static_cast<size_t>(count));
    auto t0 = platform::monotonicNow();
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(yieldUntil(conn, [&] { return conn.outstanding() < 50; }));
      ctxs.push_back(std::make_shared<AsyncSubmit>());
      ASSERT_EQ(
          SMPPSubmitMessageAsync(conn, 0x34, "+4670000001", "+4670" + std::to_string(2000000 + i),
                                 0, 0, "", "Window fifty message", 0, false, "", "", ctxs.back()),
          0u);
    }
    ASSERT_TRUE(yieldUntil(conn, [&] { return conn.outstanding() == 0; }));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(platform::monotonicNow() - t0)
                  .count();
    std::printf("window 50: %d submits in %lld ms\n", count, static_cast<long long>(ms));
    for (const auto& c : ctxs) {
      ASSERT_TRUE(c->answered());
      ASSERT_EQ(c->result(), 0u);
      ids.insert(c->messageId());
    }
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(2 * count));
  EXPECT_EQ(ids.count(""), 0u);
}

TEST(SmppOracleTest, WhatWeSendIsWhatTheSimulatorDecodes) {
  VEK_REQUIRE_ORACLES();
  vek::testing::TempDir dir;
  std::string log = dir.file("submits.jsonl");
  Simulator sim({}, log);
  ASSERT_TRUE(sim.ready());
  Connection conn;
  ASSERT_EQ(bindTo(conn, sim.port()), 0u);
  struct Case {
    OutboundMessage m;
    const char* want;  // fragments of the simulator's JSON line
  };
  const Case cases[] = {
      {{"+4670111", "+4670222", 0, 0, "", "Braces {} and \xE2\x82\xAC \xC3\xA5",
        flag::kReceiptRequested, false, ""},
       R"("from":"4670111","to":"4670222","dc":0,"esm":0,"rd":1,"udh":[],"text":"Braces {} and € å")"},
      {{"Shop", "+4670222", 0, 8, "", "\xD0\x96\xD0\xB4 \xE2\x82\xAC", 0, false, ""},
       R"("from":"Shop","to":"4670222","dc":8,"esm":0,"rd":0,"udh":[],"text":"Жд €")"},
      {{"1234", "+4670222", 0, 0, "0500030A0201", "First part", 0, false, ""},
       R"("dc":0,"esm":64,"rd":0,"udh":["00030a0201"],"text":"First part")"},
  };
  for (const auto& c : cases) {
    std::string id;
    ASSERT_EQ(SMPPSubmitMessage(conn, 0x34, c.m.sender, c.m.recipient, c.m.pid, c.m.dcs, c.m.udh,
                                c.m.data, c.m.flags, c.m.binary, &id, "", c.m.params),
              0u);
  }
  std::string text;
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] {
        text = vek::testing::readText(log);
        return std::count(text.begin(), text.end(), '\n') >= 3;
      },
      5s));
  for (const auto& c : cases)
    EXPECT_NE(text.find(c.want), std::string::npos) << c.want << "\n" << text;
}

TEST(SmppOracleTest, ReceiptsAndMobileOriginatedMessagesReachTheCallback) {
  VEK_REQUIRE_ORACLES();
  for (const char* stat : {"DELIVRD", "UNDELIV"}) {
    SCOPED_TRACE(stat);
    Simulator sim({"--dlr", "--dlr-delay", "5", "--dlr-stat", stat, "--mo", "3", "--mo-interval",
                   "5", "--mo-text", "Hello \xC3\xA5 {x}", "--mo-from", "46700000009", "--mo-to",
                   "1234"});
    ASSERT_TRUE(sim.ready());
    Inbox inbox;
    Connection conn;
    ASSERT_EQ(bindTo(conn, sim.port()), 0u);
    std::vector<std::string> ids;
    for (int i = 0; i < 5; ++i) {
      std::string id;
      ASSERT_EQ(SMPPSubmitMessage(conn, 0x34, "+4670111", "+467099" + std::to_string(i), 0, 0, "",
                                  "Receipt please", flag::kReceiptRequested, false, &id, "", ""),
                0u);
      ids.push_back(id);
    }
    ASSERT_TRUE(yieldUntil(
        conn, [&] { return inbox.count(flag::kIsReceipt) == 5 && inbox.count(0) == 3; }));
    std::scoped_lock lk(inbox.mu);
    int mo = 0;
    for (const auto& m : inbox.items) {
      if (m.flags & flag::kIsReceipt) {
        auto at = std::find(ids.begin(), ids.end(), m.smsc_message_id);
        ASSERT_NE(at, ids.end()) << m.smsc_message_id;
        EXPECT_EQ(m.sender, "+467099" + std::to_string(at - ids.begin()));
        EXPECT_EQ(m.recipient, "+4670111");
        EXPECT_EQ(m.flags, flag::kIsReceipt |
                               (std::string(stat) == "DELIVRD" ? flag::kDelivered : flag::kFailed));
        EXPECT_NE(m.extra.find("ReceiptMsgIdOrig=" + m.smsc_message_id), std::string::npos)
            << m.extra;
        EXPECT_NE(m.data.find(std::string("stat:") + stat), std::string::npos) << m.data;
      } else {
        ++mo;
        EXPECT_EQ(m.sender, "46700000009");
        EXPECT_EQ(m.recipient, "1234");
        EXPECT_EQ(m.data, "Hello \xC3\xA5 {x} " + std::to_string(mo));
        EXPECT_EQ(m.type, kMessageText);
      }
    }
  }
}

TEST(SmppOracleTest, ThrottledAnswersComeBackAs88) {
  VEK_REQUIRE_ORACLES();
  Simulator sim({"--throttle", "0.1"});
  ASSERT_TRUE(sim.ready());
  Connection conn;
  ASSERT_EQ(bindTo(conn, sim.port(), kBindTypeTransmitter), 0u);
  for (int i = 1; i <= 30; ++i) {
    std::string id;
    uint32_t st =
        SMPPSubmitMessage(conn, 0x34, "", "+4670123", 0, 0, "", "t", 0, false, &id, "", "");
    EXPECT_EQ(st, i % 10 == 0 ? 88u : 0u) << i;
  }
}

// smpp-client.js against a small server on the server entries.
struct ClientRun {
  int exit_code = -1;
  std::string output;
};

ClientRun runClient(uint16_t port, std::vector<std::string> extra) {
  platform::ProcessOptions o;
  o.argv = {"node",          vek::testing::oraclesDir() + "/node/smpp-client.js",
            "--port",        std::to_string(port),
            "--keep",        "20",
            "--max-seconds", "30"};
  o.argv.insert(o.argv.end(), extra.begin(), extra.end());
  o.time_limit = 40s;
  auto r = platform::runProcess(o);
  return {r.exitedWith(0) ? 0 : r.exit_code, r.output};
}

TEST(SmppOracleTest, ServerEntriesServeAnIndependentClient) {
  VEK_REQUIRE_ORACLES();
  TestServer server({});
  // Deliveries wait for the first receiving client.
  server.queueDeliver({"+4670555", "1234", 0, 0, "", "Deliver {GSM} \xE2\x82\xAC", 0, false, ""});
  server.queueDeliver({"+4670555", "1234", 0, 8, "", "\xD0\x96\xC3\xA5\xE2\x82\xAC", 0, false, ""});
  server.queueDeliver({"+4670555", "1234", 0, 0, "050003070201", "Segment one", 0, false, ""});
  server.probe_enquire_link = true;
  auto texts = runClient(server.port(), {"--count", "2", "--window", "1", "--text",
                                         "Plain text \xC3\xA9", "--wait-seconds", "1"});
  ASSERT_EQ(texts.exit_code, 0) << texts.output;
  for (const char* want :
       {R"("text": "Deliver {GSM} €")", R"("text": "Жå€")", R"("text": "Segment one")",
        R"("esm": 64)", R"("dc": 8)", R"("from": "4670555")", R"("resp_ok": 2)"})
    EXPECT_NE(texts.output.find(want), std::string::npos) << want << "\n" << texts.output;
  for (uint32_t st : server.deliverResults()) EXPECT_EQ(st, 0u);
  EXPECT_EQ(server.enquire_results_ok.load(), 1);

  auto ucs2 = runClient(server.port(), {"--count", "1", "--ucs2"});
  ASSERT_EQ(ucs2.exit_code, 0) << ucs2.output;
  auto udh = runClient(server.port(), {"--count", "1", "--long", "--window", "3"});
  ASSERT_EQ(udh.exit_code, 0) << udh.output;

  auto got = server.received();
  ASSERT_EQ(got.size(), 2u + 1u + 3u);
  EXPECT_EQ(got[0].data, "Plain text \xC3\xA9");
  EXPECT_EQ(got[0].sender, "1234");
  EXPECT_EQ(got[0].recipient, "+46700000000");
  EXPECT_EQ(got[0].link_name, "test");
  EXPECT_EQ(got[2].dcs, 8);
  EXPECT_EQ(got[2].type, kMessageBinary);
  EXPECT_EQ(got[2].data,
            platform::toHex(protocols::utf8ToUcs2("UCS-2 test \xD0\x96\xC3\xA5\xE2\x82\xAC")));
  std::string joined;
  for (size_t i = 3; i < 6; ++i) {
    EXPECT_EQ(got[i].udh.substr(0, 6), "050003");
    EXPECT_EQ(got[i].udh.substr(8), "030" + std::to_string(i - 2));
    joined += got[i].data;
  }
  std::string long_text;  // the client's default: 21 times the phrase, cut at 400
  for (int i = 0; i < 21; ++i) long_text += "Long message test. ";
  EXPECT_EQ(joined, long_text.substr(0, 400));

  // A wrong password is refused and the client gives up.
  auto wrong = runClient(server.port(), {"--password", "nope", "--count", "1"});
  EXPECT_EQ(wrong.exit_code, 1) << wrong.output;
  EXPECT_EQ(server.rejected.load(), 1);
}

}  // namespace
}  // namespace vek::smpp
