// ClientSession: one client application's connection to the SMPP server,
// from the accepted stream to its end, on the connection's own thread.
//
//   1. "Processing SMPP connection from <address>..."; the settings are read.
//   2. Bind: the client has the bind time limit to send one (a connection
//      that never binds is closed). The account is looked up and checked
//      (login.h), then its connection count (account_state.h). A refusal
//      is held for the back-off delay and answered with the refusing
//      status; the connection then ends. An acceptance resets the back-off,
//      gives back the connection's unbound ticket, sets the socket options
//      and creates the active-connection flag file.
//   3. Serving: the engine is yielded to in slices (submissions arrive in
//      the receive callback, which calls submitClientMessage); receivers and
//      transceivers also get a delivery pass over the account's queue about
//      once a second (delivery.h). A transmitter never gets deliveries. A
//      receiver that submits is answered ESME_RINVBNDSTS by the engine.
//   4. The connection is closed after `SMPPServerEnquireLink` seconds
//      without a PDU from the client ("Closing inactive connection"), and
//      the account is checked again every `SMPPServerValidateUserInterval`
//      seconds (revalidationFailure's texts end it).
//   5. End: the answers still owed for deliveries are awaited (bounded) and
//      the rest kept for a retry; "Releasing SMPP connection from
//      <address>"; the stream is closed and the flag file deleted.
//
// Every wait is bounded and ends when the gateway stops.
//
// ServerState is what all connections share: the per-account records, the
// rejection back-off and the unbound limits. The service uses one
// (serverState()); tests make their own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hostlib/accounts.h"
#include "platform/clock.h"
#include "protocols/messages.h"
#include "protocols/smpp/server.h"
#include "smpp_server/account_state.h"
#include "smpp_server/active_flag.h"
#include "smpp_server/login.h"
#include "smpp_server/server_settings.h"
#include "smpp_server/submission.h"
#include "smpp_server/unbound_limits.h"
#include "tls/stream.h"

namespace vek::smpp_server {

class Deliverer;

struct ServerState {
  AccountRegistry accounts;
  RejectionBackoff backoff;
  UnboundLimits unbound;
  std::atomic<int> sessions{0};  // connections between accept and end
};
ServerState& serverState();

// What tests (and the fuzz target) change; the defaults are the service's.
struct SessionHooks {
  // Holds a refusal for the back-off delay; false when the gateway stops.
  std::function<bool(std::chrono::seconds)> backoff_wait;
  // Waits for a pacing slot (submission.h).
  std::function<bool(platform::SteadyTime)> pacing_wait;
  std::string queue_root;                        // "" configured
  std::chrono::milliseconds bind_timeout{0};     // 0: SMPPServerBindTimeout
  std::chrono::milliseconds command_timeout{0};  // deliver_sm answers; 0: the engine's
  std::chrono::milliseconds slice{5000};         // longest single yield
  std::chrono::milliseconds delivery_pause{1000};
  std::chrono::milliseconds finish_bound{10000};  // answers awaited at the end
};

class ClientSession {
 public:
  ClientSession(ServerState& state, tls::Stream stream, std::string peer_address,
                uint16_t peer_port, UnboundTicket ticket, SessionHooks hooks = {});
  ~ClientSession();
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  // The whole connection; returns when it has ended.
  void run();

  // From the engine's callbacks, on this connection's thread.
  uint32_t onSubmit(const protocols::InboundMessage& m, std::string* message_id);
  void onActivity() { last_activity_ = platform::monotonicNow(); }

 private:
  bool login();
  void serve();
  bool revalidate();
  void finish();

  ServerState& state_;
  const std::string peer_;
  const uint16_t peer_port_;
  UnboundTicket ticket_;
  SessionHooks hooks_;
  ServerSettings settings_;
  smpp::ServerConnection conn_;

  Submitter submitter_;
  std::string password_;
  int bind_type_ = 0;
  uint8_t version_ = 0x34;
  std::optional<ConnectionSlot> slot_;
  ActiveFlag flag_;
  std::unique_ptr<Deliverer> deliverer_;
  platform::SteadyTime last_activity_{};
};

// Registers the server's receive and activity callbacks with the SMPP
// library (idempotent). The listeners call it before they accept.
void installServerCallbacks();

}  // namespace vek::smpp_server
