// ConnectionMachine: the reading side of one web connection, as a state
// machine without I/O. The event loop gives it the bytes a socket delivered
// and the time; the machine says what to do next (step()), when the
// connection has waited too long (deadline()), and hands over each
// complete request. Because it does no I/O it is driven the same way by
// the event loop, by tests and by the fuzzer.
//
// Phases of one request:
//   kIdle    no byte of a request yet: a new connection, or a kept-alive one
//            between requests. Ends after idle_timeout without a byte (the
//            clock restarts with every byte, line ends between requests
//            included).
//   kHead    the request has begun: its whole head must arrive within
//            head_timeout of its first byte.
//   kCheck   the head is complete and its body may exceed the
//            unauthenticated allowance (a Content-Length above it, or
//            chunks): nothing more is read until the owner says who sent it
//            (headVerdict): valid credentials read the body up to the
//            request limit, none read at most the allowance (a larger
//            declared body is refused 413 at once), and a refusal answered
//            from the head ends the connection without reading the body.
//   kBody    the body is arriving. It gets head_timeout of grace plus one
//            second per min_body_rate bytes received; slower is dropped.
//   kReady   a complete request is waiting to be taken; then it is with
//            the owner until requestDone(). Bytes that came after it (a
//            pipelined request) start the next one.
//   kRefused the request was refused (400, 413, 431, 503): answer
//            refusal() and end the connection.
//   kClosed  the owner answered from the head (kAnswered); nothing more.
//
// Memory: a buffer starts at 2 KB and grows by half (at least to what the
// next bytes need) up to the request limit plus one byte ("too large");
// beyond MemoryBudget::kFreeAllowance its capacity is reserved from the
// shared budget, and a refused reservation refuses the request (503). A
// body of known length is given its exact size once, after the check.
// Nothing is held while idle.
//
// One owner thread; the machine is a plain object.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/server/memory_budget.h"
#include "http/server/request.h"
#include "platform/clock.h"
#include "protocols/http/message.h"

namespace vek::http {

struct MachineLimits {
  httpwire::MessageLimits message;
  std::chrono::milliseconds idle_timeout{180000};
  std::chrono::milliseconds head_timeout{20000};
  uint32_t min_body_rate = 500;  // bytes per second; 0: no minimum
  size_t unauthenticated_body = 64u << 10;
};

// Who sent a request whose large body has not been read yet.
enum class Verdict {
  kFullBody,   // valid credentials (or none needed): up to the request limit
  kSmallBody,  // no credentials in the head: up to the unauthenticated allowance
  kAnswered,   // the owner answered from the head; the body is never read
};

class ConnectionMachine {
 public:
  enum class Phase { kIdle, kHead, kCheck, kBody, kReady, kDispatched, kRefused, kClosed };
  enum class Step {
    kWantBytes,     // read up to readLimit() bytes and give them to received()
    kStarted,       // the first byte of a request arrived (it is incomplete from now on)
    kCheckHead,     // ask who sent head(), then call headVerdict()
    kSendContinue,  // write kContinueResponse, then step again
    kRequestReady,  // takeRequest(), then requestDone() when it has been answered
    kRefused,       // answer refusal() and end the connection
    kWaiting,       // nothing to do until headVerdict() / requestDone()
  };
  struct Refusal {
    const char* status = "";   // "413 Request Entity Too Large"
    const char* text = "";     // the page's sentence
    const char* reason = "";   // for the debug log
    bool retry_later = false;  // 503: answer with "Retry-After"
  };
  static constexpr std::string_view kContinueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

  ConnectionMachine(const MachineLimits& limits, MemoryBudget* budget, platform::SteadyTime now);
  ~ConnectionMachine();
  ConnectionMachine(const ConnectionMachine&) = delete;
  ConnectionMachine& operator=(const ConnectionMachine&) = delete;

  // What the owner does next. Call again after acting on every step except
  // kWantBytes (when nothing can be read now) and kWaiting.
  Step step(platform::SteadyTime now);
  // How many bytes the machine takes now (0 when it wants none).
  size_t readLimit() const;
  // Bytes read from the connection (at most readLimit()).
  void received(std::string_view bytes, platform::SteadyTime now);

  // kCheck: the head as received (request line and header lines).
  std::string_view head() const;
  void headVerdict(Verdict verdict, platform::SteadyTime now);

  // kReady: the request; the machine waits for requestDone().
  Request takeRequest();
  // The request taken has been answered and the connection stays open: the
  // next request may begin (from bytes already here, or new ones).
  void requestDone(platform::SteadyTime now);

  Phase phase() const { return phase_; }
  // A request has begun and has not been taken (kHead, kCheck, kBody, kReady).
  bool incomplete() const;
  // When the current phase has waited too long; SteadyTime::max() when no
  // limit applies (kCheck, kDispatched, kRefused, kClosed).
  platform::SteadyTime deadline() const;
  // When the request in progress began (its first byte).
  platform::SteadyTime requestStart() const { return request_start_; }
  const Refusal& refusal() const { return refusal_; }
  // Bytes received and not yet part of a taken request.
  size_t buffered() const { return buf_.size(); }
  std::string_view bufferedBytes() const { return buf_; }
  // Budget bytes this connection holds now.
  size_t reserved() const { return reserved_; }

 private:
  Step scanRequest(platform::SteadyTime now);
  // The request is the first `length` bytes: cut it there (the rest waits
  // as the next request) and remove its chunk framing.
  Step finishRequest(size_t length);
  Step refuse(const char* status, const char* text, const char* reason, bool retry_later = false);
  // Makes room for `extra` more bytes; false when the budget refuses.
  bool reserveFor(size_t extra);
  // Sets the budget share to cover `capacity` bytes of buffer; with `force`
  // even beyond the limit (memory already allocated).
  bool chargeCapacity(size_t capacity, bool force = false);
  void releaseAll();
  void beginBody(platform::SteadyTime now);

  MachineLimits limits_;
  MemoryBudget* budget_;
  Phase phase_ = Phase::kIdle;
  std::string buf_;
  std::string carry_;  // bytes after the request at the owner
  size_t reserved_ = 0;
  httpwire::MessageScanner scanner_;
  httpwire::MessageCheck check_;
  platform::SteadyTime idle_since_;
  platform::SteadyTime request_start_;
  platform::SteadyTime body_start_;
  platform::SteadyTime last_byte_;
  bool head_accepted_ = false;  // no check needed, or the verdict allowed the body
  bool continue_sent_ = false;
  uint64_t declared_length_ = 0;   // Content-Length of the request in progress
  size_t body_allowance_ = 0;      // largest body (as received) accepted
  size_t message_end_ = 0;         // kReady: the request's length in buf_
  size_t dispatched_reserve_ = 0;  // budget held by the request at the owner
  Refusal refusal_;
};

}  // namespace vek::http
