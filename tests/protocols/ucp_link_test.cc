// The UCP/EMI entries on a live connection: against a raw centre for what
// must happen on bad input and for transaction matching, and against the
// independent simulator (ucp-smsc-sim.js) for what a centre decodes and
// sends back. The simulator tests skip when the peers are not installed.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "protocols/ucp/client.h"
#include "protocols/ucp/frame.h"
#include "protocols/ucp/message.h"
#include "support/test_support.h"
#include "text_link_harness.h"

namespace vek::ucp {
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

// Collects what the receive callback gets (one Inbox at a time: it owns the
// process-wide callback).
struct Inbox {
  std::mutex mu;
  std::vector<InboundMessage> items;
  int answer = 1;
  Inbox() {
    UCPSetReceiveMessageCallback([this](const InboundMessage& m) {
      std::scoped_lock lk(mu);
      items.push_back(m);
      return answer;
    });
  }
  ~Inbox() { UCPSetReceiveMessageCallback(nullptr); }
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
    UCPYield(conn, 20ms, &error);
  }
  return true;
}

uint32_t submit(Connection& conn, const protocols::OutboundMessage& m, std::string* id) {
  return UCPSubmitMessage(conn, m.sender, m.recipient, m.pid, m.dcs, m.udh, m.data, m.flags,
                          m.binary, id, "test.req", m.params);
}

// A client bound to a raw centre that acknowledged the login.
struct RawLink {
  RawCentre centre;
  Connection conn;
  RawLink() {
    EXPECT_EQ(UCPConnect(conn, tls::Stream(), "UCP - raw", "127.0.0.1", centre.port()), 0u);
    EXPECT_TRUE(centre.accept());
    std::thread smsc([&] {
      std::string login = centre.readFrame();
      Frame f;
      ASSERT_EQ(parseFrame(login.substr(1, login.size() - 2), &f), FrameFault::kNone);
      centre.send(buildAck(f.trn, f.ot));
    });
    EXPECT_EQ(UCPBind(conn, "4670999", "secret"), 0u);
    smsc.join();
  }
  // The next frame from the client, parsed.
  Frame read() {
    std::string raw = centre.readFrame();
    Frame f;
    if (!raw.empty()) parseFrame(raw.substr(1, raw.size() - 2), &f);
    return f;
  }
};

TEST(UcpLinkTest, BadFramesEndTheConnectionWithALoggedReason) {
  std::string ack = buildAck(0, ot::kSubmit, "4670:010126120000");
  std::string bad_sum = ack;
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  std::string lying = ack;
  lying.replace(4, 5, "00090");
  std::string inner = lying.substr(1, lying.size() - 4);
  lying.replace(lying.size() - 3, 2, checksum(inner));
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"frame without its end byte",
       "\x02"
       "00/00020/R/51/A//x" +
           ack,
       "end byte"},
      {"field of 100 KB",
       "\x02"
       "00/99999/R/51/A//" +
           std::string(100000, '7'),
       "longer than"},
      {"wrong checksum", bad_sum, "checksum"},
      {"length that lies", lying, "length"},
      {"header that does not parse",
       "\x02"
       "zz/00016/R/51/A7\x03",
       "syntax"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawLink link;
    auto ctx = std::make_shared<AsyncSubmit>();
    ASSERT_EQ(UCPSubmitMessageAsync(link.conn, "", "4670", 0, 0, "", "hi", 0, false, "r", "", ctx),
              0u);
    EXPECT_EQ(link.read().ot, ot::kSubmit);
    ASSERT_TRUE(link.centre.send(c.bytes));
    bool error = false;
    for (int i = 0; i < 100 && !error; ++i) UCPYield(link.conn, 20ms, &error);
    EXPECT_TRUE(error);
    EXPECT_EQ(UCPCheckLinkStatus(link.conn), 0);
    EXPECT_NE(link.conn.lastError().find(c.reason), std::string::npos) << link.conn.lastError();
    ASSERT_TRUE(ctx->answered());
    EXPECT_EQ(ctx->result(), local::kConnectionError);
  }
  // An operation with a wrong checksum is answered NACK 01 before the close.
  RawLink link;
  std::string op = buildFrame(3, false, ot::kAlert, {"1", "0539"});
  op[op.size() - 2] = op[op.size() - 2] == '0' ? '1' : '0';
  ASSERT_TRUE(link.centre.send(op));
  bool error = false;
  for (int i = 0; i < 100 && !error; ++i) UCPYield(link.conn, 20ms, &error);
  Frame nack = link.read();
  EXPECT_TRUE(nack.result);
  EXPECT_EQ(nack.trn, 3);
  EXPECT_EQ(nack.fields, (std::vector<std::string>{"N", "01", ""}));
  // A centre that goes silent: the submission times out and the link is dead.
  RawLink silent;
  silent.conn.setCommandTimeout(200ms);
  std::string id;
  EXPECT_EQ(submit(silent.conn, {"", "4670", 0, 0, "", "x", 0, false, ""}, &id), local::kTimeout);
  EXPECT_EQ(UCPCheckLinkStatus(silent.conn), 0);
}

TEST(UcpLinkTest, AnswersFindTheirSubmissionByTransactionNumber) {
  RawLink link;
  std::vector<std::shared_ptr<AsyncSubmit>> ctx;
  for (int i = 0; i < 3; ++i) {
    ctx.push_back(std::make_shared<AsyncSubmit>());
    ASSERT_EQ(UCPSubmitMessageAsync(link.conn, "", "467" + std::to_string(i), 0, 0, "", "m", 0,
                                    false, "r", "", ctx.back()),
              0u);
  }
  EXPECT_EQ(link.conn.outstanding(), 3u);
  std::vector<Frame> sent;
  for (int i = 0; i < 3; ++i) sent.push_back(link.read());
  // Answered last first; the middle one refused (throttled).
  std::string answers;
  for (int i = 2; i >= 0; --i)
    answers += i == 1 ? buildNack(sent[i].trn, ot::kSubmit, ec::kNotAllowed)
                      : buildAck(sent[i].trn, ot::kSubmit, sent[i].fields[kAdC] + ":1");
  ASSERT_TRUE(link.centre.send(answers));
  ASSERT_TRUE(yieldUntil(link.conn, [&] { return link.conn.outstanding() == 0; }));
  EXPECT_EQ(ctx[0]->result(), 0u);
  EXPECT_EQ(ctx[0]->messageId(), "4670:1");
  EXPECT_EQ(ctx[1]->result(), ec::kNotAllowed);
  EXPECT_EQ(ctx[2]->messageId(), "4672:1");
  // A synchronous submit picks a number not in use and gets its own answer.
  std::thread smsc([&] {
    Frame f = link.read();
    link.centre.send(buildAck(f.trn, ot::kSubmit, "sync:1"));
  });
  std::string id;
  EXPECT_EQ(submit(link.conn, {"", "4670", 0, 0, "", "x", 0, false, ""}, &id), 0u);
  smsc.join();
  EXPECT_EQ(id, "sync:1");
}

TEST(UcpLinkTest, TheCallbackDecidesHowADeliveryIsAnswered) {
  Inbox inbox;
  RawLink link;
  std::vector<std::string> f(kFields5x);
  f[kAdC] = "1234";
  f[kOAdC] = "4670";
  f[kSCTS] = "010126120000";
  f[kMT] = "3";
  f[kMsg] = "4869";
  for (int answer : {1, 0}) {
    inbox.answer = answer;
    ASSERT_TRUE(link.centre.send(buildFrame(40 + answer, false, ot::kDeliver, f)));
    std::thread reader([&] {
      Frame r = link.read();
      EXPECT_EQ(r.trn, 40 + answer);
      EXPECT_EQ(r.fields[0], answer ? "A" : "N");
      if (answer) {
        EXPECT_EQ(r.fields[2], "1234:010126120000");
      }
    });
    bool error = false;
    for (int i = 0; i < 20; ++i) UCPYield(link.conn, 10ms, &error);
    reader.join();
  }
  EXPECT_EQ(inbox.count(0), 2u);
  EXPECT_EQ(inbox.items[0].data, "Hi");
  // A 52 that does not read is refused with a syntax error, the link stays.
  f[kMsg] = "4G";
  ASSERT_TRUE(link.centre.send(buildFrame(50, false, ot::kDeliver, f)));
  bool error = false;
  for (int i = 0; i < 20; ++i) UCPYield(link.conn, 10ms, &error);
  Frame r = link.read();
  EXPECT_EQ(r.fields, (std::vector<std::string>{"N", "02", ""}));
  EXPECT_EQ(UCPCheckLinkStatus(link.conn), 1);
}

// ---------------------------------------------------------------------------
// Against the simulator.

uint32_t bindTo(Connection& conn, uint16_t port) {
  uint32_t st =
      UCPConnect(conn, tls::Stream(), "UCP - 127.0.0.1:" + std::to_string(port), "127.0.0.1", port);
  return st ? st : UCPBind(conn, "4670999", "secret");
}

TEST(UcpOracleTest, WhatWeSendIsWhatTheSimulatorDecodes) {
  VEK_REQUIRE_ORACLES();
  vek::testing::TempDir dir;
  std::string log = dir.file("ucp.jsonl");
  PeerProcess sim(
      simulatorArgv("ucp/ucp-smsc-sim.js", log, {"--user", "4670999", "--password", "secret"}));
  ASSERT_TRUE(sim.ready());
  RecordingRelay relay(sim.port());
  Connection conn;
  // A wrong password first: refused with the centre's code.
  ASSERT_EQ(UCPConnect(conn, tls::Stream(), "UCP - sim", "127.0.0.1", relay.port()), 0u);
  EXPECT_EQ(UCPBind(conn, "4670999", "wrong"), ec::kAuthentication);
  EXPECT_EQ(UCPCheckLinkStatus(conn), 0);
  ASSERT_EQ(UCPBind(conn, "4670999", "secret"), 0u);
  EXPECT_EQ(UCPEnquireLink(conn), 0u);

  std::string part1 = encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString("Part one, "), 6);
  std::string part2 = encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString("part two"), 6);
  struct Case {
    protocols::OutboundMessage m;
    std::vector<std::string> want;  // fragments of the simulator's decoded line
  };
  const Case cases[] = {
      {{"+4670111", "+4670222", 0, 0, "", "GSM ext [x] {y} ~ ^ | \\ \xE2\x82\xAC", 0, false,
        "Validity=20301231235900"},
       {"\"text\":" + jsonString("GSM ext [x] {y} ~ ^ | \\ \xE2\x82\xAC"), "\"oadc\":\"4670111\"",
        "\"adc\":\"004670222\"", "\"vp\":\"3112302359\""}},
      {{"4670111", "4670222", 0, 0, "",
        "Gr\xC3\xBC\xC3\x9F"
        "e \xC3\xA0 \xC3\xA9 \xC3\xB1 \xC3\x85",
        0, false, ""},
       {"\"text\":" + jsonString("Gr\xC3\xBC\xC3\x9F"
                                 "e \xC3\xA0 \xC3\xA9 \xC3\xB1 \xC3\x85"),
        "\"mt\":\"3\""}},
      {{"Shop", "4670222", 0, 8, "", "\xD0\x96\xD0\xB4 \xE2\x82\xAC \xCE\xA9", 0, false, ""},
       {"\"text\":" + jsonString("\xD0\x96\xD0\xB4 \xE2\x82\xAC \xCE\xA9"), "\"dcs\":8",
        "\"oadc\":\"Shop\"", "\"oadc_alnum\":true"}},
      {{"ALPHA@NUM", "4670222", 0, 0, "0500030A0201", part1, 0, true, ""},
       {"\"text\":\"Part one, \"", "\"udh\":\"0500030A0201\"", "\"oadc\":\"ALPHA@NUM\""}},
      {{"ALPHA@NUM", "4670222", 0, 0, "0500030A0202", part2, 0, true, ""},
       {"\"text\":\"part two\"", "\"udh\":\"0500030A0202\""}},
      {{"1234", "4670222", 0, 0xF5, "06050415820000", "DEADBEEF", flag::kReceiptRequested, true,
        ""},
       {"\"hex\":\"DEADBEEF\"", "\"dcs\":245", "\"udh\":\"06050415820000\"", "\"nrq\":\"1\""}},
  };
  for (const auto& c : cases) {
    std::string id;
    ASSERT_EQ(submit(conn, c.m, &id), 0u) << c.m.data;
    EXPECT_NE(id.find("4670222:"), std::string::npos) << id;  // the recipient and a time stamp
  }
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] { return logLines(log, {"\"kind\":\"submit\""}).size() >= std::size(cases); }, 5s));
  for (const auto& c : cases) {
    std::vector<std::string> want = c.want;
    want.insert(want.end(), {"\"kind\":\"submit\"", "\"status\":\"ACK\"", "\"problems\":[]"});
    EXPECT_EQ(logLines(log, want).size(), 1u) << want[0] << "\n" << vek::testing::readText(log);
  }
  UCPUnbind(conn);
  // The captured traffic decodes with Wireshark's dissector.
  std::string errors;
  const auto frames = relay.frames();
  auto rows = protocols::testing::dissect(frames, "ucp", dir.path(), &errors);
  if (rows.empty() && errors.empty()) GTEST_SKIP() << "tshark absent: dissector check skipped";
  EXPECT_EQ(rows.size(), frames.size());
  EXPECT_EQ(errors, "");
}

TEST(UcpOracleTest, ReceiptsAndMessagesReachTheCallback) {
  VEK_REQUIRE_ORACLES();
  Inbox inbox;
  PeerProcess sim(simulatorArgv(
      "ucp/ucp-smsc-sim.js", "",
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
    EXPECT_EQ(m.data.find("id:" + m.smsc_message_id + " "), 0u) << m.data;
  }
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(failed, 2);
  ASSERT_EQ(mo.size(), 3u);
  EXPECT_EQ(mo[0].data, "Hello MO @\xC2\xA3$\xC2\xA5\xC3\xA8\xC3\xA9 [x] ~ ^ _");
  EXPECT_EQ(mo[0].sender, "46700000001");
  EXPECT_EQ(mo[0].recipient, "1234");
  EXPECT_EQ(mo[1].dcs, 8);
  EXPECT_EQ(mo[1].type, protocols::kMessageBinary);
  EXPECT_EQ(mo[1].data.substr(0, 8), "00450075");  // "Eu" in UCS-2
  EXPECT_EQ(mo[2].udh, "06050415820000");
  EXPECT_EQ(mo[2].dcs, 0xF5);
  EXPECT_EQ(mo[2].data, "DEADBEEF00017F80FF02");
}

TEST(UcpOracleTest, DeliveriesOverTheReceivePort) {
  VEK_REQUIRE_ORACLES();
  Inbox inbox;
  auto listener = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  uint16_t receive_port = platform::localPort(listener->get());
  PeerProcess sim(
      simulatorArgv("ucp/ucp-smsc-sim.js", "",
                    {"--dr", "--dr-delay", "5", "--mo", "2", "--mo-interval", "5", "--mo-no-binary",
                     "--deliver-to", "127.0.0.1:" + std::to_string(receive_port)}));
  ASSERT_TRUE(sim.ready());
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::thread receiver([&] {
    std::string peer;
    auto fd = platform::acceptConnection(listener->get(), 5000, &peer);
    if (!fd) return;
    served = UCPServeConnection(tls::Stream(std::move(*fd)), "UCP - receive", peer,
                                [&] { return stop.load(); });
  });
  Connection conn;
  ASSERT_EQ(bindTo(conn, sim.port()), 0u);
  std::string id;
  ASSERT_EQ(
      submit(conn, {"4670111", "4670222", 0, 0, "", "x", flag::kReceiptRequested, false, ""}, &id),
      0u);
  EXPECT_TRUE(vek::testing::waitUntil(
      [&] { return inbox.count(flag::kIsReceipt) == 1 && inbox.count(0) == 2; }, 10s));
  stop = true;
  receiver.join();
  EXPECT_GE(served.load(), 3);
  std::scoped_lock lk(inbox.mu);
  for (const auto& m : inbox.items) {
    EXPECT_EQ(m.link_name, "UCP - receive");
    if (m.flags & flag::kIsReceipt) {
      EXPECT_EQ(m.smsc_message_id, id);
    }
  }
}

TEST(UcpOracleTest, ThrottlingErrorsAndADroppedLinkComeBackAsCodes) {
  VEK_REQUIRE_ORACLES();
  PeerProcess sim(simulatorArgv(
      "ucp/ucp-smsc-sim.js", "",
      {"--throttle", "0.25", "--error-rate", "0.34", "--error-ec", "06", "--drop-after", "12"}));
  ASSERT_TRUE(sim.ready());
  Connection conn;
  ASSERT_EQ(bindTo(conn, sim.port()), 0u);
  for (int i = 1; i <= 12; ++i) {
    std::string id;
    uint32_t want = i % 4 == 0 ? ec::kNotAllowed : i % 3 == 0 ? ec::kAdCInvalid : 0;
    EXPECT_EQ(submit(conn, {"", "4670", 0, 0, "", "t", 0, false, ""}, &id), want) << i;
  }
  EXPECT_EQ(UCPErrorText(ec::kNotAllowed), "Operation not allowed (UCP error 04)");
  std::string id;
  EXPECT_EQ(submit(conn, {"", "4670", 0, 0, "", "t", 0, false, ""}, &id), local::kConnectionError);
  EXPECT_EQ(UCPCheckLinkStatus(conn), 0);
  EXPECT_FALSE(conn.lastError().empty());
}

}  // namespace
}  // namespace vek::ucp
