// HttpResponseWait: reads one complete HTTP response from a connection, for
// the outbound HTTP client and for link code that talks HTTP to a message
// centre (debug log tag "HttpResponseWait").
//
// The response ends where its framing says (message.h, response role):
// Content-Length, the last chunk, no body at all (1xx, 204, 304, HEAD), or,
// with neither length nor chunks, the server closing the connection. Interim
// 1xx answers ("100 Continue") are dropped and reading goes on. A chunked
// or length-framed body cut short by the close is a failure, never a
// shorter success.
//
// Every wait is bounded: `read_timeout` without a byte ends the read, the
// `deadline` ends it however steadily bytes trickle in, and the stop flag is
// looked at every `wait_slice`. Memory stays within the size limit
// (`MaxHTTPResponseSize`, 16 MB by default) plus one read, whatever the
// header declares.
//
// One call per response, on the caller's thread; no shared state.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/socket.h"
#include "protocols/http/message.h"
#include "tls/stream.h"

namespace vek::httpwire {

// Where the reader gets its bytes: a connection, or memory in tests and
// fuzzing.
class Transport {
 public:
  virtual ~Transport() = default;
  // Reads what is there (at least one byte) within `timeout_ms`.
  virtual platform::IoStatus readSome(void* buf, size_t len, int timeout_ms, size_t* got) = 0;
};

// A connection that has just sent a request: the first read waits for the
// answer before reading (the answer is never there yet, so trying first
// would cost a system call per request); later reads try first.
class StreamTransport final : public Transport {
 public:
  explicit StreamTransport(tls::Stream& stream) : stream_(stream) {}
  platform::IoStatus readSome(void* buf, size_t len, int timeout_ms, size_t* got) override {
    if (first_) {
      *got = 0;
      if (!stream_.readable(timeout_ms)) return platform::IoStatus::kTimeout;
      first_ = false;
      timeout_ms = 0;
    }
    return stream_.readSome(buf, len, timeout_ms, got);
  }

 private:
  tls::Stream& stream_;
  bool first_ = true;
};

// Bytes held in memory, handed out whole, then the end of the connection
// (in-process answers, tests).
class MemoryTransport final : public Transport {
 public:
  explicit MemoryTransport(std::string_view data) : data_(data) {}
  platform::IoStatus readSome(void* buf, size_t len, int timeout_ms, size_t* got) override;

 private:
  std::string_view data_;
};

// 16 MB unless `MaxHTTPResponseSize` (section SMSGW, bytes) says otherwise.
size_t maxResponseSizeFromConfiguration();

struct ResponseWaitOptions {
  MessageLimits limits;  // max_message: the response size limit
  std::chrono::milliseconds read_timeout{60000};
  platform::SteadyTime deadline = platform::SteadyTime::max();
  std::chrono::milliseconds wait_slice{1000};
  bool head_request = false;
};

enum class ResponseStatus {
  kOk,
  kNoResponse,  // the connection closed (or failed) before the first byte
  kTimedOut,
  kTruncated,  // closed inside the header or a framed body
  kTooLarge,
  kMalformed,
  kError,  // the connection failed after the first byte
  kStopped,
};

struct Response {
  // Status line, header lines, blank line, then the body with any chunk
  // framing removed.
  std::string message;
  size_t body_offset = 0;
  int status = 0;
  bool http11 = false;
  bool delimited = false;    // framed by length or chunks (or no body)
  bool peer_closed = false;  // read up to the end of the connection
  size_t surplus = 0;        // bytes the server sent after the response

  std::string_view header() const { return std::string_view(message).substr(0, body_offset); }
  std::string_view body() const { return std::string_view(message).substr(body_offset); }
  // True when another request may follow on the same connection: an
  // HTTP/1.1 answer without "Connection: close" whose end was known from
  // its framing, with nothing after it and the connection still open.
  bool connectionReusable() const;
};

ResponseStatus HttpResponseWait(Transport& transport, const ResponseWaitOptions& options,
                                Response* out, std::string* error_text);

}  // namespace vek::httpwire
