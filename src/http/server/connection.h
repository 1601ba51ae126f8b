// Connection: what a request handler knows about the connection its request
// came on, and how it answers. Built by the web server for each request;
// the handler may switch keep_alive off (the connection then ends after the
// response).
//
// Every response carries a Content-Length or ends the connection:
// sendResponse() always writes the length; a handler that streams a body of
// unknown length sets keep_alive = false before it builds its header.
//
// A handler may hold its answer back (answerAfter, the failed-login delay):
// the connection then waits without a thread, its slot counting against
// the client address's limit only, and the event loop sends the answer when
// the time comes. A request has at most one answer held back; sends after
// it are added to it.
//
// Used by the thread that runs the request only.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "tls/stream.h"

namespace vek::http {

// Where a connection's answers go. write() sends (or queues, in order) all
// of `data`; false when the connection has failed.
class ResponseSink {
 public:
  virtual ~ResponseSink() = default;
  virtual bool write(std::string_view data) = 0;
};

// A sink that writes to a stream, waiting up to kSendTimeoutMs (send.h).
class StreamSink final : public ResponseSink {
 public:
  explicit StreamSink(tls::Stream& stream) : stream_(stream) {}
  bool write(std::string_view data) override;

 private:
  tls::Stream& stream_;
};

struct Connection {
  Connection(ResponseSink& sink, bool secure) : sink_(sink), secure_(secure) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  std::string remote_address;
  uint16_t remote_port = 0;
  bool http11 = false;      // the request said "HTTP/1.1"
  bool keep_alive = false;  // another request may follow this one
  bool browser = false;     // "User-agent:" names Mozilla

  bool secure() const { return secure_; }
  // "HTTP/1.1" or "HTTP/1.0", as the request said.
  const char* protocol() const { return http11 ? "HTTP/1.1" : "HTTP/1.0"; }
  // "Connection: Keep-Alive\r\n" or "Connection: close\r\n".
  const char* connectionLine() const {
    return keep_alive ? "Connection: Keep-Alive\r\n" : "Connection: close\r\n";
  }

  // Sends raw bytes (a response the caller composed whole).
  bool send(std::string_view data);
  // "<protocol> <status>\r\n<connection line><headers>Content-Length: n\r\n\r\n<body>";
  // `headers` are complete lines, each ending in CR LF.
  bool sendResponse(std::string_view status, std::string_view headers, std::string_view body);

  // Holds `response` back for `delay` (see the top of this file).
  void answerAfter(std::chrono::milliseconds delay, std::string response);
  bool answerHeld() const { return held_; }
  std::chrono::milliseconds heldDelay() const { return held_delay_; }
  std::string takeHeldAnswer() { return std::move(held_answer_); }

 private:
  ResponseSink& sink_;
  bool secure_;
  bool held_ = false;
  std::chrono::milliseconds held_delay_{0};
  std::string held_answer_;
};

}  // namespace vek::http
