// Stream: one connected socket, plain or TLS, with bounded reads and writes.
// The HTTP server, the HTTP client and the protocol engines talk through it
// so that TLS is a property of the connection, not of each caller.
// Owned by one thread; wake() may be called from another.
#pragma once

#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/unique_fd.h"
#include "tls/tls.h"

namespace vek::tls {

class Stream {
 public:
  Stream() = default;
  explicit Stream(platform::UniqueFd fd, SessionPtr session = nullptr)
      : fd_(std::move(fd)), session_(std::move(session)) {}
  Stream(Stream&&) = default;
  Stream& operator=(Stream&&) = default;

  int fd() const { return fd_.get(); }
  bool valid() const { return fd_.valid(); }
  bool secure() const { return session_ != nullptr; }

  // Reads what is there (at least one byte) within `timeout_ms`.
  platform::IoStatus readSome(void* buf, size_t len, int timeout_ms, size_t* got);
  platform::IoStatus readExact(void* buf, size_t len, int timeout_ms);
  platform::IoStatus writeAll(std::string_view data, int timeout_ms);
  // Bytes are waiting to be read (decrypted or on the socket).
  bool readable(int timeout_ms);
  // For a kept-alive connection between two requests: true when it is
  // still open and nothing is waiting to be read. A peer that closed or
  // reset, and one that sent bytes nobody asked for (they would be taken
  // for the next answer), both make it false. Never waits. TLS records
  // that carry no data (session tickets) are consumed and do not count.
  bool idleAndOpen();
  // Hands the socket of a plain stream over (to start TLS on it).
  platform::UniqueFd releaseFd() { return std::move(fd_); }
  // Ends the session and closes the socket. Idempotent.
  void close();

 private:
  platform::UniqueFd fd_;
  SessionPtr session_;
};

}  // namespace vek::tls
