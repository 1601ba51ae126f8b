// The web server's event loop ("ThreadServeWebConnections"): one thread that
// owns every open web connection, plain and TLS, and does all their reading
// on an epoll set, so that an idle, slow or parked connection costs a few
// hundred bytes and no thread. Complete requests (and the heads of requests
// whose large body waits for credentials) go to the worker threads
// (worker_pool.h), which run them and hand the connection back.
//
// What the loop enforces (limits from server_limits.h, re-read when
// "SMSGW.INI" changes):
//   - admission: MaxHTTPConnections open at once (a connection parked by the
//     failed-login delay does not count), MaxHTTPConnectionsPerAddress of one
//     client address; when the server is full a newcomer first takes the
//     place of the connection idle longest (when idle at least
//     ListenerTiming::reclaim_after), else of the oldest connection without
//     a whole request (silent since it came, or its request incomplete),
//     and only then is refused ("503", connection closed);
//   - MaxHTTPIncompleteRequestsPerAddress requests begun and not yet whole
//     per address (one more is refused 503 when it begins);
//   - the deadlines of connection_machine.h: idle 180 s, head 20 s, body at
//     a minimum rate; a connection that misses one is closed unanswered;
//   - one memory budget for request bytes across connections (503 with
//     "Retry-After" beyond it);
//   - answers held back by a handler (the failed-login delay) wait on a
//     timer and go out when due; a client that hangs up meanwhile frees its
//     connection at once.
// A TLS connection's handshake runs on a thread of its own
// ("ThreadProcessSSLConnection", bounded by ListenerTiming::handshake)
// before the loop takes it over.
//
// The loop starts with the first connection a listener hands over and ends
// when the stop flag is set, closing every connection; workers still
// running a request finish it and close their connection themselves.
// Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace vek::http {

// Hands an accepted connection to the event loop (started when needed). A
// connection arriving while the server stops is closed.
void adoptConnection(platform::UniqueFd fd, std::string address, uint16_t port, bool tls);
// Makes the loop look at the stop flag now.
void wakeEventLoop();

struct ServerStats {
  bool running = false;
  size_t connections = 0;  // open, including parked ones; refusals excluded
  size_t counted = 0;      // counted against MaxHTTPConnections
  size_t parked = 0;       // waiting for a held-back answer
  size_t incomplete = 0;   // requests begun and not yet whole
  size_t at_workers = 0;   // requests (or heads) with a worker
  unsigned worker_threads = 0;
  size_t budget_used = 0;   // bytes of the request memory budget in use
  uint64_t iterations = 0;  // turns of the loop so far (tests wait on it)
};
ServerStats serverStats();
// Blocks until the running loop has finished a turn numbered above `after`
// (ServerStats::iterations), at most `bound` on the injectable clock; false
// when it did not (or no loop runs). For tests and fuzzing, which must know
// that the loop has seen what they did.
bool awaitLoopTurn(uint64_t after, std::chrono::milliseconds bound);

}  // namespace vek::http
