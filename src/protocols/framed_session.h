// FramedSession: the engine under one connection of a text protocol whose
// frames run from STX (0x02) to ETX (0x03) - UCP/EMI and CIMD2. It reads
// frames off a tls::Stream, matches answers to requests by their number
// (one synchronous request at a time plus a window of asynchronous ones),
// expires requests after the command time-out and hands every frame to the
// protocol's subclass, which decodes it, answers requests itself and passes
// the answers to its own requests to complete().
//
// Framing faults end the connection (logged, lastError() says why), since
// nothing after them can be trusted: a frame longer than the protocol's
// limit, or a frame that a second STX starts before the first one ended.
// Bytes between frames are skipped and logged. The subclass ends the
// connection the same way (markBroken) for what only it can see: a wrong
// checksum, a length field that lies, a header that does not parse.
// Nothing is read past a frame, and every wait is bounded by the caller's
// time or the command time-out and ends early when the gateway shuts down.
//
// One thread drives a session at a time; AsyncSubmit contexts completed
// here may be observed from other threads. The subclass's frame handler
// may not wait for the peer (transact refuses inside it).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "protocols/async_submit.h"
#include "protocols/input_buffer.h"
#include "protocols/protocol_debug.h"
#include "protocols/submit_window.h"
#include "tls/stream.h"

namespace vek::protocols {

using std::chrono::milliseconds;

// The text engines' own result codes for failures that never reached an
// answer: -1, -2 and -3 as unsigned numbers, which the reject lists never
// match ("All" excludes them), so the message is always tried again.
namespace local {
inline constexpr uint32_t kConnectionError =
    0xFFFFFFFF;                                   // not connected, or lost before the answer
inline constexpr uint32_t kTimeout = 0xFFFFFFFE;  // no answer within the command time-out
inline constexpr uint32_t kFailure = 0xFFFFFFFD;  // no free number, undecodable answer, bad call
inline constexpr bool isLocal(uint32_t code) {
  return code >= kFailure;
}
}  // namespace local

class FramedSession {
 public:
  struct Options {
    Engine engine;     // whose debug switch applies
    const char* tag;   // debug log tag, e.g. "UCPConnection"
    size_t max_frame;  // the longest frame accepted, STX and ETX included
    milliseconds default_timeout;
  };
  // What the subclass made of an answer to one of our requests.
  struct Answer {
    uint32_t result = 0;  // 0 accepted, else the peer's error code (or a local code)
    std::string message_id;
  };
  // complete() with this kind matches a request of any kind (error answers).
  static constexpr uint32_t kAnyKind = 0xFFFFFFFF;

  explicit FramedSession(Options options);
  virtual ~FramedSession();
  FramedSession(const FramedSession&) = delete;
  FramedSession& operator=(const FramedSession&) = delete;

  // Takes the connected stream; resets all protocol state.
  void attach(tls::Stream stream, std::string name);
  tls::Stream& stream() { return stream_; }
  const std::string& name() const { return name_; }
  // The stream is there and no fault has been seen.
  bool alive() const { return stream_.valid() && !broken_; }
  // Why the connection ended ("" while it has not).
  const std::string& lastError() const { return last_error_; }
  // Closes the stream and completes every outstanding request with kConnectionError.
  void close();

  milliseconds commandTimeout() const { return command_timeout_; }
  // Zero or less: the protocol's default.
  void setCommandTimeout(milliseconds t) {
    command_timeout_ = t.count() > 0 ? t : options_.default_timeout;
  }
  size_t outstanding() const { return window_.size(); }
  // A request with this number waits for its answer.
  bool numberBusy(uint32_t number) const;

  // Writes one whole frame; false when the write failed (the session breaks).
  bool sendFrame(std::string_view frame);
  // Sends request `number` (whose answer is of kind `kind`) and waits for
  // the answer while servicing everything else. Returns the answer's
  // result, or a local code.
  uint32_t transact(uint32_t number, uint32_t kind, std::string_view frame, Answer* answer);
  // Sends the request and returns at once; `ctx` completes with the answer
  // (or kTimeout / kConnectionError). 0 when sent; otherwise nothing was
  // queued and `ctx` is never completed.
  uint32_t sendAsync(uint32_t number, uint32_t kind, std::string_view frame,
                     std::shared_ptr<AsyncSubmit> ctx);

  // Handles incoming frames: waits up to `wait` for the first, then handles
  // whatever else is already there. Returns the number handled, or -1 when
  // the connection is gone.
  int service(milliseconds wait);
  // service() as the yield entries report it: the number handled, or 0 with
  // *connection_error (when given) set once the connection is gone.
  int yield(milliseconds wait, bool* connection_error);

  platform::SteadyTime lastReceived() const { return last_rx_; }

 protected:
  // One frame: the bytes between STX and ETX.
  virtual void onFrame(std::string_view inner) = 0;
  // The answer to request `number`; false (logged) when no request of that
  // number and kind waits.
  bool complete(uint32_t number, uint32_t kind, Answer answer);
  // Ends the connection: logs `why`, keeps it as lastError(), fails every
  // outstanding request.
  void markBroken(const std::string& why);
  bool debugOn() const { return protocolDebug(options_.engine); }
  const char* tag() const { return options_.tag; }

 private:
  enum class Next { kNone, kFrame, kBad };
  Next nextFrame(size_t* start, size_t* length, std::string* why);
  bool fill(milliseconds wait);
  bool inputPaused() const { return sync_active_ && sync_done_; }
  void checkTimeouts();
  void failAll(uint32_t result);

  const Options options_;
  tls::Stream stream_;
  std::string name_;
  std::string last_error_;
  bool broken_ = false;
  bool dispatching_ = false;  // inside onFrame: no nested waits
  milliseconds command_timeout_;
  InputBuffer in_;
  size_t skipped_ = 0;  // bytes between frames not yet logged

  bool sync_active_ = false;
  bool sync_done_ = false;
  uint32_t sync_number_ = 0;
  uint32_t sync_kind_ = 0;
  Answer sync_answer_;
  SubmitWindow window_;
  platform::SteadyTime last_rx_{};
  platform::SteadyTime last_timeout_check_{};
};

}  // namespace vek::protocols
