// The SMPP server's listener threads: ThreadListenForSMPPConnections on
// `SMPPPort` and ThreadListenForSSLSMPPConnections on `SMPPPortSSL` (TLS with
// "SSLCERT.PEM" / "SSLKEY.PEM" of the private data directory). A port of 0
// or none means that listener is off; it looks at the setting again every
// 5 s.
//
// Each listener binds foundation::listenAddress() with a backlog of 100,
// registers its socket (foundation::setListeningSocket), waits for
// connections at most 15 s at a time, re-reads its port after each wait and
// moves when it changed ("Closing SMPP port %u, opening SMPP port %u"). A
// port it cannot take is retried every 5 s, with the error file
// "SMPPSOCKET.ERR" / "SSLSMPPSOCKET.ERR" and an event-log entry once a day.
//
// Each accepted connection first needs a ticket from the unbound limits
// (client_session.h); without one it is closed at once. It is then served
// on its own thread ("ThreadProcessSMPPConnection",
// "ThreadProcessSSLSMPPConnection"), which for TLS first accepts the TLS
// session (bounded; a failure is logged and the socket closed).
//
// Why a thread per connection: the SMPP engine drives one connection with
// blocking, bounded waits, and a bound client's work (publishing request
// files, walking its queue, pacing) is blocking file work; one thread per
// bound connection keeps each client's order and isolates a slow one.
// What a connection that never binds may hold is capped by the unbound
// limits and the bind time limit, so idle connections cannot grow the
// thread count, the descriptors or the memory without bound.
//
// The thread bodies run under foundation::startWorkerThread; the argument
// is not used.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/unique_fd.h"
#include "smpp_server/client_session.h"

namespace vek::smpp_server {

void ThreadListenForSMPPConnections(int unused);
void ThreadListenForSSLSMPPConnections(int unused);

// The listeners' waits. Tests shorten them; the defaults are the service's.
struct ListenerTiming {
  std::chrono::milliseconds accept_wait{15000};
  std::chrono::milliseconds retry{5000};
  std::chrono::milliseconds handshake{15000};
};
void setListenerTiming(const ListenerTiming& timing);

// What a listener does with one accepted connection: admits it against the
// unbound limits of `state` (closing it at once when they are full) and
// serves it on a worker thread of its own. False when refused.
bool handOffConnection(ServerState& state, platform::UniqueFd fd, std::string address,
                       uint16_t port, bool tls, SessionHooks hooks = {});

}  // namespace vek::smpp_server
