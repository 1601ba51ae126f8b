// The SMPP server entries: client applications binding to the gateway.
//
// The gateway's SMPP listener accepts a socket (and its TLS session), wraps
// it in a ServerConnection and, on that connection's thread, calls
// SMPPServerWaitForLogin, decides, and answers with SMPPServerAcceptLogin or
// SMPPServerRejectLogin. Afterwards it loops on SMPPServerYield (submit_sm /
// data_sm / submit_multi from the client reach the server receive callback,
// whose return value is the answer's command_status) and, for receivers
// and transceivers, SMPPServerSubmitMessage / SMPPServerSubmitMessageNew to
// hand deliver_sm to the client. The library answers enquire_link and
// unbind itself; a PDU not allowed in the bind state gets ESME_RINVBNDSTS,
// an unknown command generic_nack (ESME_RINVCMDID).
//
// One thread drives a ServerConnection at a time. The callbacks are
// process-wide (set once at start-up) and run on the connection's thread
// while it yields or waits for an answer; they may not call the waiting
// entries of the same connection (those refuse with status::kInvalidArgument).
// After a bind request nothing more is read until the gateway has answered it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocols/smpp/async_submit.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/message.h"
#include "protocols/smpp/status_codes.h"
#include "tls/stream.h"

namespace vek::smpp {

class ServerConnection;

// A client submitted a message (one call per destination of submit_multi).
// `message.link_name` is the bound account; flags carry the receipts the
// client asked for (kReceiptRequested, kNonDeliveryReceiptRequested) and
// kReplyRequested. Return 0 and set *message_id (at most 64 characters) to
// accept, or the command_status to refuse with (88 throttled, 8 system error, ...).
using ServerReceiveCallback = std::function<uint32_t(
    ServerConnection& conn, const InboundMessage& message, std::string* message_id)>;

// Every PDU that arrives from a client, before it is handled (for the
// connection's inactivity clock).
using ServerActivityCallback = std::function<void(ServerConnection& conn, uint32_t command_id)>;

class ServerConnection {
 public:
  // `stream`: the accepted socket (TLS already accepted when wanted).
  ServerConnection(tls::Stream stream, std::string peer_address);
  ~ServerConnection();
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  const std::string& peerAddress() const;
  // The account of the accepted bind ("" before).
  const std::string& account() const;
  // 1 receiver, 2 transmitter, 9 transceiver once accepted; 0 before.
  int bindType() const;
  uint8_t version() const;
  bool bound() const;
  // Deliveries sent with SMPPServerSubmitMessageNew and not answered yet.
  size_t outstanding() const;
  // The system_id the gateway gives in bind responses (default "VekSMS").
  void setSystemId(std::string system_id);
  void setCommandTimeout(std::chrono::milliseconds timeout);
  // The gateway's own per-connection state, handed back in callbacks.
  void setUserContext(void* context);
  void* userContext() const;
  tls::Stream& stream();

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Waits up to `timeout` for a bind request. 0: *account, *password and the
// bind's identifier, type (1, 2, 9) and interface version are filled, to be
// handed back unchanged to SMPPServerAcceptLogin or SMPPServerRejectLogin.
// status::kTimeout when none came, kConnectionLost when the client left.
uint32_t SMPPServerWaitForLogin(ServerConnection& conn, std::chrono::milliseconds timeout,
                                std::string* account, std::string* password, uint32_t* bind_id,
                                int* bind_type, uint8_t* version);

// Answers the bind with success; the connection is then bound.
uint32_t SMPPServerAcceptLogin(ServerConnection& conn, uint32_t bind_id, int bind_type,
                               uint8_t version);

// Answers the bind with `status` (ESME_RINVPASWD or ESME_RBINDFAIL).
uint32_t SMPPServerRejectLogin(ServerConnection& conn, uint32_t bind_id, int bind_type,
                               uint8_t version, uint32_t status = status::kBindFail);

// Services the client for up to `wait` (returning early once something was
// handled). Returns the number of PDUs handled; sets *connection_error when
// the client is gone (closed, unbound, or framing lost).
int SMPPServerYield(ServerConnection& conn, uint8_t version, std::chrono::milliseconds wait,
                    bool* connection_error);

// deliver_sm to the client and wait for deliver_sm_resp: 0, the client's
// status, or a local code (0xFFFF0000 and above: keep the message). Fields as
// for SMPPSubmitMessage; a receipt (flag kIsReceipt) goes with esm_class
// 0x04 and, for 3.4, receipted_message_id ("ReceiptMessageId=" in `params`,
// else the "id:" of the text) and message_state.
uint32_t SMPPServerSubmitMessage(ServerConnection& conn, uint8_t version, const std::string& sender,
                                 const std::string& recipient, uint8_t pid, uint8_t dcs,
                                 const std::string& udh, const std::string& data, uint32_t flags,
                                 bool binary, const std::string& params);

// The same without waiting: 0 = sent, and `ctx` completes with the answer;
// any other result: nothing was sent and `ctx` is left alone.
uint32_t SMPPServerSubmitMessageNew(ServerConnection& conn, uint8_t version,
                                    const std::string& sender, const std::string& recipient,
                                    uint8_t pid, uint8_t dcs, const std::string& udh,
                                    const std::string& data, uint32_t flags, bool binary,
                                    const std::string& params, std::shared_ptr<AsyncSubmit> ctx);

// enquire_link to the client; 0 = answered.
uint32_t SMPPServerEnquireLink(ServerConnection& conn, uint8_t version);

void SMPPServerSetReceiveMessageCallback(ServerReceiveCallback callback);
void SMPPServerSetActivityCallback(ServerActivityCallback callback);

}  // namespace vek::smpp
