// The CIMD2 entries: the gateway's links to message centres that speak
// CIMD2, and the connections such a centre opens back to the gateway's
// ReceivePort. Every entry takes the link name first.
//
// The link thread owns one Connection and calls, in this order:
// CIMDSetReceiveMessageCallbackEx (once per thread start), CIMDConnect with
// its connected stream (plain or TLS), CIMDBind (01 login), then
// CIMDSubmitMessage / CIMDSubmitMessageAsync and CIMDYield (which handles
// what the centre sends and runs the receive callback inside), with
// CIMDEnquireLink (40 alive) for keep-alive and CIMDCheckLinkStatus after
// each step, and CIMDUnbind (02 logout) at an orderly end.
//
// Result codes: 0 success; the centre's error code (parameter 900, decimal:
// 10 temporary congestion - what centres answer when throttling -, 100
// invalid login, 300 bad destination, ...); the same codes when the engine
// refuses a message itself before sending it; and protocols::local codes
// (0xFFFFFFFF connection error, 0xFFFFFFFE no answer in time, 0xFFFFFFFD no
// free packet number or an answer that does not read), which mean "try
// again later".
//
// A received 20 (message) or 23 (status report) goes to the extended
// receive callback, or, when only the plain one is set, a message goes to
// the plain one; 1 answers it positively, 0 with error 6 so that the centre
// delivers it again later. A status report arrives as a receipt (see
// message.h) with "ReceiptMsgIdOrig=" naming the submission's message id;
// without the extended callback it is answered with error 6 (kept by the
// centre) rather than lost.
//
// A Connection is driven by one thread at a time; the callbacks run on that
// thread while it yields or waits, and may not call the waiting entries of
// the same connection (they refuse with local::kFailure).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocols/async_submit.h"
#include "protocols/framed_session.h"
#include "protocols/messages.h"
#include "tls/stream.h"

namespace vek::cimd {

using protocols::AsyncSubmit;
using protocols::InboundMessage;
using ReceiveMessageCallback = protocols::ReceiveCallback;
// The plain form: link name, sender, PID, DCS, header (hex) and message.
using PlainReceiveCallback =
    std::function<int(const std::string& link_name, const std::string& sender, uint8_t pid,
                      uint8_t dcs, const std::string& udh, const std::string& data)>;

inline constexpr std::chrono::milliseconds kDefaultCommandTimeout{60000};

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Zero or less: kDefaultCommandTimeout.
  void setCommandTimeout(std::chrono::milliseconds timeout);
  const std::string& linkName() const;
  bool loggedIn() const;
  size_t outstanding() const;
  // Why the connection ended ("" while it has not).
  const std::string& lastError() const;
  tls::Stream& stream();

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Takes over `stream`, already connected (TLS negotiated when wanted); an
// invalid stream makes the engine connect to host:port itself. 0 = connected.
uint32_t CIMDConnect(const std::string& link_name, Connection& conn, tls::Stream stream,
                     const std::string& host, uint16_t port);

// 01 login with user identity and password (neither may hold control
// characters). 0 = logged in; else the centre's code (100 invalid login) or
// a local code.
uint32_t CIMDBind(const std::string& link_name, Connection& conn, const std::string& user,
                  const std::string& password);

// The text of a result code, e.g. "Temporary congestion error (CIMD error 10)".
std::string CIMDErrorText(uint32_t code);

// 03 submit and wait for its answer. `data` is UTF-8 text, or hexadecimal
// when `binary`; `udh` hexadecimal; `flags` the message flag word.
// `params`: "Validity=", "LocalUser=" (not sent), separated by ";".
// 0 = accepted and *message_id filled with "<destination>:<time stamp>".
uint32_t CIMDSubmitMessage(const std::string& link_name, Connection& conn,
                           const std::string& sender, const std::string& recipient, uint8_t pid,
                           uint8_t dcs, const std::string& udh, const std::string& data,
                           uint32_t flags, bool binary, std::string* message_id,
                           const std::string& request_file, const std::string& params);

// The same without waiting: 0 = sent and `ctx` completes with the answer
// (matched by packet number) or a local code; else nothing was sent and
// `ctx` is left alone. At most 128 submissions can be outstanding (the odd
// packet numbers).
uint32_t CIMDSubmitMessageAsync(const std::string& link_name, Connection& conn,
                                const std::string& sender, const std::string& recipient,
                                uint8_t pid, uint8_t dcs, const std::string& udh,
                                const std::string& data, uint32_t flags, bool binary,
                                const std::string& request_file, const std::string& params,
                                std::shared_ptr<AsyncSubmit> ctx);

// Handles what the centre sends for up to `wait`. Returns the number of
// packets handled; sets *connection_error when the link is gone.
int CIMDYield(const std::string& link_name, Connection& conn, std::chrono::milliseconds wait,
              bool* connection_error);

// Non-zero while the connection is up and logged in (or, for a connection
// the centre opened to the ReceivePort, while it is up).
int CIMDCheckLinkStatus(const std::string& link_name, Connection& conn);

// 40 alive and wait for its answer; 0 = answered.
uint32_t CIMDEnquireLink(const std::string& link_name, Connection& conn);

// 02 logout (waiting at most 5 seconds for its answer), then the stream is
// closed. 0 = answered.
uint32_t CIMDUnbind(const std::string& link_name, Connection& conn);

void CIMDSetReceiveMessageCallback(PlainReceiveCallback callback);
void CIMDSetReceiveMessageCallbackEx(ReceiveMessageCallback callback);

// 1: every packet sent and received goes to the debug log.
void CIMDSetDebugMode(int on);

// A connection the centre opened to the gateway's ReceivePort: its login
// is acknowledged, its messages and status reports go to the callbacks.
uint32_t CIMDAccept(const std::string& link_name, Connection& conn, tls::Stream stream);

// Serves one accepted ReceivePort connection until the centre closes it,
// it breaks, the gateway shuts down or `stop` returns true; logs "Processing
// CIMD connection from <peer>..." and "Releasing Connection". Returns the
// number of packets handled.
int CIMDServeConnection(const std::string& link_name, tls::Stream stream,
                        const std::string& peer_address,
                        const std::function<bool()>& stop = std::function<bool()>());

}  // namespace vek::cimd
