// The UCP/EMI entries: the gateway's links to message centres that speak
// UCP, and the connections such a centre opens back to the gateway's
// ReceivePort to deliver messages and notifications.
//
// The link thread owns one Connection and calls, in this order:
// UCPSetReceiveMessageCallback (once per thread start), UCPConnect with its
// connected stream (plain or TLS), UCPBind (the 60 session login), then
// UCPSubmitMessage / UCPSubmitMessageAsync and UCPYield (which handles what
// the centre sends and runs the receive callback inside), with
// UCPEnquireLink (a 31 alert) for keep-alive and UCPCheckLinkStatus after
// each step. UCP has no logout: UCPUnbind closes the connection.
//
// Result codes: 0 success; the centre's error code of a negative result
// (decimal, 1-99: 2 syntax error, 4 operation not allowed - what centres
// answer when throttling -, 6 AdC invalid, 24 message too long, ...); the
// same codes when the engine refuses a message itself before sending it;
// and protocols::local codes (0xFFFFFFFF connection error, 0xFFFFFFFE no
// answer in time, 0xFFFFFFFD no free transaction number or an answer that
// does not read), which mean "try again later".
//
// A received 52 (message) or 53 (notification) goes to the receive
// callback; 1 acknowledges it, 0 answers it negatively (error 04) so that
// the centre delivers it again later. A notification arrives as a receipt
// (see message.h) with "ReceiptMsgIdOrig=" naming the submission's message id.
//
// A Connection is driven by one thread at a time; the receive callback runs
// on that thread while it yields or waits, and may not call the waiting
// entries of the same connection (they refuse with local::kFailure).
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

namespace vek::ucp {

using protocols::AsyncSubmit;
using protocols::InboundMessage;
using ReceiveMessageCallback = protocols::ReceiveCallback;

// How long a request waits for its answer unless the gateway says otherwise.
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
  // Submissions sent asynchronously and not answered yet.
  size_t outstanding() const;
  // Why the connection ended ("" while it has not): a framing fault, a
  // checksum error, the centre closing it, ...
  const std::string& lastError() const;
  // The underlying stream (socket options; the gateway closes nothing itself).
  tls::Stream& stream();

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Takes over `stream`, already connected by the gateway (TLS negotiated when
// wanted). An invalid stream makes the engine connect to host:port itself
// (plain TCP). 0 = connected.
uint32_t UCPConnect(Connection& conn, tls::Stream stream, const std::string& link_name,
                    const std::string& host, uint16_t port);

// The 60 session login with the user name (OAdC: printable, no "/", at most
// 16 characters) and password. 0 = logged in; else the centre's error code
// (7 authentication failure) or a local code.
uint32_t UCPBind(Connection& conn, const std::string& user, const std::string& password);

// The text of a result code, e.g. "Operation not allowed (UCP error 04)".
std::string UCPErrorText(uint32_t code);

// 51 submit and wait for its answer. `data` is UTF-8 text, or hexadecimal
// when `binary`; `udh` hexadecimal; `flags` the message flag word (receipt
// requested sets NRq). `params`: "Validity=", "BillingInfo=" (sent as the
// billing identifier), "OurMsgId=" (names the request in the debug log),
// "LocalUser=" (not sent), separated by ";". 0 = accepted and *message_id
// filled with the centre's "AdC:SCTS".
uint32_t UCPSubmitMessage(Connection& conn, const std::string& sender, const std::string& recipient,
                          uint8_t pid, uint8_t dcs, const std::string& udh, const std::string& data,
                          uint32_t flags, bool binary, std::string* message_id,
                          const std::string& request_file, const std::string& params);

// The same without waiting: 0 = sent, and `ctx` completes with the answer
// (matched by transaction number) or a local code. Any other result:
// nothing was sent and `ctx` is left alone. At most 100 submissions can be
// outstanding (the transaction numbers 00-99); the caller keeps its window
// below that and yields until outstanding() drops.
uint32_t UCPSubmitMessageAsync(Connection& conn, const std::string& sender,
                               const std::string& recipient, uint8_t pid, uint8_t dcs,
                               const std::string& udh, const std::string& data, uint32_t flags,
                               bool binary, const std::string& request_file,
                               const std::string& params, std::shared_ptr<AsyncSubmit> ctx);

// Handles what the centre sends for up to `wait` (returning early once
// something was handled): answers to submissions, 52 and 53 through the
// receive callback, 31 alerts. Returns the number of frames handled; sets
// *connection_error when the link is gone.
int UCPYield(Connection& conn, std::chrono::milliseconds wait, bool* connection_error);

// Non-zero while the connection is up and logged in (or, for a connection
// the centre opened to the ReceivePort, while it is up).
int UCPCheckLinkStatus(Connection& conn);

// A 31 alert and wait for its answer; 0 = answered positively.
uint32_t UCPEnquireLink(Connection& conn);

// Closes the connection (UCP has no logout operation); outstanding
// submissions complete with local::kConnectionError. Returns 0.
uint32_t UCPUnbind(Connection& conn);

void UCPSetReceiveMessageCallback(ReceiveMessageCallback callback);

// 1: every frame sent and received goes to the debug log.
void UCPSetDebugMode(int on);

// A connection the centre opened to the gateway's ReceivePort: the engine
// answers its optional 60 login and its 31 alerts, hands 52 and 53 to the
// receive callback and acknowledges them. `link_name` is the link the
// messages are filed under.
uint32_t UCPAccept(Connection& conn, tls::Stream stream, const std::string& link_name);

// Serves one accepted ReceivePort connection until the centre closes it,
// it breaks, the gateway shuts down or `stop` (when given) returns true:
// logs "Processing UCP connection from <peer>...", yields a second at a
// time, logs "Releasing Connection". Returns the number of frames handled.
int UCPServeConnection(tls::Stream stream, const std::string& link_name,
                       const std::string& peer_address,
                       const std::function<bool()>& stop = std::function<bool()>());

}  // namespace vek::ucp
