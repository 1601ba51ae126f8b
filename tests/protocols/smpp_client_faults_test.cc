// The client entries against a scripted message centre (a raw peer): what
// the client answers to what a centre sends around and after the bind, and
// what it refuses to put on the wire.
#include <gtest/gtest.h>

#include <thread>

#include "protocols/smpp/message.h"
#include "protocols/smpp/receipt.h"
#include "protocols/smpp/tlv.h"
#include "smpp_harness.h"
#include "support/test_support.h"

namespace vek::smpp {
namespace {

using namespace std::chrono_literals;
using testing::Inbox;
using testing::RawPeer;

std::string encode(const Pdu& p) {
  platform::ByteWriter w;
  encodePdu(p, &w);
  return w.str();
}

Pdu deliverSm(uint32_t seq, const std::string& text) {
  Pdu d;
  d.command_id = cmd::kDeliverSm;
  d.sequence = seq;
  d.source = {1, 1, "4670111"};
  d.destination = {0, 0, "1234"};
  d.short_message = text;
  return d;
}

// A listening centre and a connected client; the centre side is a RawPeer
// once accepted.
struct Centre {
  platform::UniqueFd listener;
  Connection conn;
  std::unique_ptr<RawPeer> peer;

  Centre() {
    auto fd = platform::listenTcp("127.0.0.1", 0);
    EXPECT_TRUE(fd.ok());
    listener = std::move(*fd);
    uint16_t port = platform::localPort(listener.get());
    EXPECT_EQ(SMPPConnect(conn, tls::Stream(), "SMPP - test", "127.0.0.1", port), 0u);
    auto accepted = platform::acceptConnection(listener.get(), 2000);
    EXPECT_TRUE(accepted.ok());
    peer = std::make_unique<RawPeer>(std::move(*accepted));
  }

  // Binds with `bind_type`; the centre answers the bind and sends `after`
  // in the same write.
  uint32_t bind(int bind_type, const std::string& after = {}) {
    std::thread centre([&] {
      Pdu bind;
      ASSERT_TRUE(peer->readPdu(&bind));
      peer->sendBytes(encode(makeResponse(bind, status::kOk)) + after);
    });
    uint32_t st = SMPPBind(conn, 0x34, bind_type, "gw", "pw", "");
    centre.join();
    return st;
  }

  // Yields until the centre has read one PDU (bounded).
  bool answer(Pdu* resp) {
    bool got = false;
    std::thread reader([&] { got = peer->readPdu(resp); });
    bool error = false;
    for (int i = 0; i < 50 && !error; ++i) SMPPYield(conn, 0x34, 20ms, &error);
    reader.join();
    return got;
  }
};

TEST(SmppClientFaultsTest, DeliverSmInTheSameReadAsTheBindRespIsAccepted) {
  Inbox inbox;
  Centre centre;
  ASSERT_EQ(centre.bind(kBindTypeTransceiver, encode(deliverSm(7, "stored receipt"))), 0u);
  Pdu resp;
  ASSERT_TRUE(centre.answer(&resp));
  EXPECT_EQ(resp.command_id, cmd::kDeliverSmResp);
  EXPECT_EQ(resp.sequence, 7u);
  EXPECT_EQ(resp.command_status, status::kOk);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_EQ(inbox.items[0].data, "stored receipt");
}

TEST(SmppClientFaultsTest, WhatTheCentreMayNotSendIsRefused) {
  Pdu both = deliverSm(3, "short");
  both.addTlv(tag::kMessagePayload, "payload");
  // The encoder writes only well-formed times: put the bad one in afterwards.
  auto withValidity = [](const std::string& v) {
    Pdu d = deliverSm(4, "x");
    d.validity_period = "000000000000000R";
    std::string bytes = encode(d);
    bytes.replace(bytes.find(d.validity_period), v.size(), v);
    return bytes;
  };
  Pdu unknown_resp;
  unknown_resp.command_id = 0x80000077;
  unknown_resp.sequence = 9;
  struct Case {
    const char* name;
    int bind_type;
    std::string bytes;
    uint32_t want_id;
    uint32_t want_status;
  };
  const Case cases[] = {
      {"deliver_sm to a transmitter", kBindTypeTransmitter, encode(deliverSm(2, "x")),
       cmd::kDeliverSmResp, status::kInvBndSts},
      {"unknown response command", kBindTypeTransceiver, encode(unknown_resp), cmd::kGenericNack,
       status::kInvCmdId},
      {"short_message and message_payload", kBindTypeTransceiver, encode(both), cmd::kDeliverSmResp,
       status::kOptParNotAllwd},
      {"absolute time in month 13", kBindTypeReceiver, (withValidity("261301120000000+")),
       cmd::kDeliverSmResp, status::kInvExpiry},
      {"quarter hours beyond 48", kBindTypeReceiver, (withValidity("261201120000049+")),
       cmd::kDeliverSmResp, status::kInvExpiry},
      {"relative time with letters", kBindTypeReceiver, (withValidity("0000010a0000000R")),
       cmd::kDeliverSmResp, status::kInvExpiry},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Inbox inbox;
    Centre centre;
    ASSERT_EQ(centre.bind(c.bind_type), 0u);
    ASSERT_TRUE(centre.peer->sendBytes(c.bytes));
    Pdu resp;
    ASSERT_TRUE(centre.answer(&resp));
    EXPECT_EQ(resp.command_id, c.want_id);
    EXPECT_EQ(resp.command_status, c.want_status);
    EXPECT_EQ(inbox.size(), 0u);
    EXPECT_EQ(SMPPCheckLinkStatus(centre.conn), 1);
  }
  // The time forms a centre may use pass.
  Inbox inbox;
  Centre centre;
  ASSERT_EQ(centre.bind(kBindTypeReceiver), 0u);
  ASSERT_TRUE(centre.peer->sendBytes((withValidity("261231235959148-")) +
                                     (withValidity("000007000000000R"))));
  for (int i = 0; i < 2; ++i) {
    Pdu resp;
    ASSERT_TRUE(centre.answer(&resp));
    EXPECT_EQ(resp.command_status, status::kOk);
  }
}

TEST(SmppClientFaultsTest, ASuccessAnswerWithoutBodyIsAnAcceptedMessage) {
  Centre centre;
  ASSERT_EQ(centre.bind(kBindTypeTransmitter), 0u);
  std::thread smsc([&] {
    for (int i = 0; i < 2; ++i) {
      Pdu submit;
      ASSERT_TRUE(centre.peer->readPdu(&submit));
      // command_status 0 and nothing after the header: no message_id at all.
      Pdu resp = makeResponse(submit, status::kOk);
      std::string bytes = encode(resp).substr(0, kHeaderLength);
      bytes[3] = static_cast<char>(kHeaderLength);
      centre.peer->sendBytes(bytes);
    }
  });
  std::string id = "stale";
  EXPECT_EQ(
      SMPPSubmitMessage(centre.conn, 0x34, "", "+4670", 0, 0, "", "hi", 0, false, &id, "r1", ""),
      status::kOk);
  EXPECT_EQ(id, "");
  auto ctx = std::make_shared<AsyncSubmit>();
  ASSERT_EQ(SMPPSubmitMessageAsync(centre.conn, 0x34, "", "+4670", 0, 0, "", "hi", 0, false, "r2",
                                   "", ctx),
            status::kOk);
  bool error = false;
  for (int i = 0; i < 100 && !ctx->answered() && !error; ++i)
    SMPPYield(centre.conn, 0x34, 20ms, &error);
  smsc.join();
  ASSERT_TRUE(ctx->answered());
  EXPECT_EQ(ctx->result(), status::kOk);
  EXPECT_EQ(ctx->messageId(), "");
}

TEST(SmppClientFaultsTest, NulInsideAFieldIsRefusedBeforeEncoding) {
  const std::string nul(
      "46\0"
      "70",
      5);
  struct Case {
    const char* name;
    OutboundMessage m;
    uint32_t want;
  };
  const Case cases[] = {
      {"sender", {nul, "+4670", 0, 0, "", "x", 0, false, ""}, status::kInvSrcAdr},
      {"recipient", {"123", "+" + nul, 0, 0, "", "x", 0, false, ""}, status::kInvDstAdr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pdu p;
    EXPECT_EQ(buildMessagePdu(cmd::kSubmitSm, c.m, 0x34, OptionTable(), &p), c.want);
  }
  // Bind credentials with a NUL never reach the wire.
  Centre centre;
  EXPECT_EQ(SMPPBind(centre.conn, 0x34, kBindTypeTransmitter, std::string("gw\0x", 4), "pw", ""),
            status::kInvSysId);
  EXPECT_EQ(SMPPBind(centre.conn, 0x34, kBindTypeTransmitter, "gw", std::string("p\0w", 3), ""),
            status::kInvPaswd);
  // Whatever slips through, the encoder never shifts the fields after a
  // C-Octet String: the value ends at its NUL.
  Pdu d = deliverSm(1, "text");
  d.service_type = std::string("A\0BCD", 5);
  d.source.addr = std::string(
      "12\0"
      "34",
      5);
  Pdu back;
  std::string bytes = encode(d);
  ASSERT_EQ(decodePdu(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()),
                                               bytes.size()),
                      &back),
            status::kOk);
  EXPECT_EQ(back.service_type, "A");
  EXPECT_EQ(back.source.addr, "12");
  EXPECT_EQ(back.destination.addr, "1234");
  EXPECT_EQ(back.short_message, "text");
}

}  // namespace
}  // namespace vek::smpp
