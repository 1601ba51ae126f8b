// RequestReader: reads one complete request after another from one
// connection, keeping the bytes that arrived after a request (pipelined
// requests) for the next read. Debug log tag "ProcessRead".
//
// A read ends with a complete request, or when the peer closes, nothing
// arrives for `idle_timeout` (180 s; the clock restarts with every byte),
// the stop flag is set, or the request is refused (too large, malformed:
// see message.h). Memory stays bounded by the limits: the reader never
// buffers more than max_message + 1 bytes, whatever a header declares.
// A request that announces "Expect: 100-continue" gets the interim
// "100 Continue" once its header has been accepted.
//
// One reader per connection, used by that connection's thread only.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "http/server/request.h"
#include "platform/socket.h"
#include "protocols/http/message.h"
#include "tls/stream.h"

namespace vek::http {

// Where the reader gets its bytes: a connection, or memory in tests and
// fuzzing.
class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  // Reads what is there (at least one byte) within `timeout_ms`.
  virtual platform::IoStatus readSome(void* buf, size_t len, int timeout_ms, size_t* got) = 0;
  virtual platform::IoStatus writeAll(std::string_view data, int timeout_ms) = 0;
};

class StreamChannel final : public ByteChannel {
 public:
  explicit StreamChannel(tls::Stream& stream) : stream_(stream) {}
  platform::IoStatus readSome(void* buf, size_t len, int timeout_ms, size_t* got) override {
    return stream_.readSome(buf, len, timeout_ms, got);
  }
  platform::IoStatus writeAll(std::string_view data, int timeout_ms) override {
    return stream_.writeAll(data, timeout_ms);
  }

 private:
  tls::Stream& stream_;
};

struct ReaderLimits {
  httpwire::MessageLimits message;
  std::chrono::milliseconds idle_timeout{180000};
  // Longest single wait, so that the stop flag is seen in time.
  std::chrono::milliseconds wait_slice{10000};
};

// `MaxHTTPRequestSize` (section SMSGW, bytes; empty or 0: 16 MB) applied to
// the default limits.
ReaderLimits readerLimitsFromConfiguration();

enum class ReadStatus {
  kOk,
  kClosed,    // the peer closed (or reset) before a request was complete
  kTimedOut,  // nothing arrived for idle_timeout
  kStopped,   // the stop flag was set
  kError,     // the connection failed
  kTooLarge,
  kHeaderTooLarge,
  kMalformed,
};

class RequestReader {
 public:
  explicit RequestReader(ReaderLimits limits = {}) : limits_(limits) {}
  RequestReader(const RequestReader&) = delete;
  RequestReader& operator=(const RequestReader&) = delete;

  ReadStatus read(ByteChannel& channel, Request* out);
  ReadStatus read(tls::Stream& stream, Request* out) {
    StreamChannel channel(stream);
    return read(channel, out);
  }

  // Bytes of a following request are already buffered.
  bool hasPending() const { return !carry_.empty(); }
  void dropPending() { carry_.clear(); }
  // Called when the first bytes of a request arrive from the connection
  // (the connection stops being idle).
  void setActivityHook(std::function<void()> hook) { on_activity_ = std::move(hook); }
  // Why the last read refused its request (for the debug log).
  const char* lastReason() const { return reason_; }

 private:
  ReadStatus finish(const httpwire::MessageCheck& check, const httpwire::MessageScanner& scanner,
                    std::string& buf, size_t len, Request* out);

  ReaderLimits limits_;
  std::string carry_;
  std::function<void()> on_activity_;
  const char* reason_ = "";
};

}  // namespace vek::http
