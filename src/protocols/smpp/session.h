// Session: the protocol engine under one SMPP connection, for either side.
// It frames PDUs off a tls::Stream, answers what it must, matches responses
// to requests by sequence number (one synchronous request at a time plus
// any number of asynchronous ones), answers enquire_link and unbind (they
// mean the same to both sides) and hands other requests from the peer to
// the side-specific subclass (client Connection, ServerConnection).
//
// Framing faults: a command_length below 16 or above kMaxCommandLength is
// answered with generic_nack (ESME_RINVCMDLEN) and the connection is closed,
// since nothing after it can be trusted; an unknown command id gets
// generic_nack (ESME_RINVCMDID); a body that does not decode gets its
// response PDU with the decoder's status. Nothing is read past a frame, and
// every wait is bounded by the caller's time or the command time-out and
// ends early when the gateway shuts down.
//
// One thread drives a session at a time (the link or connection thread);
// AsyncSubmit contexts completed here may be observed from other threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_io.h"
#include "protocols/input_buffer.h"
#include "platform/clock.h"
#include "protocols/smpp/async_submit.h"
#include "protocols/smpp/pdu.h"
#include "protocols/submit_window.h"
#include "tls/stream.h"

namespace vek::smpp {

using std::chrono::milliseconds;

// How long a request waits for its answer unless the gateway says otherwise.
inline constexpr milliseconds kDefaultCommandTimeout{120000};

// The protocol debug switch (SMPPSetDebugMode); lines go to the debug log.
void setProtocolDebug(bool on);
bool protocolDebug();

class Session {
 public:
  enum class Side { kClient, kServer };
  // Bind state of the connection.
  enum class State { kOpen, kBoundRx, kBoundTx, kBoundTrx, kClosed };

  explicit Session(Side side);
  virtual ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Takes the connected stream; resets all protocol state.
  void attach(tls::Stream stream, std::string name);
  tls::Stream& stream() { return stream_; }
  const std::string& name() const { return name_; }
  // The stream is there and no fault has been seen.
  bool alive() const { return stream_.valid() && !broken_; }
  // Closes the stream and completes every outstanding request with kConnectionLost.
  void close();

  State state() const { return state_; }
  void setState(State s) { state_ = s; }
  // The state a bind command (request or response) leads to: kBoundRx,
  // kBoundTx or kBoundTrx.
  static State boundStateFor(uint32_t bind_command_id);
  bool bound() const { return alive() && state_ != State::kOpen && state_ != State::kClosed; }
  uint8_t version() const { return version_; }
  void setVersion(uint8_t v) { version_ = v; }
  // The version a message goes out with: 3.3 (no TLVs) when the caller asks
  // for it or the peer only speaks it.
  uint8_t messageVersion(uint8_t asked) const {
    return asked == 0x33 || version_ == 0x33 ? 0x33 : 0x34;
  }
  milliseconds commandTimeout() const { return command_timeout_; }
  // Zero or less: kDefaultCommandTimeout.
  void setCommandTimeout(milliseconds t) {
    command_timeout_ = t.count() > 0 ? t : kDefaultCommandTimeout;
  }

  // Sends one PDU (TLVs only for version 3.4); false when the write failed,
  // which breaks the session.
  bool send(const Pdu& pdu);
  // Sends `request` (its sequence number assigned here) and waits for its
  // response while servicing everything else. Returns the response's
  // command_status, or a local code (kConnectionLost, kTimeout, kBadResponse).
  uint32_t transact(Pdu& request, Pdu* response);
  // Sends `request` and returns at once; `ctx` completes when the answer
  // comes (or kTimeout / kConnectionLost). 0 when sent; otherwise nothing
  // was queued and `ctx` is never completed.
  uint32_t sendAsync(Pdu& request, std::shared_ptr<AsyncSubmit> ctx);
  // enquire_link and wait for its answer; `request` and `response` are the
  // caller's reusable records.
  uint32_t enquireLink(Pdu& request, Pdu* response);
  size_t outstanding() const { return pending_.size(); }

  // Handles incoming PDUs: waits up to `wait` for the first, then handles
  // whatever else is already there. Returns the number handled, or -1 when
  // the connection is gone.
  int service(milliseconds wait);
  // service() as the yield entries report it: the number handled, or 0 with
  // *connection_error (when given) set once the connection is gone.
  int yield(milliseconds wait, bool* connection_error);

  // Microseconds since the last PDU from the peer (for inactivity checks).
  platform::SteadyTime lastReceived() const { return last_rx_; }

 protected:
  // A request from the peer that decoded cleanly, other than enquire_link
  // and unbind. The subclass answers it.
  virtual void onRequest(const Pdu& pdu) = 0;
  // Every PDU that arrived, decoded or not.
  virtual void onActivity(uint32_t /*command_id*/) {}
  // True while further input must wait (a bind awaiting the gateway's decision).
  virtual bool holdInput() const { return false; }
  // Input also waits once the synchronous request has its answer, so that
  // the caller acts on it (a bind_resp makes the link bound) before the PDUs
  // behind it are handled.
  bool inputPaused() const { return holdInput() || (sync_seq_ != 0 && sync_done_); }
  void markBroken(const char* why);
  uint32_t nextSequence();

 private:
  enum class Frame { kNone, kReady, kBad };
  Frame nextFrame(size_t* length);
  bool fill(milliseconds wait);
  void handleFrame(const uint8_t* data, size_t length);
  // Answers enquire_link and unbind; false for other requests.
  bool answerLinkRequest(const Pdu& pdu);
  void handleResponse(const Pdu& pdu, uint32_t decode_status);
  void checkTimeouts();
  void failAll(uint32_t result);
  void logPdu(const char* direction, const Pdu& pdu, size_t length) const;

  const Side side_;
  tls::Stream stream_;
  std::string name_;
  bool broken_ = false;
  bool dispatching_ = false;  // inside onRequest: no nested waits
  State state_ = State::kClosed;
  uint8_t version_ = 0x34;
  milliseconds command_timeout_ = kDefaultCommandTimeout;
  uint32_t sequence_ = 0;

  protocols::InputBuffer in_;
  Pdu rx_;
  platform::ByteWriter tx_;

  uint32_t sync_seq_ = 0;
  uint32_t sync_expected_ = 0;
  bool sync_done_ = false;
  Pdu sync_resp_;
  protocols::SubmitWindow pending_;  // asynchronous requests by sequence number
  platform::SteadyTime last_rx_{};
  platform::SteadyTime last_timeout_check_{};
};

}  // namespace vek::smpp
