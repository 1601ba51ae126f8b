// Whole client connections over loopback: the bind decision and its
// back-off, the connection cap, what each bind type may do, deliveries and
// the answers that decide them, the window, inactivity and re-validation,
// the limits on connections that never bind, and clients that misbehave.
#include <gtest/gtest.h>

#include <barrier>

#include "platform/process.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/tlv.h"
#include "queue/retry_policy.h"
#include "server_env.h"
#include "tls/tls.h"

namespace vek::smpp_server::testing {
namespace {

class SessionTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    // Kept deliveries wait long enough not to come back during a test.
    base_ = "RetryDelayAfterAttempts=0\r\nRetryDelay=600\r\n";
    configure(base_);
    add(account("alice"));
  }
  // A client bound as `command_id` (bind_transceiver by default).
  std::unique_ptr<RawClient> bound(const std::string& name = "alice",
                                   uint32_t command_id = cmd::kBindTransceiver,
                                   const std::string& from = "") {
    auto c = std::make_unique<RawClient>();
    EXPECT_TRUE(c->connect(port_, from));
    EXPECT_EQ(c->bind(command_id, name, "pw"), status::kOk);
    return c;
  }
  std::string flags() const { return data_ + "private/SMPPData/ActiveUsers/"; }
  std::string base_;
};

TEST_F(SessionTest, BindDecisionsAndTheBackoffBeforeEachRefusal) {
  hostlib::Account off = account("noaccess");
  off.smpp_login = false;
  add(off);
  startServer();
  struct Attempt {
    std::string id, password;
    uint32_t status;
  } attempts[] = {
      {"alice", "wrong", status::kInvPaswd}, {"alice", "wrong", status::kInvPaswd},
      {"alice", "wrong", status::kInvPaswd}, {"nobody", "pw", status::kInvPaswd},
      {"noaccess", "pw", status::kBindFail}, {"alice", "", status::kInvPaswd},
  };
  for (const Attempt& a : attempts) {
    RawClient c;
    ASSERT_TRUE(c.connect(port_));
    EXPECT_EQ(c.bind(cmd::kBindTransmitter, a.id, a.password), a.status) << a.id;
    EXPECT_TRUE(c.closedWithin(2s)) << a.id;  // a refused connection ends
  }
  // Every refusal waited one second longer than the one before.
  EXPECT_EQ(delays(), (std::vector<int>{6, 7, 8, 9, 10, 11}));

  // An accepted login resets the count; the flag file carries the stored
  // name, not the spelling the client used.
  auto c = std::make_unique<RawClient>();
  ASSERT_TRUE(c->connect(port_));
  ASSERT_EQ(c->bind(cmd::kBindReceiver, "ALICE", "PW"), status::kOk);
  ASSERT_TRUE(vek::testing::waitUntil([&] { return files(flags()).size() == 1; }, 5s));
  EXPECT_NE(files(flags())[0].find("-R-alice.FLG"), std::string::npos) << files(flags())[0];
  {
    RawClient wrong;
    ASSERT_TRUE(wrong.connect(port_));
    EXPECT_EQ(wrong.bind(cmd::kBindTransmitter, "alice", "nope"), status::kInvPaswd);
  }
  EXPECT_EQ(delays().back(), 6);
  c.reset();  // the client goes: so does its flag file
  EXPECT_TRUE(vek::testing::waitUntil([&] { return files(flags()).empty(); }, 5s));
}

TEST_F(SessionTest, TheConnectionThatWouldExceedTheMaximumIsRefused) {
  hostlib::Account bob = account("bob");
  bob.throughput = "0/1/2";  // two connections for bob, no pacing
  add(bob);
  startServer();

  // Eight at once for alice: exactly the default maximum of four get in.
  constexpr int kClients = 8;
  std::vector<RawClient> clients(kClients);
  std::vector<uint32_t> results(kClients);
  std::barrier go(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      ASSERT_TRUE(clients[i].connect(port_));
      go.arrive_and_wait();
      results[i] = clients[i].bind(cmd::kBindTransmitter, "alice", "pw");
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::count(results.begin(), results.end(), status::kOk), 4);
  EXPECT_EQ(std::count(results.begin(), results.end(), status::kBindFail), 4);

  // A place given back is a place for the next one.
  for (int i = 0; i < kClients; ++i)
    if (results[i] == status::kOk) {
      clients[i].close();
      break;
    }
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] { return state_.accounts.record("alice")->connections() == 3; }, 5s));
  RawClient again;
  ASSERT_TRUE(again.connect(port_));
  EXPECT_EQ(again.bind(cmd::kBindTransmitter, "alice", "pw"), status::kOk);

  // The account's own maximum replaces the gateway's.
  auto b1 = bound("bob"), b2 = bound("bob");
  RawClient b3;
  ASSERT_TRUE(b3.connect(port_));
  EXPECT_EQ(b3.bind(cmd::kBindTransmitter, "bob", "pw"), status::kBindFail);
}

TEST_F(SessionTest, ATransmitterNeverReceivesAndAReceiverCannotSubmit) {
  const std::string waiting = queueFor("alice", "for a receiver");
  startServer();
  {
    auto tx = bound("alice", cmd::kBindTransmitter);
    std::string id;
    EXPECT_EQ(tx->submit(RawClient::submitSm("+4471", "sent"), &id), status::kOk);
    EXPECT_EQ(id.size(), 8u);
    smpp::Pdu p;
    EXPECT_FALSE(tx->readUntil(cmd::kDeliverSm, &p, 700ms));
    EXPECT_TRUE(platform::isRegularFile(waiting));
  }
  auto rx = bound("alice", cmd::kBindReceiver);
  smpp::Pdu p;
  ASSERT_TRUE(rx->readUntil(cmd::kDeliverSm, &p));
  EXPECT_EQ(p.short_message, "for a receiver");
  EXPECT_EQ(p.source.addr, "4470");
  EXPECT_EQ(p.destination.addr, "12345");
  rx->send(smpp::makeResponse(p, status::kOk));
  EXPECT_TRUE(vek::testing::waitUntil([&] { return !platform::pathExists(waiting); }, 5s));
  EXPECT_EQ(rx->submit(RawClient::submitSm("+4471", "refused")), status::kInvBndSts);
  EXPECT_EQ(files(data_ + "Q/", "*.req").size(), 1u);  // the transmitter's message
}

// Window 0 (one at a time) and a window of 4.
class DeliveryTest : public SessionTest, public ::testing::WithParamInterface<int> {};

TEST_P(DeliveryTest, TheClientsAnswerDecidesEachFile) {
  configure(base_ + "SMPPServerAsyncWindowSize=" + std::to_string(GetParam()) + "\r\n");
  struct Case {
    const char* text;
    uint32_t answer;
    bool kept;        // still queued, with a retry record
    bool error_copy;  // failed for good: ".ERR" kept
  } cases[] = {
      {"ok", status::kOk, false, false},
      {"throttled", status::kThrottled, true, false},
      {"full", status::kMsgQFul, true, false},
      {"syserr", status::kSysErr, true, false},
      {"tempapp", status::kRxTAppn, true, false},
      {"refused", status::kSubmitFail, false, true},
      {"baddest", status::kInvDstAdr, false, true},
  };
  std::map<std::string, std::string> path_of;
  for (const Case& c : cases) path_of[c.text] = queueFor("alice", c.text);
  // A receipt for the client goes with its receipt marking.
  const std::string receipt = queueOf("alice") + "R.req";
  vek::testing::writeText(
      receipt,
      "[SMS]\r\nSender=+4470\r\nPhoneNumber=1234\r\nData=id:00000A1B stat:DELIVRD"
      "\r\nReceiptDelivered=Yes\r\nReceiptMessageId=00000A1B\r\n");
  startServer();
  auto c = bound();
  size_t answered = 0;
  bool receipt_seen = false;
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (answered < std::size(cases) + 1 && std::chrono::steady_clock::now() < deadline) {
    smpp::Pdu p;
    if (!c->readUntil(cmd::kDeliverSm, &p, 2s)) continue;
    uint32_t answer = status::kOk;
    for (const Case& k : cases)
      if (p.short_message == k.text) answer = k.answer;
    if (p.short_message.rfind("id:", 0) == 0) {
      receipt_seen = true;
      EXPECT_EQ(p.esm_class & 0x3C, 0x04);
      const smpp::Tlv* id = p.findTlv(smpp::tag::kReceiptedMessageId);
      ASSERT_NE(id, nullptr);
      EXPECT_EQ(id->value, std::string("00000A1B") + '\0');
    }
    c->send(smpp::makeResponse(p, answer));
    ++answered;
  }
  EXPECT_TRUE(receipt_seen);
  EXPECT_TRUE(vek::testing::waitUntil([&] { return !platform::pathExists(receipt); }, 5s));
  for (const Case& k : cases) {
    const std::string& path = path_of[k.text];
    EXPECT_TRUE(vek::testing::waitUntil([&] { return platform::pathExists(path) == k.kept; }, 5s))
        << k.text;
    if (k.kept) {
      queue::SMSMessage m = load(path);
      EXPECT_TRUE(m.HasErrorDetail) << k.text;
      EXPECT_EQ(m.RetryCount, 1u) << k.text;
      EXPECT_EQ(m.Data, k.text);
    }
    EXPECT_EQ(platform::pathExists(queue::errorCopyPath(path)), k.error_copy) << k.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, DeliveryTest, ::testing::Values(0, 4));

TEST_F(SessionTest, TheWindowHoldsItsSizeAndADisconnectKeepsWhatWasNotAnswered) {
  configure(base_ + "SMPPServerAsyncWindowSize=3\r\n");
  for (int i = 0; i < 10; ++i) queueFor("alice", "m" + std::to_string(i));
  startServer();
  auto c = bound("alice", cmd::kBindReceiver);
  std::vector<smpp::Pdu> got(3);
  for (auto& p : got) ASSERT_TRUE(c->readUntil(cmd::kDeliverSm, &p));
  smpp::Pdu more;
  EXPECT_FALSE(c->readUntil(cmd::kDeliverSm, &more, 500ms));  // the window is full
  c->send(smpp::makeResponse(got[0], status::kOk));
  ASSERT_TRUE(c->readUntil(cmd::kDeliverSm, &more));  // one answered: room for one
  c.reset();                                          // gone with three deliveries unanswered

  ASSERT_TRUE(vek::testing::waitUntil([&] { return state_.sessions.load() == 0; }, 10s));
  int retried = 0, untouched = 0;
  for (const std::string& f : files(queueOf("alice"), "*.req")) {
    queue::SMSMessage m = load(f);
    (m.HasErrorDetail && m.RetryCount == 1 ? retried : untouched)++;
  }
  EXPECT_EQ(retried, 3);
  EXPECT_EQ(untouched, 6);
}

TEST_F(SessionTest, SilenceAndAccountChangesEndTheSession) {
  configure(base_ + "SMPPServerEnquireLink=1\r\n");
  startServer();
  {
    auto c = bound();
    EXPECT_TRUE(c->closedWithin(4s));  // "Closing inactive connection"
    EXPECT_TRUE(vek::testing::waitUntil([&] { return files(flags()).empty(); }, 5s));
  }

  configure(base_ + "SMPPServerEnquireLink=0\r\nSMPPServerValidateUserInterval=1\r\n");
  struct Change {
    const char* field;
    const char* value;
  } changes[] = {{"smpp_login", "0"},
                 {"password", "other"},
                 {"addresses", "10.*.*.*"},
                 {"disabled", "1"},
                 {nullptr, nullptr}};
  for (const Change& ch : changes) {
    (void)hostlib::accountStore()->remove("alice");
    add(account("alice"));
    auto c = bound();
    // Re-validation of an unchanged account keeps the connection.
    if (&ch == &changes[0]) {
      ASSERT_FALSE(c->closedWithin(1200ms));
    }
    if (ch.field) {
      update("alice", ch.field, ch.value);
    } else {
      ASSERT_TRUE(hostlib::accountStore()->remove("alice").ok());
    }
    EXPECT_TRUE(c->closedWithin(4s)) << (ch.field ? ch.field : "deleted");
  }
}

TEST_F(SessionTest, ConnectionsThatNeverBindAreCappedAndTimedOut) {
  configure(base_ + "SMPPServerMaxUnboundPerAddress=3\r\nSMPPServerMaxUnboundConnections=5\r\n");
  hooks_.bind_timeout = 1500ms;
  startServer();
  std::vector<RawClient> idle(5);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(idle[i].connect(port_, "127.0.0.2"));
  RawClient over;
  ASSERT_TRUE(over.connect(port_, "127.0.0.2"));
  EXPECT_TRUE(over.closedWithin(1s));  // the address is full
  for (int i = 3; i < 5; ++i) ASSERT_TRUE(idle[i].connect(port_, "127.0.0.3"));
  // All places are taken: a newcomer from a quieter address takes the
  // place of the busiest address's oldest connection.
  RawClient another;
  ASSERT_TRUE(another.connect(port_, "127.0.0.4"));
  EXPECT_TRUE(idle[0].closedWithin(1200ms));
  EXPECT_FALSE(idle[1].closedWithin(50ms));
  ASSERT_TRUE(vek::testing::waitUntil([&] { return state_.unbound.total() == 5; }, 2s));
  EXPECT_EQ(state_.unbound.of("127.0.0.4"), 1);

  // Nobody binds within the limit: all are closed and the places free.
  for (auto& c : idle) EXPECT_TRUE(c.closedWithin(4s));
  ASSERT_TRUE(vek::testing::waitUntil([&] { return state_.unbound.total() == 0; }, 5s));
  // Bound connections do not count against the limits.
  std::vector<std::unique_ptr<RawClient>> bound_ones;
  for (int i = 0; i < 4; ++i)
    bound_ones.push_back(bound("alice", cmd::kBindTransmitter, "127.0.0.2"));
  RawClient fresh;
  ASSERT_TRUE(fresh.connect(port_, "127.0.0.2"));
  EXPECT_EQ(fresh.bind(cmd::kBindTransmitter, "alice", "pw"), status::kBindFail);  // the cap of 4
  EXPECT_EQ(refused_.load(), 1);
}

TEST_F(SessionTest, AClientThatNeverReadsDoesNotHoldUpOthers) {
  startServer();
  auto flooder = bound("alice", cmd::kBindTransmitter);
  // Refused submissions (no recipient): answers pile up unread, no files.
  smpp::Pdu bad = RawClient::submitSm("", "x");
  platform::ByteWriter w;
  for (uint32_t i = 0; i < 20000; ++i) {
    bad.sequence = 1000 + i;
    smpp::encodePdu(bad, &w);
  }
  platform::setNonBlocking(flooder->fd(), true);
  std::thread pump([&] {
    (void)platform::sendAll(flooder->fd(), w.str(), 3000);  // may stall: nobody reads
  });
  auto other = bound("alice", cmd::kBindTransmitter);
  std::string id;
  EXPECT_EQ(other->submit(RawClient::submitSm("+4472", "served"), &id), status::kOk);
  pump.join();
  flooder.reset();
  other.reset();
  EXPECT_TRUE(vek::testing::waitUntil([&] { return state_.sessions.load() == 0; }, 40s));
  EXPECT_EQ(files(data_ + "Q/", "*.req").size(), 1u);
}

TEST_F(SessionTest, ATlsClientBindsAndSubmits) {
  platform::ProcessOptions po;
  const std::string priv = data_ + "private/";
  ASSERT_TRUE(platform::makeDirectories(priv).ok());
  po.argv = {"openssl",
             "req",
             "-x509",
             "-newkey",
             "ec",
             "-pkeyopt",
             "ec_paramgen_curve:prime256v1",
             "-nodes",
             "-keyout",
             priv + "SSLKEY.PEM",
             "-out",
             priv + "SSLCERT.PEM",
             "-days",
             "2",
             "-subj",
             "/CN=localhost"};
  po.time_limit = 20s;
  if (!platform::runProcess(po).exitedWith(0))
    GTEST_SKIP() << "openssl could not make a certificate";
  ASSERT_TRUE(tls::sslInitLib());
  tls::sslSetCertificateDirectory(priv);
  tls_ = true;
  startServer();

  auto fd = platform::connectTcp("127.0.0.1", port_, 2000);
  ASSERT_TRUE(fd.ok());
  std::string error;
  tls::ClientOptions o;
  o.verify = false;
  tls::TlsSession* s = tls::sslInitSession(fd->get(), &error, o);
  ASSERT_NE(s, nullptr) << error;
  smpp::Connection conn;
  ASSERT_EQ(smpp::SMPPConnect(conn, tls::Stream(std::move(*fd), tls::SessionPtr(s)), "tls", "", 0),
            status::kOk);
  ASSERT_EQ(smpp::SMPPBind(conn, 0x34, smpp::kBindTypeTransmitter, "alice", "pw", ""), status::kOk);
  std::string id;
  ASSERT_EQ(smpp::SMPPSubmitMessage(conn, 0x34, "1234", "+4473", 0, 0, "", "over TLS", 0, false,
                                    &id, "", ""),
            status::kOk);
  auto queued = files(data_ + "Q/", "*.req");
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(load(queued[0]).Data, "over TLS");
  EXPECT_EQ(load(queued[0]).ReceiptMessageId, id);
  smpp::SMPPUnbind(conn, 0x34);
}

}  // namespace
}  // namespace vek::smpp_server::testing
