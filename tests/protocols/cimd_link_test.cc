// The CIMD2 entries on a live connection: against a raw centre for bad
// input, packet-number matching and the callbacks, against the independent
// simulator (cimd-smsc-sim.js) for what a centre decodes and sends back, and
// against Kannel's test_cimd2 as a second centre. The peer tests skip when
// the peers are not installed.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "protocols/cimd/client.h"
#include "protocols/cimd/message.h"
#include "protocols/cimd/packet.h"
#include "support/test_support.h"
#include "text_link_harness.h"

namespace vek::cimd {
namespace {

using namespace std::chrono_literals;
using protocols::testing::jsonString;
using protocols::testing::logLines;
using protocols::testing::PeerProcess;
using protocols::testing::RawCentre;
using protocols::testing::RecordingRelay;
using protocols::testing::simulatorArgv;
namespace flag = protocols::flag;
namespace local = protocols::local;

const std::string kLink = "CIMD - test";

struct Inbox {
  std::mutex mu;
  std::vector<InboundMessage> items;
  std::vector<std::string> plain;  // sender ":" data of the plain callback
  Inbox(bool extended = true) {
    if (extended) {
      CIMDSetReceiveMessageCallbackEx([this](const InboundMessage& m) {
        std::scoped_lock lk(mu);
        items.push_back(m);
        return 1;
      });
    }
    CIMDSetReceiveMessageCallback([this](const std::string&, const std::string& sender, uint8_t,
                                         uint8_t, const std::string&, const std::string& data) {
      std::scoped_lock lk(mu);
      plain.push_back(sender + ":" + data);
      return 1;
    });
  }
  ~Inbox() {
    CIMDSetReceiveMessageCallbackEx(nullptr);
    CIMDSetReceiveMessageCallback(nullptr);
  }
  size_t count(uint32_t receipt_flag) {
    std::scoped_lock lk(mu);
    return static_cast<size_t>(std::count_if(items.begin(), items.end(), [&](const auto& m) {
      return (m.flags & flag::kIsReceipt) == receipt_flag;
    }));
  }
};

bool yieldUntil(Connection& conn, const std::function<bool()>& pred,
                std::chrono::milliseconds limit = 10s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  bool error = false;
  while (!pred()) {
    if (error || std::chrono::steady_clock::now() > deadline) return false;
    CIMDYield(kLink, conn, 20ms, &error);
  }
  return true;
}

void yieldFor(Connection& conn, int rounds) {
  bool error = false;
  for (int i = 0; i < rounds && !error; ++i) CIMDYield(kLink, conn, 10ms, &error);
}

uint32_t submit(Connection& conn, const protocols::OutboundMessage& m, std::string* id) {
  return CIMDSubmitMessage(kLink, conn, m.sender, m.recipient, m.pid, m.dcs, m.udh, m.data, m.flags,
                           m.binary, id, "test.req", m.params);
}

Packet parsed(const std::string& raw) {
  Packet p;
  if (raw.size() >= 2) parsePacket(raw.substr(1, raw.size() - 2), &p);
  return p;
}

struct RawLink {
  RawCentre centre;
  Connection conn;
  RawLink() {
    EXPECT_EQ(CIMDConnect(kLink, conn, tls::Stream(), "127.0.0.1", centre.port()), 0u);
    EXPECT_TRUE(centre.accept());
    std::thread smsc([&] {
      Packet login = parsed(centre.readFrame());
      centre.send(buildPacket(login.op + op::kResponse, login.number, {}));
    });
    EXPECT_EQ(CIMDBind(kLink, conn, "foo", "bar"), 0u);
    smsc.join();
  }
  Packet read() { return parsed(centre.readFrame()); }
};

TEST(CimdLinkTest, BadPacketsEndTheConnectionWithALoggedReason) {
  std::string answer = buildPacket(53, 1, {{21, "4670"}, {60, "260101120000"}});
  std::string bad_sum = answer;
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"packet without its end byte",
       "\x02"
       "53:001\t021:4670\t" +
           answer,
       "end byte"},
      {"field of 100 KB",
       "\x02"
       "53:001\t021:" +
           std::string(100000, '7'),
       "longer than"},
      {"wrong checksum", bad_sum, "checksum"},
      {"header that does not parse",
       "\x02"
       "5x:001\t\x03",
       "syntax"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawLink link;
    auto ctx = std::make_shared<AsyncSubmit>();
    ASSERT_EQ(CIMDSubmitMessageAsync(kLink, link.conn, "", "4670", 0, 0, "", "hi", 0, false, "r",
                                     "", ctx),
              0u);
    EXPECT_EQ(link.read().op, op::kSubmit);
    ASSERT_TRUE(link.centre.send(c.bytes));
    bool error = false;
    for (int i = 0; i < 100 && !error; ++i) CIMDYield(kLink, link.conn, 20ms, &error);
    EXPECT_TRUE(error);
    EXPECT_EQ(CIMDCheckLinkStatus(kLink, link.conn), 0);
    EXPECT_NE(link.conn.lastError().find(c.reason), std::string::npos) << link.conn.lastError();
    ASSERT_TRUE(ctx->answered());
    EXPECT_EQ(ctx->result(), local::kConnectionError);
  }
  // An operation with a wrong checksum gets a 98 with its number before the close.
  RawLink link;
  std::string alive = buildPacket(op::kAlive, 4, {});
  alive[alive.size() - 2] = alive[alive.size() - 2] == '0' ? '1' : '0';
  ASSERT_TRUE(link.centre.send(alive));
  yieldFor(link.conn, 20);
  Packet nack = link.read();
  EXPECT_EQ(nack.op, op::kNack);
  EXPECT_EQ(nack.number, 4);
  EXPECT_EQ(CIMDCheckLinkStatus(kLink, link.conn), 0);
}

TEST(CimdLinkTest, AnswersFindTheirSubmissionByPacketNumber) {
  RawLink link;
  std::vector<std::shared_ptr<AsyncSubmit>> ctx;
  for (int i = 0; i < 3; ++i) {
    ctx.push_back(std::make_shared<AsyncSubmit>());
    ASSERT_EQ(CIMDSubmitMessageAsync(kLink, link.conn, "", "467" + std::to_string(i), 0, 0, "", "m",
                                     0, false, "r", "", ctx.back()),
              0u);
  }
  std::vector<Packet> sent;
  for (int i = 0; i < 3; ++i) {
    sent.push_back(link.read());
    EXPECT_EQ(sent.back().number % 2, 1) << "client packet numbers are odd";
  }
  std::string answers;
  for (int i = 2; i >= 0; --i)
    answers += i == 1 ? buildPacket(53, sent[i].number, {{900, "10"}})
                      // The second centre leaves the destination out of the answer.
                      : buildPacket(53, sent[i].number,
                                    i == 0 ? Params{{60, "260101120000"}}
                                           : Params{{21, "4672"}, {60, "260101120001"}});
  ASSERT_TRUE(link.centre.send(answers));
  ASSERT_TRUE(yieldUntil(link.conn, [&] { return link.conn.outstanding() == 0; }));
  EXPECT_EQ(ctx[0]->messageId(), "4670:260101120000");
  EXPECT_EQ(ctx[1]->result(), 10u);
  EXPECT_EQ(ctx[2]->messageId(), "4672:260101120001");
  EXPECT_EQ(CIMDErrorText(10), "Temporary congestion error (CIMD error 10)");
  // Alive and logout.
  std::thread smsc([&] {
    for (int i = 0; i < 2; ++i) {
      Packet p = link.read();
      link.centre.send(buildPacket(p.op + op::kResponse, p.number, {}));
    }
  });
  EXPECT_EQ(CIMDEnquireLink(kLink, link.conn), 0u);
  EXPECT_EQ(CIMDUnbind(kLink, link.conn), 0u);
  smsc.join();
  EXPECT_EQ(CIMDCheckLinkStatus(kLink, link.conn), 0);
}

TEST(CimdLinkTest, DeliveriesReachThePlainOrTheExtendedCallback) {
  std::string mo = buildPacket(op::kDeliverMessage, 2, {{21, "1234"}, {23, "4670"}, {33, "Hi"}});
  std::string report =
      buildPacket(op::kDeliverStatusReport, 4, {{21, "4670"}, {60, "260101120000"}, {61, "4"}});
  {
    // Only the plain form: messages go there; a report is refused so the
    // centre keeps it.
    Inbox inbox(false);
    RawLink link;
    ASSERT_TRUE(link.centre.send(mo + report));
    yieldFor(link.conn, 20);
    Packet a = link.read(), b = link.read();
    EXPECT_EQ(a.op, 70);
    EXPECT_EQ(a.get(param::kErrorCode), nullptr);
    EXPECT_EQ(b.op, 73);
    ASSERT_NE(b.get(param::kErrorCode), nullptr);
    EXPECT_EQ(*b.get(param::kErrorCode), "6");
    EXPECT_EQ(inbox.plain, (std::vector<std::string>{"4670:Hi"}));
  }
  // The ReceivePort: a centre connects, logs in, delivers and logs out.
  Inbox inbox;
  auto listener = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  std::thread receiver([&] {
    auto fd = platform::acceptConnection(listener->get(), 2000);
    if (fd) CIMDServeConnection("CIMD - receive", tls::Stream(std::move(*fd)), "peer");
  });
  auto fd = platform::connectTcp("127.0.0.1", platform::localPort(listener->get()), 2000);
  ASSERT_TRUE(fd.ok());
  std::string out = buildPacket(op::kLogin, 0, {{10, "smsc"}, {11, "pw"}}) + mo + report +
                    buildPacket(op::kLogout, 6, {});
  ASSERT_EQ(platform::sendAll(fd->get(), out, 2000), platform::IoStatus::kOk);
  receiver.join();  // ends with the logout
  std::string answers(4096, '\0');
  size_t got = 0, total = 0;
  while (platform::recvSome(fd->get(), answers.data() + total, answers.size() - total, 500, &got) ==
         platform::IoStatus::kOk)
    total += got;
  answers.resize(total);
  EXPECT_EQ(std::count(answers.begin(), answers.end(), '\x03'), 4) << answers;
  EXPECT_EQ(answers.find("900:"), std::string::npos) << answers;
  ASSERT_EQ(inbox.items.size(), 2u);
  EXPECT_EQ(inbox.items[0].link_name, "CIMD - receive");
  EXPECT_EQ(inbox.items[1].flags, flag::kIsReceipt | flag::kDelivered);
  EXPECT_EQ(inbox.items[1].smsc_message_id, "4670:260101120000");
}

// ---------------------------------------------------------------------------
// Against the simulator and test_cimd2.

uint32_t bindTo(Connection& conn, uint16_t port, const std::string& password = "secret") {
  uint32_t st = CIMDConnect(kLink, conn, tls::Stream(), "127.0.0.1", port);
  return st ? st : CIMDBind(kLink, conn, "gateway", password);
}

TEST(CimdOracleTest, WhatWeSendIsWhatTheSimulatorDecodes) {
  VEK_REQUIRE_ORACLES();
  vek::testing::TempDir dir;
  std::string log = dir.file("cimd.jsonl");
  PeerProcess sim(
      simulatorArgv("cimd/cimd-smsc-sim.js", log, {"--user", "gateway", "--password", "secret"}));
  ASSERT_TRUE(sim.ready());
  RecordingRelay relay(sim.port());
  Connection conn;
  EXPECT_EQ(bindTo(conn, relay.port(), "wrong"), ec::kInvalidLogin);
  ASSERT_EQ(CIMDBind(kLink, conn, "gateway", "secret"), 0u);
  EXPECT_EQ(CIMDEnquireLink(kLink, conn), 0u);
  std::string part1 = encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString("Part one, "), 6);
  std::string part2 = encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString("part two"), 6);
  struct Case {
    protocols::OutboundMessage m;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {{"+4670111", "+4670222", 0, 0, "", "GSM ext [x] {y} ~ ^ | \\ \xE2\x82\xAC", 0, false,
        "Validity=20301231235900"},
       {"\"text\":" + jsonString("GSM ext [x] {y} ~ ^ | \\ \xE2\x82\xAC"),
        "\"originator\":\"+4670111\"", "\"dest\":\"+4670222\"", "\"vp_abs\":\"301231235900\""}},
      {{"4670111", "4670222", 0, 0, "",
        "Gr\xC3\xBC\xC3\x9F"
        "e \xC3\xA0 \xC3\xA9 \xC3\xB1 \xC3\x85",
        0, false, "Validity=1d"},
       {"\"text\":" + jsonString("Gr\xC3\xBC\xC3\x9F"
                                 "e \xC3\xA0 \xC3\xA9 \xC3\xB1 \xC3\x85"),
        "\"vp_rel\":\"167\""}},
      {{"Shop", "4670222", 0, 8, "", "\xD0\x96\xD0\xB4 \xE2\x82\xAC \xCE\xA9", 0, false, ""},
       {"\"text\":" + jsonString("\xD0\x96\xD0\xB4 \xE2\x82\xAC \xCE\xA9"), "\"dcs\":8",
        "\"originator\":\"Shop\""}},
      {{"ALPHA@NUM", "4670222", 0, 0, "0500030A0201", part1, 0, true, ""},
       {"\"text\":\"Part one, \"", "\"udh\":\"0500030A0201\"", "\"originator\":\"ALPHA@NUM\""}},
      {{"ALPHA@NUM", "4670222", 0, 0, "0500030A0202", part2, 0, true, ""},
       {"\"text\":\"part two\"", "\"udh\":\"0500030A0202\""}},
      {{"1234", "4670222", 0, 0xF5, "06050415820000", "DEADBEEF", flag::kReceiptRequested, true,
        ""},
       {"\"hex\":\"DEADBEEF\"", "\"dcs\":245", "\"udh\":\"06050415820000\"", "\"srr\":62"}},
  };
  for (const auto& c : cases) {
    std::string id;
    ASSERT_EQ(submit(conn, c.m, &id), 0u) << c.m.data;
    EXPECT_EQ(id.find(c.m.recipient + ":"), 0u) << id;
  }
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] { return logLines(log, {"\"kind\":\"submit\""}).size() >= std::size(cases); }, 5s));
  for (const auto& c : cases) {
    std::vector<std::string> want = c.want;
    want.insert(want.end(), {"\"kind\":\"submit\"", "\"status\":\"OK\"", "\"problems\":[]"});
    EXPECT_EQ(logLines(log, want).size(), 1u) << want[0] << "\n" << vek::testing::readText(log);
  }
  EXPECT_EQ(CIMDUnbind(kLink, conn), 0u);
  std::string errors;
  const auto frames = relay.frames();
  auto rows = protocols::testing::dissect(frames, "cimd", dir.path(), &errors);
  if (rows.empty() && errors.empty()) GTEST_SKIP() << "tshark absent: dissector check skipped";
  EXPECT_EQ(rows.size(), frames.size());
  EXPECT_EQ(errors, "");
}

TEST(CimdOracleTest, ReceiptsAndMessagesReachTheCallback) {
  VEK_REQUIRE_ORACLES();
  Inbox inbox;
  PeerProcess sim(simulatorArgv(
      "cimd/cimd-smsc-sim.js", "",
      {"--dr", "--dr-delay", "5", "--dr-fail-every", "2", "--mo", "3", "--mo-interval", "5"}));
  ASSERT_TRUE(sim.ready());
  Connection conn;
  ASSERT_EQ(bindTo(conn, sim.port()), 0u);
  std::vector<std::string> ids;
  for (int i = 0; i < 4; ++i) {
    std::string id;
    ASSERT_EQ(submit(conn,
                     {"4670111", "467022" + std::to_string(i), 0, 0, "", "Receipt please",
                      flag::kReceiptRequested, false, ""},
                     &id),
              0u);
    ids.push_back(id);
  }
  ASSERT_TRUE(
      yieldUntil(conn, [&] { return inbox.count(flag::kIsReceipt) == 4 && inbox.count(0) == 3; }));
  std::scoped_lock lk(inbox.mu);
  int delivered = 0, failed = 0;
  std::vector<InboundMessage> mo;
  for (const auto& m : inbox.items) {
    if (!(m.flags & flag::kIsReceipt)) {
      mo.push_back(m);
      continue;
    }
    EXPECT_NE(std::find(ids.begin(), ids.end(), m.smsc_message_id), ids.end()) << m.smsc_message_id;
    EXPECT_NE(m.extra.find("ReceiptMsgIdOrig=" + m.smsc_message_id), std::string::npos);
    delivered += (m.flags & flag::kDelivered) != 0;
    failed += (m.flags & flag::kFailed) != 0;
  }
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(failed, 2);
  ASSERT_EQ(mo.size(), 3u);
  EXPECT_EQ(mo[0].data, "Hello MO @\xC2\xA3$\xC2\xA5\xC3\xA8\xC3\xA9_\"");
  EXPECT_EQ(mo[0].sender, "46700000001");
  EXPECT_EQ(mo[1].data,
            "GSM: \xE2\x82\xAC"
            "5 [x] {y} ~ ^ | \\ \xCE\x94\xCE\xA9");
  EXPECT_EQ(mo[2].udh, "06050415820000");
  EXPECT_EQ(mo[2].dcs, 0xF5);
  EXPECT_EQ(mo[2].data, "DEADBEEF00017F80FF02");
}

TEST(CimdOracleTest, ThrottlingErrorsAndADroppedLinkComeBackAsCodes) {
  VEK_REQUIRE_ORACLES();
  PeerProcess sim(simulatorArgv(
      "cimd/cimd-smsc-sim.js", "",
      {"--throttle", "0.25", "--error-rate", "0.34", "--error-code", "300", "--drop-after", "12"}));
  ASSERT_TRUE(sim.ready());
  Connection conn;
  ASSERT_EQ(bindTo(conn, sim.port()), 0u);
  for (int i = 1; i <= 12; ++i) {
    std::string id;
    uint32_t want = i % 4 == 0 ? 10u : i % 3 == 0 ? ec::kDestination : 0u;
    EXPECT_EQ(submit(conn, {"", "4670", 0, 0, "", "t", 0, false, ""}, &id), want) << i;
  }
  std::string id;
  EXPECT_EQ(submit(conn, {"", "4670", 0, 0, "", "t", 0, false, ""}, &id), local::kConnectionError);
  EXPECT_EQ(CIMDCheckLinkStatus(kLink, conn), 0);
  EXPECT_FALSE(conn.lastError().empty());
}

TEST(CimdOracleTest, KannelTestCimd2AsASecondCentre) {
  VEK_REQUIRE_ORACLES();
  const std::string program = "/usr/lib/kannel/test/test_cimd2";
  if (!platform::findProgram(program)) GTEST_SKIP() << "Kannel's test_cimd2 absent";
  vek::testing::TempDir dir;
  PeerProcess centre({program, "--user", "gateway", "--password", "secret", "--activity", "1"});
  ASSERT_TRUE(centre.ready());
  RecordingRelay relay(centre.port());
  Connection conn;
  EXPECT_EQ(bindTo(conn, relay.port(), "wrong"), ec::kInvalidLogin);
  ASSERT_EQ(CIMDBind(kLink, conn, "gateway", "secret"), 0u);
  const protocols::OutboundMessage cases[] = {
      {"+4670111", "+4670222", 0, 0, "", "GSM ext [x] \xE2\x82\xAC", 0, false, "Validity=1h"},
      {"Shop", "4670222", 0, 8, "", "\xD0\x96", flag::kReceiptRequested, false, ""},
      {"1234", "4670222", 0, 0xF5, "06050415820000", "DEADBEEF", 0, true, ""},
  };
  for (const auto& m : cases) {
    std::string id;
    EXPECT_EQ(submit(conn, m, &id), 0u);
    EXPECT_EQ(id.find(m.recipient + ":"), 0u) << id;
  }
  auto ctx = std::make_shared<AsyncSubmit>();
  ASSERT_EQ(
      CIMDSubmitMessageAsync(kLink, conn, "", "4670", 0, 0, "", "async", 0, false, "r", "", ctx),
      0u);
  EXPECT_TRUE(yieldUntil(conn, [&] { return ctx->answered(); }));
  EXPECT_EQ(ctx->result(), 0u);
  EXPECT_EQ(CIMDEnquireLink(kLink, conn), 0u);
  EXPECT_EQ(CIMDUnbind(kLink, conn), 0u);
  std::string errors;
  const auto frames = relay.frames();
  auto rows = protocols::testing::dissect(frames, "cimd", dir.path(), &errors);
  EXPECT_EQ(errors, "");
  if (!rows.empty()) {
    EXPECT_EQ(rows.size(), frames.size());
  }
}

TEST(CimdOracleTest, RandomGunkFromACentreNeverHangsTheClient) {
  VEK_REQUIRE_ORACLES();
  const std::string program = "/usr/lib/kannel/test/test_cimd2";
  if (!platform::findProgram(program)) GTEST_SKIP() << "Kannel's test_cimd2 absent";
  PeerProcess centre({program, "--spew", "1"});
  ASSERT_TRUE(centre.ready());
  Connection conn;
  conn.setCommandTimeout(1s);
  ASSERT_EQ(CIMDConnect(kLink, conn, tls::Stream(), "127.0.0.1", centre.port()), 0u);
  auto start = std::chrono::steady_clock::now();
  uint32_t st = CIMDBind(kLink, conn, "foo", "bar");
  bool error = false;
  for (int i = 0; i < 50 && !error; ++i) CIMDYield(kLink, conn, 20ms, &error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  // Either the gunk broke the framing (a logged connection error) or the
  // login simply got no answer; never a success.
  EXPECT_NE(st, 0u);
  if (error) {
    EXPECT_FALSE(conn.lastError().empty());
  }
}

}  // namespace
}  // namespace vek::cimd
