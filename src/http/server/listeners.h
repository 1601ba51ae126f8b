// The web server's listener threads and the address-list loaders the
// service calls at start-up and on every reload of "SMSGW.INI".
//
// ThreadListenForConnections: the plain listener on `WebPort` (empty or 0:
// 8800). ThreadListenForSSLConnections: the TLS listener on `WebPortSSL`
// (0: none; the key is re-read every 5 s). Each listener binds the address
// of foundation::listenAddress(), registers its socket with
// foundation::setListeningSocket (-1 when closed), re-reads its port after
// every wait of at most 15 s and moves when it changed, and retries a port
// it cannot open every 5 s, raising the alert "SOCKET.ERR" / "SSLSOCKET.ERR"
// once a day. Each accepted connection goes to the event loop
// (event_loop.h), which admits it against the connection limits, reads its
// requests and hands them to the worker threads. When the stop flag is set
// a listener closes its socket, wakes the event loop, and returns.
//
// The thread bodies run under foundation::startWorkerThread; the argument
// is not used.
#pragma once

#include <chrono>

namespace vek::http {

void ThreadListenForConnections(int unused);
// The thread's registered name keeps its historical spelling.
// Registered as "ThreadLsitenForSSLConnections", the spelling the log
// readers know.
void ThreadListenForSSLConnections(int unused);

// Rebuild the allow list (IPRestrictions Allowed%u) / the block list
// (Blocked%u) when the configured entries differ from the loaded ones;
// true when rebuilt (the debug log then says "Reload" under
// "LoadAllowedList" / "LoadBlockedList").
bool LoadAllowedList();
bool LoadBlockedList();

// The ports as configured now: `WebPort` (empty or 0: 8800) and
// `WebPortSSL` (empty: 0, no TLS listener).
unsigned configuredWebPort();
unsigned configuredWebPortSsl();

// The listeners' waits. Tests shorten them; the defaults are the service's.
struct ListenerTiming {
  std::chrono::milliseconds accept_wait{15000};  // port re-read and stop flag
  std::chrono::milliseconds retry{5000};         // a port that could not be opened
  std::chrono::milliseconds pool_idle{30000};    // an idle worker thread ends
  std::chrono::milliseconds handshake{15000};    // a TLS handshake
  // How long a connection must have been idle before a full server may
  // close it to make room.
  std::chrono::milliseconds reclaim_after{1000};
  // How long a worker that answered a kept-alive request waits for the
  // client's next one before it hands the connection back to the loop.
  std::chrono::milliseconds next_request_wait{10};
};
void setListenerTiming(const ListenerTiming& timing);
ListenerTiming listenerTiming();

}  // namespace vek::http
