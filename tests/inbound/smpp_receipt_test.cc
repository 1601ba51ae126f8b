// Delivery receipts from real SMPP message centres through the SMPP engine,
// the gateway's receive callback and the receipt thread into the submitting
// account's queue. The test plays the link sender: it binds, submits, and
// records each message centre id in the message-id store as the sender
// does after a successful submission (SMSCMessageIdAdd).
//
// Peers: smsc-sim.js --dlr (receipts with the receipted_message_id and
// message_state TLVs; decimal ids, or hexadecimal with --msgid-hex) and
// text_receipt_smsc.js beside this file (receipts in the text form only;
// --dlr-first sends the receipt before the submit answer).
//
// Size: VEKSMS_RECEIPT_COUNT messages per peer (default 20).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <set>

#include "hostlib/message_ids.h"
#include "inbound/inbound_env.h"
#include "inbound/receipt_worker.h"
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

std::string textPeer() {
  return std::string(VEKSMS_TESTS_SOURCE_DIR) + "/inbound/text_receipt_smsc.js";
}

class SmppReceiptTest : public InboundTest {
 protected:
  void SetUp() override {
    InboundTest::SetUp();
    clock_.set(platform::SystemTime(std::chrono::seconds(platform::unixNow())));
    account("alice", true);
  }
  void TearDown() override {
    smpp::SMPPSetReceiveMessageCallback(nullptr);
    peer_.kill();
    hostlib::closeAllMessageIdStores();
    InboundTest::TearDown();
  }
  bool start(std::vector<std::string> argv) {
    port_ = freePort();
    argv.insert(argv.end(), {"--port", std::to_string(port_), "--max-seconds", "120"});
    platform::ProcessOptions o;
    o.argv = std::move(argv);
    o.extra_env = {"NODE_PATH=" + vek::testing::oraclesDir() + "/node/node_modules"};
    auto child = platform::ChildProcess::spawn(o);
    if (!child.ok()) return false;
    peer_ = std::move(*child);
    if (!vek::testing::waitUntil([&] { return platform::connectTcp("127.0.0.1", port_, 200).ok(); },
                                 10s))
      return false;
    smpp::SMPPSetReceiveMessageCallback(SMPPReceiveMessageCallback);
    link_ = "SMPP - 127.0.0.1:" + std::to_string(port_);
    conn_ = std::make_unique<smpp::Connection>();
    return smpp::SMPPConnect(*conn_, tls::Stream(), link_, "127.0.0.1", port_) == 0 &&
           smpp::SMPPBind(*conn_, 0x34, smpp::kBindTypeTransceiver, "gw", "pw", "") == 0;
  }
  // Submits `count` messages asking for receipts; records each centre id
  // under a gateway id of alice's unless `record` is false. Returns the
  // centre ids by gateway id.
  std::map<std::string, std::string> submit(int count, bool record = true) {
    std::map<std::string, std::string> ids;
    for (int i = 0; i < count; ++i) {
      std::string id;
      EXPECT_EQ(smpp::SMPPSubmitMessage(*conn_, 0x34, "12345", "+4477009000" + std::to_string(i), 0,
                                        0, "", "hello " + std::to_string(i),
                                        queue::kFlagReceiptRequested, false, &id, "", ""),
                0u);
      const std::string gateway_id = platform::format("0000%04X", 0xA000 + i);
      if (record) {
        EXPECT_TRUE(hostlib::SMSCMessageIdAdd(link_, id, gateway_id, "alice", "12345",
                                              "+4477009000" + std::to_string(i)));
      }
      ids[gateway_id] = id;
    }
    return ids;
  }
  // Services the connection and runs receipt passes until alice holds
  // `count` receipts (bounded).
  bool receiptsArrive(size_t count, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool lost = false;
    while (std::chrono::steady_clock::now() < deadline && !lost) {
      smpp::SMPPYield(*conn_, 0x34, 20ms, &lost);
      worker_.runPass();
      if (files(queueOf("alice"), "*.req").size() >= count) return true;
    }
    return false;
  }
  void expectOwnIds(const std::map<std::string, std::string>& ids) {
    std::set<std::string> seen;
    for (const std::string& f : files(queueOf("alice"), "*.req")) {
      const queue::SMSMessage m = load(f);
      EXPECT_TRUE(ids.count(m.ReceiptMessageId)) << m.ReceiptMessageId;
      EXPECT_EQ(m.Data.rfind("id:" + m.ReceiptMessageId + " ", 0), 0u) << m.Data;
      EXPECT_EQ(m.MessageFlags & queue::kFlagReceiptDelivered, queue::kFlagReceiptDelivered);
      seen.insert(m.ReceiptMessageId);
    }
    EXPECT_EQ(seen.size(), ids.size());
  }
  int count() const {
    const char* env = ::getenv("VEKSMS_RECEIPT_COUNT");
    return env ? std::max(1, std::atoi(env)) : 20;
  }

  platform::FakeClock clock_;
  platform::ScopedClock scoped_{&clock_};
  uint16_t port_ = 0;
  std::string link_;
  platform::ChildProcess peer_;
  std::unique_ptr<smpp::Connection> conn_;
  ReceiptWorker worker_;
};

TEST_F(SmppReceiptTest, TlvReceiptsWithDecimalAndHexIdsReachTheAccountUnderItsIds) {
  VEK_REQUIRE_ORACLES();
  for (bool hex : {false, true}) {
    std::vector<std::string> argv = {"node", vek::testing::oraclesDir() + "/node/smsc-sim.js",
                                     "--dlr", "--dlr-delay", "5"};
    if (hex) argv.push_back("--msgid-hex");
    ASSERT_TRUE(start(argv)) << hex;
    const auto ids = submit(count());
    ASSERT_TRUE(receiptsArrive(ids.size(), 30s)) << hex;
    expectOwnIds(ids);
    // Hex ids really were hex text.
    bool letters = false;
    for (const auto& [gateway_id, centre_id] : ids)
      letters = letters || centre_id.find_first_of("abcdefABCDEF") != std::string::npos;
    EXPECT_EQ(letters, hex && ids.size() > 9);
    smpp::SMPPUnbind(*conn_, 0x34);
    conn_.reset();
    peer_.kill();
    for (const std::string& f : files(queueOf("alice"))) (void)platform::removeFile(f);
  }
}

TEST_F(SmppReceiptTest, TextOnlyReceiptsAreMatchedByTheIdInTheirText) {
  VEK_REQUIRE_ORACLES();
  ASSERT_TRUE(start({"node", textPeer(), "--hex"}));
  const auto ids = submit(count());
  ASSERT_TRUE(receiptsArrive(ids.size(), 30s));
  expectOwnIds(ids);
}

TEST_F(SmppReceiptTest, AReceiptAheadOfItsSubmitAnswerIsKeptAndMatchedLater) {
  VEK_REQUIRE_ORACLES();
  ASSERT_TRUE(start({"node", textPeer(), "--dlr-first"}));
  const auto ids = submit(1, false);
  // The receipt came in while the submission waited for its answer.
  ASSERT_EQ(files(inboundDir(), "*.rct").size(), 1u);
  EXPECT_EQ(worker_.runPass().retried, 1u);
  // Now the sender records the id; the receipt's next try finds it.
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd(link_, ids.begin()->second, ids.begin()->first, "alice",
                                        "12345", "+44770090000"));
  EXPECT_EQ(worker_.runPass().skipped, 1u);  // not before a minute has passed
  clock_.advance(60s);
  EXPECT_EQ(worker_.runPass().completed, 1u);
  expectOwnIds(ids);
}

}  // namespace
}  // namespace vek::inbound
