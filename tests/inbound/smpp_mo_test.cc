// Messages from a message centre simulator (smsc-sim.js --mo) through the
// SMPP engine and the receive callback into the accounts' queues: the
// receiving connection is bound here (the link sender, which normally owns
// it, is not needed for the path under test), the inbound threads run as
// the service starts them.
//
// Size: VEKSMS_MO_COUNT messages per session (default 200) on
// VEKSMS_MO_SESSIONS receiver sessions (default 1; the simulator sends at
// most one message per millisecond and session); the test prints the rate
// from the bind to the last account file (bench/inbound_mo_bench.sh).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <map>
#include <memory>

#include "foundation/thread_registry.h"
#include "inbound/inbound_env.h"
#include "inbound/inbound_worker.h"
#include "inbound/smpp_receive.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "protocols/smpp/client.h"

namespace vek::inbound {
namespace {

using namespace std::chrono_literals;

uint16_t freePort() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  return l.ok() ? platform::localPort(l->get()) : 0;
}

class SmppMoTest : public InboundTest {
 protected:
  void TearDown() override {
    platform::requestShutdown();
    foundation::inboundEventA().set();
    foundation::inboundEventB().set();
    EXPECT_TRUE(foundation::waitForWorkers(20s));
    smpp::SMPPSetReceiveMessageCallback(nullptr);
    sim_.kill();
    InboundTest::TearDown();
  }
  // smsc-sim.js with `extra` options on a free port; a receiver (or
  // transceiver) bound to it whose callback is the gateway's.
  bool start(const std::vector<std::string>& extra, int bind_type, int sessions = 1) {
    port_ = freePort();
    platform::ProcessOptions o;
    o.argv = {"node",           vek::testing::oraclesDir() + "/node/smsc-sim.js",
              "--port",         std::to_string(port_),
              "--max-seconds",  "300",
              "--summary-file", dir_.file("sum.json")};
    o.argv.insert(o.argv.end(), extra.begin(), extra.end());
    auto child = platform::ChildProcess::spawn(o);
    if (!child.ok()) return false;
    sim_ = std::move(*child);
    if (!vek::testing::waitUntil([&] { return platform::connectTcp("127.0.0.1", port_, 200).ok(); },
                                 10s))
      return false;
    smpp::SMPPSetReceiveMessageCallback(SMPPReceiveMessageCallback);
    const std::string link = "SMPP - 127.0.0.1:" + std::to_string(port_);
    for (int i = 0; i < sessions; ++i) {
      conns_.push_back(std::make_unique<smpp::Connection>());
      if (smpp::SMPPConnect(*conns_.back(), tls::Stream(), link, "127.0.0.1", port_) != 0 ||
          smpp::SMPPBind(*conns_.back(), 0x34, bind_type, "gw", "pw", "") != 0)
        return false;
    }
    return true;
  }
  smpp::Connection& conn() { return *conns_.front(); }
  // Services the connection until `done` holds (bounded).
  bool yieldUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool lost = false;
    // `done` may list directories: asked at most every 20 ms.
    auto next_check = std::chrono::steady_clock::now();
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= next_check) {
        if (done()) return true;
        next_check = now + 20ms;
      }
      if (lost || now > deadline) return false;
      for (auto& c : conns_) smpp::SMPPYield(*c, 0x34, conns_.size() > 1 ? 1ms : 20ms, &lost);
    }
  }
  void startInboundThreads() {
    for (int kind : {kInboundMessagesAndJoining, kInboundReceipts}) {
      ASSERT_TRUE(foundation::startWorkerThread("ThreadProcessInboundSMS",
                                                [kind] { ThreadProcessInboundSMS(kind); }));
    }
  }

  uint16_t port_ = 0;
  platform::ChildProcess sim_;
  std::vector<std::unique_ptr<smpp::Connection>> conns_;
};

TEST_F(SmppMoTest, MobileOriginatedMessagesLandInTheTablesAccountOnceEach) {
  VEK_REQUIRE_ORACLES();
  const char* env = ::getenv("VEKSMS_MO_COUNT");
  const int per_session = env ? std::max(1, std::atoi(env)) : 200;
  const char* sessions_env = ::getenv("VEKSMS_MO_SESSIONS");
  const int sessions = sessions_env ? std::clamp(std::atoi(sessions_env), 1, 32) : 1;
  const int count = per_session * sessions;
  account("alice");
  configure("", "[Inbound SMS Routing]\r\nalice=1234\r\n");
  startInboundThreads();
  ASSERT_TRUE(
      start({"--mo", std::to_string(per_session), "--mo-interval", "0", "--mo-text", "MO text"},
            smpp::kBindTypeReceiver, sessions));
  const auto t0 = std::chrono::steady_clock::now();
  auto delivered = [&] { return files(queueOf("alice"), "*.req").size() >= size_t(count); };
  ASSERT_TRUE(yieldUntil(delivered, std::chrono::seconds(30 + count / 200)));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("smsc-sim --mo: %d messages into the account queue in %.2f s (%.0f/s)\n", count,
              seconds, count / seconds);
  std::map<std::string, int> texts;
  for (const std::string& f : files(queueOf("alice"), "*.req")) {
    queue::SMSMessage m = load(f);
    EXPECT_EQ(m.Sender, "46700000001");
    ++texts[m.Data];
  }
  // Each session numbers its messages 1..n: every text once per session.
  EXPECT_EQ(texts.size(), size_t(per_session));
  for (const auto& [text, times] : texts) EXPECT_EQ(times, sessions) << text;
}

TEST_F(SmppMoTest, NothingStoredAnswersWithATemporaryError) {
  VEK_REQUIRE_ORACLES();
  // The inbound directory is a file: nothing can be stored.
  vek::testing::writeText(data_ + "SMS-IN", "");
  ASSERT_TRUE(start({"--mo", "5", "--mo-interval", "1"}, smpp::kBindTypeReceiver));
  yieldUntil([] { return false; }, 1s);
  smpp::SMPPUnbind(conn(), 0x34);
  ::kill(sim_.pid(), SIGTERM);
  EXPECT_TRUE(vek::testing::waitUntil(
      [&] { return !vek::testing::readText(dir_.file("sum.json")).empty(); }, 10s));
  const std::string summary = vek::testing::readText(dir_.file("sum.json"));
  EXPECT_NE(summary.find("\"mo_sent\": 5"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\"mo_acked\": 0"), std::string::npos) << summary;
}

TEST_F(SmppMoTest, ReceiptsForSentMessagesWaitToBeResolved) {
  VEK_REQUIRE_ORACLES();
  ASSERT_TRUE(start({"--dlr", "--dlr-delay", "10"}, smpp::kBindTypeTransceiver));
  std::string id;
  ASSERT_EQ(smpp::SMPPSubmitMessage(conn(), 0x34, "12345", "+447700900001", 0, 0, "", "hi", 0x02,
                                    false, &id, "", ""),
            0u);
  ASSERT_TRUE(yieldUntil([&] { return !files(inboundDir(), "*.rct").empty(); }, 10s));
  queue::SMSMessage r = load(files(inboundDir(), "*.rct")[0]);
  EXPECT_EQ(r.ReceiptMessageId, id);
  EXPECT_EQ(r.MessageFlags, queue::kFlagIsReceipt | queue::kFlagReceiptDelivered);
  EXPECT_EQ(r.ModemName, "SMPP - 127.0.0.1:" + std::to_string(port_));
}

}  // namespace
}  // namespace vek::inbound
