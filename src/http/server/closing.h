// The end of a connection: the graceful close of a served connection and
// the alive test for a kept-alive idle one.
//
// Graceful close ends our sending side first (the peer reads end-of-stream
// after the last response), then reads and discards what the peer still
// sends, 500 bytes a read with waits of at most 5 s, until the peer closes,
// an error, the stop flag, or `bound` (60 s by default); then it closes.
// Draining keeps unread input from turning the close into a reset that
// would destroy the response in flight. A TLS connection cannot be
// half-closed under its session: it drains what has already arrived and
// then closes (close_notify, then the socket). Debug log tag
// "WaitForSocketClose".
#pragma once

#include <chrono>

#include "tls/stream.h"

namespace vek::http {

constexpr std::chrono::milliseconds kGracefulCloseBound{60000};

// Ends sending and drains; the stream stays open (its owner may still have
// to deregister the socket before closing it).
void shutdownAndDrain(tls::Stream& stream, std::chrono::milliseconds bound = kGracefulCloseBound);
// shutdownAndDrain, then close.
void gracefulClose(tls::Stream& stream, std::chrono::milliseconds bound = kGracefulCloseBound);

// Before reusing a kept-alive connection: alive while nothing is readable.
// Readable means the peer closed or reset it, or sent bytes nobody asked
// for; either way it cannot be reused safely.
bool connectionAlive(tls::Stream& stream);
bool connectionAlive(int fd);

}  // namespace vek::http
