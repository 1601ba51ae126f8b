// The connection loop: reads one request after another from an accepted
// connection (keep-alive), decides before any dispatch whether a request
// is redirected to TLS or refused by address, hands the others to
// DispatchRequest, and ends the connection gracefully.
//
// Keep-alive for a request starts as `EnableKeepAlive` and is off unless the
// request says "HTTP/1.1" and no "Connection: close". A request refused by
// the reader (too large, malformed) is answered 413/431/400 and ends the
// connection. Runs on the connection's own thread.
#pragma once

#include <cstdint>
#include <string>

#include "tls/stream.h"

namespace vek::http {

struct Peer {
  std::string address;
  uint16_t port = 0;
};

// Serves `stream` until it ends, then closes it and removes `slot` from the
// connection table.
void serveConnection(tls::Stream& stream, const Peer& peer, uint64_t slot);

}  // namespace vek::http
