// The client and server entries against each other on loopback, and against
// a raw peer for what must (or must not) be on the wire.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "platform/process.h"
#include "protocols/smpp/receipt.h"
#include "protocols/smpp/tlv.h"
#include "smpp_harness.h"
#include "support/test_support.h"

namespace vek::smpp {
namespace {

using namespace std::chrono_literals;
using testing::connectAndBind;
using testing::Inbox;
using testing::RawPeer;
using testing::TestServer;
using testing::yieldUntil;

TEST(SmppSessionTest, MessagesTravelIntactInBothDirections) {
  TestServer server({});
  Inbox inbox;
  Connection conn;
  ASSERT_EQ(connectAndBind(conn, server.port()), 0u);
  ASSERT_EQ(SMPPCheckLinkStatus(conn), 1);

  struct Case {
    const char* name;
    OutboundMessage out;
    const char* want_data;
    const char* want_udh;
    int want_type;
  };
  const Case cases[] = {
      {"gsm text",
       {"+4670111", "+4670222", 0, 0, "", "Hello [world] \xE2\x82\xAC", 0, false, ""},
       "Hello [world] \xE2\x82\xAC",
       "",
       kMessageText},
      {"ucs2 text",
       {"Shop", "+4670222", 0, 8, "", "\xD0\x96\xC3\xA5 \xF0\x9F\x98\x80", 0, false, ""},
       "041600E50020D83DDE00",
       "",
       kMessageBinary},
      {"udh segment",
       {"12345", "+4670222", 0, 0, "050003A00201", "Part one", 0, false, ""},
       "Part one",
       "050003A00201",
       kMessageText},
      {"8-bit data",
       {"+4670111", "+4670222", 0x7F, 0xF6, "", "0102FF", 0, true, ""},
       "0102FF",
       "",
       kMessageBinary},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string id;
    ASSERT_EQ(SMPPSubmitMessage(conn, 0x34, c.out.sender, c.out.recipient, c.out.pid, c.out.dcs,
                                c.out.udh, c.out.data, c.out.flags, c.out.binary, &id, "T.REQ",
                                c.out.params),
              0u);
    EXPECT_FALSE(id.empty());
    InboundMessage got = server.received().back();
    EXPECT_EQ(got.data, c.want_data);
    EXPECT_EQ(got.udh, c.want_udh);
    EXPECT_EQ(got.type, c.want_type);
    EXPECT_EQ(got.sender, c.out.sender);
    EXPECT_EQ(got.recipient, c.out.recipient);
    EXPECT_EQ(got.dcs, c.out.dcs);
    EXPECT_EQ(got.pid, c.out.pid);
    EXPECT_EQ(got.link_name, "test");
  }

  // And back: the server delivers the same kinds plus a receipt.
  for (const auto& c : cases) server.queueDeliver(c.out);
  server.queueDeliver({"+4670222", "+4670111", 0, 0, "",
                       "id:M1 sub:001 dlvrd:001 submit date:2401011200 done date:2401011201 "
                       "stat:DELIVRD err:000 text:Hello",
                       flag::kIsReceipt | flag::kDelivered, false, ""});
  ASSERT_TRUE(yieldUntil(conn, [&] { return inbox.size() == std::size(cases) + 1; }));
  std::scoped_lock lk(inbox.mu);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(inbox.items[i].data, cases[i].want_data);
    EXPECT_EQ(inbox.items[i].udh, cases[i].want_udh);
    EXPECT_EQ(inbox.items[i].sender, cases[i].out.sender);
    EXPECT_EQ(inbox.items[i].flags & flag::kIsReceipt, 0u);
  }
  const InboundMessage& r = inbox.items.back();
  EXPECT_EQ(r.flags, flag::kIsReceipt | flag::kDelivered);
  EXPECT_EQ(r.smsc_message_id, "M1");
  EXPECT_NE(r.extra.find("ReceiptMsgIdOrig=M1"), std::string::npos) << r.extra;
  for (uint32_t st : server.deliverResults()) EXPECT_EQ(st, 0u);
}

TEST(SmppSessionTest, LoginDecisionsAndStatusesReachTheCaller) {
  TestServer::Options options;
  options.decide = [](const InboundMessage& m) {
    return m.recipient == "+1"   ? status::kThrottled
           : m.recipient == "+2" ? status::kInvDstAdr
                                 : status::kOk;
  };
  TestServer server(options);
  Connection bad;
  EXPECT_EQ(connectAndBind(bad, server.port(), kBindTypeTransmitter, 0x34, "wrong"),
            status::kInvPaswd);
  EXPECT_EQ(SMPPCheckLinkStatus(bad), 0);
  EXPECT_EQ(server.rejected.load(), 1);

  Connection conn;
  ASSERT_EQ(connectAndBind(conn, server.port(), kBindTypeTransmitter), 0u);
  std::string id;
  EXPECT_EQ(SMPPSubmitMessage(conn, 0x34, "", "+1", 0, 0, "", "x", 0, false, &id, "", ""), 88u);
  EXPECT_EQ(SMPPSubmitMessage(conn, 0x34, "", "+2", 0, 0, "", "x", 0, false, &id, "", ""), 11u);
  EXPECT_TRUE(id.empty());
  // Refused locally, never sent: bad hex, over-long address, too much for 3.3.
  EXPECT_EQ(SMPPSubmitMessage(conn, 0x34, "", "+3", 0, 4, "", "0G", 0, true, &id, "", ""),
            status::kInvMsgLen);
  EXPECT_EQ(SMPPSubmitMessage(conn, 0x34, "", "+123456789012345678901", 0, 0, "", "x", 0, false,
                              &id, "", ""),
            status::kInvDstAdr);
  EXPECT_EQ(SMPPSubmitMessage(conn, 0x33, "", "+3", 0, 0, "", std::string(300, 'a'), 0, false, &id,
                              "", ""),
            status::kInvMsgLen);
  EXPECT_EQ(server.receivedCount(), 2u);
  EXPECT_EQ(SMPPEnquireLink(conn, 0x34), 0u);
  EXPECT_NE(SMPPErrorText(88).find("ESME_RTHROTTLED"), std::string::npos);
  EXPECT_EQ(SMPPUnbind(conn, 0x34), 0u);
  EXPECT_EQ(SMPPCheckLinkStatus(conn), 0);
}

TEST(SmppSessionTest, AsyncWindowMatchesAnswersBySequence) {
  TestServer server({});
  Connection conn;
  ASSERT_EQ(connectAndBind(conn, server.port()), 0u);
  constexpr int kCount = 300;
  constexpr size_t kWindow = 25;
  std::vector<std::shared_ptr<AsyncSubmit>> ctxs;
  for (int i = 0; i < kCount; ++i) {
    ASSERT_TRUE(yieldUntil(conn, [&] { return conn.outstanding() < kWindow; }));
    ctxs.push_back(std::make_shared<AsyncSubmit>());
    ASSERT_EQ(SMPPSubmitMessageAsync(conn, 0x34, "", "+46" + std::to_string(i), 0, 0, "", "n", 0,
                                     false, "", "", ctxs.back()),
              0u);
  }
  ASSERT_TRUE(yieldUntil(conn, [&] { return conn.outstanding() == 0; }));
  std::set<std::string> ids;
  for (const auto& c : ctxs) {
    ASSERT_TRUE(c->answered());
    EXPECT_EQ(c->result(), 0u);
    ids.insert(c->messageId());
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kCount));
  // Answers came in order of the server's ids, and each belongs to its own recipient.
  auto got = server.received();
  for (int i = 0; i < kCount; ++i)
    EXPECT_EQ(got[static_cast<size_t>(i)].recipient, "+46" + std::to_string(i));
}

TEST(SmppSessionTest, OutstandingSubmitsFailWhenTheLinkDies) {
  auto listener = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  uint16_t port = platform::localPort(listener->get());
  Connection conn;
  ASSERT_EQ(SMPPConnect(conn, tls::Stream(), "L", "127.0.0.1", port), 0u);
  auto fd = platform::acceptConnection(listener->get(), 2000);
  ASSERT_TRUE(fd.ok());
  RawPeer smsc(std::move(*fd));
  std::thread binder([&] {
    Pdu bind;
    ASSERT_TRUE(smsc.readPdu(&bind));
    smsc.sendPdu(makeResponse(bind, 0));
  });
  ASSERT_EQ(SMPPBind(conn, 0x34, kBindTypeTransceiver, "a", "b", ""), 0u);
  binder.join();
  auto ctx = std::make_shared<AsyncSubmit>();
  ASSERT_EQ(SMPPSubmitMessageAsync(conn, 0x34, "", "+1", 0, 0, "", "x", 0, false, "", "", ctx), 0u);
  Pdu submit;
  ASSERT_TRUE(smsc.readPdu(&submit));
  smsc = RawPeer(platform::UniqueFd());  // the centre hangs up without answering
  bool error = false;
  for (int i = 0; i < 100 && !error; ++i) SMPPYield(conn, 0x34, 20ms, &error);
  EXPECT_TRUE(error);
  ASSERT_TRUE(ctx->answered());
  EXPECT_EQ(ctx->result(), status::kConnectionLost);
  EXPECT_EQ(SMPPCheckLinkStatus(conn), 0);
}

TEST(SmppSessionTest, InterfaceVersion33CarriesNoTlvs) {
  auto listener = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  uint16_t port = platform::localPort(listener->get());
  for (uint8_t version : {uint8_t{0x33}, uint8_t{0x34}}) {
    SCOPED_TRACE(version);
    Connection conn;
    ASSERT_EQ(SMPPConnect(conn, tls::Stream(), "L", "127.0.0.1", port), 0u);
    auto fd = platform::acceptConnection(listener->get(), 2000);
    ASSERT_TRUE(fd.ok());
    RawPeer smsc(std::move(*fd));
    Pdu bind, submit;
    std::string raw_bind;
    std::thread peer([&] {
      ASSERT_TRUE(smsc.readPdu(&bind, &raw_bind));
      smsc.sendPdu(makeResponse(bind, 0));
      ASSERT_TRUE(smsc.readPdu(&submit));
      Pdu resp = makeResponse(submit, 0);
      resp.message_id = "7";
      smsc.sendPdu(resp);
    });
    ASSERT_EQ(SMPPBind(conn, version, kBindTypeTransmitter, "sys", "pw", "VMA"), 0u);
    std::string id;
    EXPECT_EQ(
        SMPPSubmitMessage(
            conn, version, "+1", "+2", 0, 0, "", "hi", flag::kReceiptRequested, false, &id, "",
            "SMPPOption_user_message_reference=513; SMPPOption_source_port=0x0B84; LocalUser=x"),
        0u);
    peer.join();
    EXPECT_EQ(id, "7");
    EXPECT_EQ(bind.interface_version, version);
    EXPECT_EQ(bind.system_type, "VMA");
    EXPECT_TRUE(bind.tlvs.empty());
    EXPECT_EQ(submit.registered_delivery, 1);
    if (version == 0x33) {
      EXPECT_TRUE(submit.tlvs.empty());
    } else {
      ASSERT_EQ(submit.tlvs.size(), 2u);
      EXPECT_EQ(submit.tlvs[0].tag, 0x0204);
      EXPECT_EQ(submit.tlvs[0].value, std::string("\x02\x01", 2));
      EXPECT_EQ(submit.tlvs[1].value, std::string("\x0B\x84", 2));
    }
  }
  // The server side: a 3.3 client's bind_resp carries no sc_interface_version.
  TestServer server({});
  for (uint8_t version : {uint8_t{0x33}, uint8_t{0x34}}) {
    auto fd = platform::connectTcp("127.0.0.1", server.port(), 2000);
    ASSERT_TRUE(fd.ok());
    RawPeer client(std::move(*fd));
    ASSERT_TRUE(client.sendPdu(testing::bindPdu(cmd::kBindTransceiver, "test", "test", version)));
    Pdu resp;
    ASSERT_TRUE(client.readPdu(&resp));
    EXPECT_EQ(resp.command_status, 0u);
    EXPECT_EQ(resp.tlvs.empty(), version == 0x33);
  }
}

// Each SME destination of submit_multi reaches the callback with its address
// read as submit_sm reads one; a distribution list is refused in the answer.
TEST(SmppSessionTest, SubmitMultiHandsOverEachDestination) {
  TestServer server({});
  auto fd = platform::connectTcp("127.0.0.1", server.port(), 2000);
  ASSERT_TRUE(fd.ok());
  RawPeer client(std::move(*fd));
  Pdu resp;
  ASSERT_TRUE(client.sendPdu(testing::bindPdu(cmd::kBindTransmitter, "test", "test")));
  ASSERT_TRUE(client.readPdu(&resp));
  ASSERT_EQ(resp.command_status, 0u);
  Pdu multi;
  multi.command_id = cmd::kSubmitMulti;
  multi.sequence = 2;
  multi.short_message = "hi";
  multi.dests = {{1, {1, 1, "4670111"}, ""}, {1, {1, 1, "Shop"}, ""}, {2, {}, "friends"}};
  ASSERT_TRUE(client.sendPdu(multi));
  ASSERT_TRUE(client.readPdu(&resp));
  EXPECT_EQ(resp.command_status, 0u);
  EXPECT_FALSE(resp.message_id.empty());
  ASSERT_EQ(resp.unsuccess.size(), 1u);
  EXPECT_EQ(resp.unsuccess[0].error_status, status::kCntSubDl);
  const auto got = server.received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].recipient, "+4670111");
  EXPECT_EQ(got[1].recipient, "Shop") << "no plus for a name, as for submit_sm";
}

// Raw byte streams against a server connection: each is answered with the
// expected PDU, and the connection is closed only after framing errors.
TEST(SmppSessionTest, BadInputIsAnsweredOrClosedNeverCrashes) {
  TestServer server({});
  auto pdu = [](uint32_t len, uint32_t id, uint32_t seq, const std::string& body) {
    platform::ByteWriter w;
    w.u32(len ? len : static_cast<uint32_t>(16 + body.size()));
    w.u32(id);
    w.u32(0);
    w.u32(seq);
    w.bytes(body);
    return w.str();
  };
  std::string bind_body = std::string("test\0test\0\0\x34\0\0\0", 15);
  struct Case {
    const char* name;
    bool bind_first;
    std::string bytes;
    uint32_t want_id;
    uint32_t want_status;
    bool want_closed;
  };
  const Case cases[] = {
      {"oversized command_length", false, pdu(0x7FFFFFF0, cmd::kEnquireLink, 5, ""),
       cmd::kGenericNack, status::kInvCmdLen, true},
      {"command_length below header", false, pdu(8, cmd::kEnquireLink, 5, ""), cmd::kGenericNack,
       status::kInvCmdLen, true},
      {"unknown command", false, pdu(0, 0x00000077, 5, ""), cmd::kGenericNack, status::kInvCmdId,
       false},
      {"submit before bind", false, pdu(0, cmd::kSubmitSm, 5, std::string(17, '\0')),
       cmd::kSubmitSmResp, status::kInvBndSts, false},
      {"system_id without NUL", false, pdu(0, cmd::kBindTransmitter, 5, std::string(20, 'A')),
       cmd::kBindTransmitterResp, status::kInvSysId, false},
      {"truncated bind", false, pdu(0, cmd::kBindTransmitter, 5, std::string("ab\0", 3)),
       cmd::kBindTransmitterResp, status::kInvCmdLen, false},
      {"short_message beyond the PDU", true,
       pdu(0, cmd::kSubmitSm, 6, std::string(16, '\0') + "\xC8" + "short"), cmd::kSubmitSmResp,
       status::kInvMsgLen, false},
      {"TLV overrunning the PDU", true,
       pdu(0, cmd::kDataSm, 6, std::string(10, '\0') + std::string("\x04\x24\x00\x40xy", 6)),
       cmd::kDataSmResp, status::kInvOptParStream, false},
      {"TLV of the wrong size", true,
       pdu(0, cmd::kDataSm, 6, std::string(10, '\0') + std::string("\x04\x27\x00\x02xy", 6)),
       cmd::kDataSmResp, status::kInvParLen, false},
      {"receiver may not submit", false, "", cmd::kSubmitSmResp, status::kInvBndSts, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto fd = platform::connectTcp("127.0.0.1", server.port(), 2000);
    ASSERT_TRUE(fd.ok());
    RawPeer client(std::move(*fd));
    Pdu resp;
    if (c.bytes.empty()) {  // bind as receiver, then submit
      ASSERT_TRUE(client.sendPdu(testing::bindPdu(cmd::kBindReceiver, "test", "test")));
      ASSERT_TRUE(client.readPdu(&resp));
      ASSERT_TRUE(client.sendBytes(pdu(0, cmd::kSubmitSm, 9, std::string(17, '\0'))));
    } else {
      if (c.bind_first) {
        ASSERT_TRUE(client.sendBytes(pdu(0, cmd::kBindTransceiver, 1, bind_body)));
        ASSERT_TRUE(client.readPdu(&resp));
        ASSERT_EQ(resp.command_status, 0u);
      }
      ASSERT_TRUE(client.sendBytes(c.bytes));
    }
    ASSERT_TRUE(client.readPdu(&resp));
    EXPECT_EQ(resp.command_id, c.want_id);
    EXPECT_EQ(resp.command_status, c.want_status);
    if (c.want_closed) {
      EXPECT_TRUE(client.closedByPeer());
    } else {  // still served
      Pdu enquire;
      enquire.command_id = cmd::kEnquireLink;
      enquire.sequence = 99;
      ASSERT_TRUE(client.sendPdu(enquire));
      ASSERT_TRUE(client.readPdu(&resp));
      EXPECT_EQ(resp.command_id, cmd::kEnquireLinkResp);
    }
  }
  // A half-sent PDU and a hang-up leave the server serving others.
  {
    auto fd = platform::connectTcp("127.0.0.1", server.port(), 2000);
    ASSERT_TRUE(fd.ok());
    RawPeer client(std::move(*fd));
    client.sendBytes(pdu(40, cmd::kBindTransmitter, 1, "abc"));
  }
  Connection conn;
  EXPECT_EQ(connectAndBind(conn, server.port()), 0u);
}

TEST(SmppSessionTest, ASubmitRightBehindTheBindWaitsForTheLoginDecision) {
  TestServer server({});
  auto fd = platform::connectTcp("127.0.0.1", server.port(), 2000);
  ASSERT_TRUE(fd.ok());
  RawPeer client(std::move(*fd));
  Pdu submit;
  submit.command_id = cmd::kSubmitSm;
  submit.sequence = 2;
  submit.destination = {1, 1, "4670"};
  submit.short_message = "early";
  platform::ByteWriter w;
  encodePdu(testing::bindPdu(cmd::kBindTransmitter, "test", "test"), &w);
  encodePdu(submit, &w);
  ASSERT_TRUE(client.sendBytes(w.str()));  // one write: both PDUs arrive together
  Pdu resp;
  ASSERT_TRUE(client.readPdu(&resp));
  EXPECT_EQ(resp.command_id, cmd::kBindTransmitterResp);
  ASSERT_TRUE(client.readPdu(&resp));
  EXPECT_EQ(resp.command_id, cmd::kSubmitSmResp);
  EXPECT_EQ(resp.command_status, 0u);
  EXPECT_EQ(resp.message_id, "M1");
}

TEST(SmppSessionTest, EnquireLinkAndUnbindAreAnsweredByEitherSide) {
  TestServer server({});
  Connection conn;
  ASSERT_EQ(connectAndBind(conn, server.port()), 0u);
  EXPECT_EQ(SMPPEnquireLink(conn, 0x34), 0u);
  server.probe_enquire_link = true;
  EXPECT_TRUE(yieldUntil(conn, [&] { return server.enquire_results_ok.load() == 1; }));
  // The centre unbinding ends the link for the client.
  auto listener = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  Connection c2;
  ASSERT_EQ(SMPPConnect(c2, tls::Stream(), "L", "127.0.0.1", platform::localPort(listener->get())),
            0u);
  auto fd = platform::acceptConnection(listener->get(), 2000);
  ASSERT_TRUE(fd.ok());
  RawPeer smsc(std::move(*fd));
  std::thread peer([&] {
    Pdu bind;
    ASSERT_TRUE(smsc.readPdu(&bind));
    smsc.sendPdu(makeResponse(bind, 0));
    Pdu unbind;
    unbind.command_id = cmd::kUnbind;
    unbind.sequence = 77;
    smsc.sendPdu(unbind);
    Pdu resp;
    ASSERT_TRUE(smsc.readPdu(&resp));
    EXPECT_EQ(resp.command_id, cmd::kUnbindResp);
    EXPECT_EQ(resp.sequence, 77u);
  });
  ASSERT_EQ(SMPPBind(c2, 0x34, kBindTypeReceiver, "a", "b", ""), 0u);
  bool error = false;
  for (int i = 0; i < 100 && !error; ++i) SMPPYield(c2, 0x34, 20ms, &error);
  peer.join();
  EXPECT_TRUE(error);
  EXPECT_EQ(SMPPCheckLinkStatus(c2), 0);
}

TEST(SmppSessionTest, AsyncReceivingAnswersOnlyOnceAWorkerStoredTheMessage) {
  TestServer server({});
  // The store refuses "mo 1": the centre must hear a temporary error for it.
  std::mutex mu;
  std::vector<std::string> stored;
  SMPPSetReceiveMessageCallback([&](const InboundMessage& m) {
    if (m.data == "mo 1") return 0;
    std::scoped_lock lk(mu);
    stored.push_back(m.data);
    return 1;
  });
  Connection conn;
  conn.setAsyncReceive(true);
  ASSERT_EQ(connectAndBind(conn, server.port(), kBindTypeReceiver), 0u);
  for (int i = 0; i < 3; ++i)
    server.queueDeliver({"+1", "+2", 0, 0, "", "mo " + std::to_string(i), 0, false, ""});
  // Queued for the workers and not answered while none has run.
  for (int i = 0; i < 20; ++i) SMPPYield(conn, 0x34, 10ms, nullptr);
  EXPECT_TRUE(server.deliverResults().empty());
  std::atomic<int> n{0};
  std::thread worker([&] {
    for (int i = 0; i < 20 && n < 3; ++i) n += SMPPReceiveFromAsyncQ(conn.linkName(), 100ms);
  });
  ASSERT_TRUE(yieldUntil(conn, [&] { return server.deliverResults().size() == 3; }));
  worker.join();
  EXPECT_EQ(n, 3);
  EXPECT_EQ(server.deliverResults(), (std::vector<uint32_t>{0, status::kRxTAppn, 0}));
  EXPECT_EQ(stored, (std::vector<std::string>{"mo 0", "mo 2"}));
  SMPPSetReceiveMessageCallback(nullptr);
}

TEST(SmppSessionTest, TlsOnBothSides) {
  vek::testing::TempDir dir;
  platform::ProcessOptions po;
  po.argv = {"openssl",
             "req",
             "-x509",
             "-newkey",
             "ec",
             "-pkeyopt",
             "ec_paramgen_curve:prime256v1",
             "-nodes",
             "-keyout",
             dir.file("SSLKEY.PEM"),
             "-out",
             dir.file("SSLCERT.PEM"),
             "-days",
             "2",
             "-subj",
             "/CN=localhost"};
  po.time_limit = 20s;
  auto gen = platform::runProcess(po);
  if (!gen.exitedWith(0))
    GTEST_SKIP() << "openssl could not make a test certificate: " << gen.output;
  ASSERT_TRUE(tls::sslInitLib());
  tls::sslSetCertificateDirectory(dir.path());
  TestServer::Options options;
  options.tls = true;
  TestServer server(options);
  Inbox inbox;
  auto fd = platform::connectTcp("127.0.0.1", server.port(), 2000);
  ASSERT_TRUE(fd.ok());
  std::string err;
  tls::ClientOptions co;
  co.verify = false;
  tls::TlsSession* s = tls::sslInitSession(fd->get(), &err, co);
  ASSERT_NE(s, nullptr) << err;
  Connection conn;
  ASSERT_EQ(SMPPConnect(conn, tls::Stream(std::move(*fd), tls::SessionPtr(s)), "TLS", "127.0.0.1",
                        server.port()),
            0u);
  ASSERT_EQ(SMPPBind(conn, 0x34, kBindTypeTransceiver, "test", "test", ""), 0u);
  std::string id;
  EXPECT_EQ(SMPPSubmitMessage(conn, 0x34, "+1", "+2", 0, 0, "", "secret", 0, false, &id, "", ""),
            0u);
  server.queueDeliver({"+2", "+1", 0, 0, "", "reply", 0, false, ""});
  ASSERT_TRUE(yieldUntil(conn, [&] { return inbox.size() == 1; }));
  EXPECT_EQ(inbox.items[0].data, "reply");
  EXPECT_EQ(server.received().at(0).data, "secret");
}

}  // namespace
}  // namespace vek::smpp
