// The SMPP client entries: the gateway's links to message centres.
//
// The link thread owns one Connection per SMPP connection and calls the
// entries below in this order: SMPPSetReceiveMessageCallback (once per
// thread start), SMPPConnect with its connected stream (plain or TLS),
// SMPPBind, then SMPPSubmitMessage / SMPPSubmitMessageAsync and SMPPYield
// (which services incoming PDUs and runs the receive callback inside), with
// SMPPEnquireLink for keep-alive and SMPPCheckLinkStatus after each step,
// and SMPPUnbind at an orderly end. Result codes: see status_codes.h
// (0 success; 88 throttled and 20 queue full mean try later; 10, 11 and
// 102 mean never; 0xFFFF0000 and above are local failures).
//
// A Connection is driven by one thread at a time. The receive callback runs
// on the thread that yields (or, with asynchronous receiving, on the thread
// that calls SMPPReceiveFromAsyncQ). The callback may not call back into
// the same connection's waiting entries (they would refuse with
// status::kInvalidArgument).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocols/smpp/async_submit.h"
#include "protocols/smpp/message.h"
#include "protocols/smpp/status_codes.h"
#include "tls/stream.h"

namespace vek::smpp {

// Bind types as the gateway names them.
inline constexpr int kBindTypeReceiver = 1;
inline constexpr int kBindTypeTransmitter = 2;
inline constexpr int kBindTypeTransceiver = 9;

// Called for each deliver_sm / data_sm (messages and receipts). The return
// value is the gateway's: non-zero (1) accepts the message (answered with
// ESME_ROK); 0 asks the centre to deliver it again later (ESME_RX_T_APPN).
using ReceiveMessageCallback = std::function<int(const InboundMessage& message)>;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // How long to wait for any answer (`CommandTimeout`; default and 0: 120 s).
  void setCommandTimeout(std::chrono::milliseconds timeout);
  // With asynchronous receiving (`AsyncReceiveMessages`), received messages
  // are answered at once and queued for SMPPReceiveFromAsyncQ instead of
  // running the callback inside SMPPYield.
  void setAsyncReceive(bool on);

  const std::string& linkName() const;
  bool bound() const;
  // Negotiated interface version (0x33 or 0x34).
  uint8_t version() const;
  // Submissions sent asynchronously and not answered yet.
  size_t outstanding() const;
  // The underlying stream (socket options; the gateway closes nothing itself).
  tls::Stream& stream();

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Takes over `stream`, already connected by the gateway (TLS negotiated when
// wanted). An invalid stream makes the library connect to host:port itself
// (plain TCP). 0 = connected.
uint32_t SMPPConnect(Connection& conn, tls::Stream stream, const std::string& link_name,
                     const std::string& host, uint16_t port);

// bind_receiver (1), bind_transmitter (2) or bind_transceiver (9) with
// interface version 0x33 or 0x34. 0 = bound; else the centre's status (or a
// local code). Credentials longer than the standard allows are refused
// (ESME_RINVSYSID / ESME_RINVPASWD / ESME_RINVSYSTYP) rather than cut.
uint32_t SMPPBind(Connection& conn, uint8_t version, int bind_type, const std::string& system_id,
                  const std::string& password, const std::string& system_type,
                  const std::string& address_range = std::string());

// The text of a result code (standard names and texts, local failures).
std::string SMPPErrorText(uint32_t code);

// submit_sm and wait for its answer. `data` is UTF-8 text, or hexadecimal
// when `binary`; `udh` hexadecimal; `flags` the message flag word (receipt
// requested sets registered_delivery). `params`: "ServiceType=",
// "Validity=", "LocalUser=" (not sent), "SMPPOption_<name>=<value>" items
// separated by ";". 0 = accepted and *message_id filled.
uint32_t SMPPSubmitMessage(Connection& conn, uint8_t version, const std::string& sender,
                           const std::string& recipient, uint8_t pid, uint8_t dcs,
                           const std::string& udh, const std::string& data, uint32_t flags,
                           bool binary, std::string* message_id, const std::string& request_file,
                           const std::string& params);

// The same without waiting: 0 = sent, and `ctx` completes with the answer
// (or kTimeout / kConnectionLost). Any other result: nothing was sent and
// `ctx` is left alone. The caller keeps the window (SMPPYield until
// outstanding() drops).
uint32_t SMPPSubmitMessageAsync(Connection& conn, uint8_t version, const std::string& sender,
                                const std::string& recipient, uint8_t pid, uint8_t dcs,
                                const std::string& udh, const std::string& data, uint32_t flags,
                                bool binary, const std::string& request_file,
                                const std::string& params, std::shared_ptr<AsyncSubmit> ctx);

// Services incoming PDUs for up to `wait` (returning early once something
// was handled): answers enquire_link and unbind, matches answers to
// submissions, runs the receive callback. Returns the number of PDUs
// handled; sets *connection_error when the link is gone.
int SMPPYield(Connection& conn, uint8_t version, std::chrono::milliseconds wait,
              bool* connection_error);

// Non-zero while the connection is bound and healthy.
int SMPPCheckLinkStatus(Connection& conn);

// enquire_link and wait for the answer; 0 = answered.
uint32_t SMPPEnquireLink(Connection& conn, uint8_t version);

// unbind and wait for unbind_resp (at most the command time-out, 5 s at
// most); the stream is closed afterwards. 0 = answered.
uint32_t SMPPUnbind(Connection& conn, uint8_t version);

// Delivers messages queued for `link_name` by asynchronous receiving
// through the receive callback; waits up to `wait` for the first. Returns
// the number delivered.
int SMPPReceiveFromAsyncQ(const std::string& link_name,
                          std::chrono::milliseconds wait = std::chrono::milliseconds(0));

void SMPPSetReceiveMessageCallback(ReceiveMessageCallback callback);

// 1: protocol lines (every PDU sent and received) go to the debug log.
void SMPPSetDebugMode(int on);

}  // namespace vek::smpp
