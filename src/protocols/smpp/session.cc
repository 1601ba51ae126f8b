#include "protocols/smpp/session.h"

#include <algorithm>
#include <cstring>

#include "foundation/debug_log.h"
#include "platform/clock.h"
#include "platform/shutdown.h"
#include "protocols/protocol_debug.h"

namespace vek::smpp {

namespace {

// Monotonic time through the injectable clock, so that tests move it.
struct Clock {
  using duration = platform::SteadyTime::duration;
  static platform::SteadyTime now() { return platform::monotonicNow(); }
};

// Waits are cut into slices so that a shutdown request is seen promptly.
constexpr milliseconds kSlice{200};
constexpr milliseconds kWriteTimeout{30000};
constexpr milliseconds kTimeoutCheckInterval{100};

}  // namespace

void setProtocolDebug(bool on) {
  protocols::setProtocolDebug(protocols::Engine::kSmpp, on);
}
bool protocolDebug() {
  return protocols::protocolDebug(protocols::Engine::kSmpp);
}

Session::Session(Side side) : side_(side) {}

Session::~Session() {
  close();
}

void Session::attach(tls::Stream stream, std::string name) {
  close();
  stream_ = std::move(stream);
  name_ = std::move(name);
  broken_ = false;
  state_ = State::kOpen;
  sequence_ = 0;
  in_.clear();
  sync_seq_ = 0;
  sync_done_ = false;
  last_rx_ = platform::monotonicNow();
}

void Session::close() {
  failAll(status::kConnectionLost);
  stream_.close();
  state_ = State::kClosed;
}

void Session::markBroken(const char* why) {
  if (!broken_ && stream_.valid())
    foundation::DebugLogf("SMPPConnection", "%s: %s", name_.c_str(), why);
  broken_ = true;
  failAll(status::kConnectionLost);
}

uint32_t Session::nextSequence() {
  // 1 .. 0x7FFFFFFF, as the standard allows.
  sequence_ = sequence_ >= 0x7FFFFFFF ? 1 : sequence_ + 1;
  return sequence_;
}

void Session::logPdu(const char* direction, const Pdu& pdu, size_t length) const {
  foundation::DebugLogf("SMPPProtocol", "%s: %s %s seq=%u status=0x%08X length=%zu", name_.c_str(),
                        direction, commandName(pdu.command_id), pdu.sequence, pdu.command_status,
                        length);
}

bool Session::send(const Pdu& pdu) {
  if (!alive()) return false;
  tx_.clear();
  encodePdu(pdu, &tx_, version_ != 0x33);
  if (protocolDebug()) logPdu("sent", pdu, tx_.size());
  auto data = std::string_view(reinterpret_cast<const char*>(tx_.data().data()), tx_.size());
  if (stream_.writeAll(data, static_cast<int>(kWriteTimeout.count())) != platform::IoStatus::kOk) {
    markBroken("write failed, connection closed");
    return false;
  }
  return true;
}

uint32_t Session::transact(Pdu& request, Pdu* response) {
  if (!alive()) return status::kNotConnected;
  // A callback may not wait for the peer: it runs inside a wait already.
  if (sync_seq_ != 0 || dispatching_) return status::kInvalidArgument;
  request.sequence = nextSequence();
  sync_seq_ = request.sequence;
  sync_expected_ = request.command_id | cmd::kResponseBit;
  sync_done_ = false;
  auto sent = platform::monotonicNow();
  if (!send(request)) {
    sync_seq_ = 0;
    return status::kConnectionLost;
  }
  auto deadline = sent + command_timeout_;
  while (!sync_done_) {
    if (!alive() || platform::shutdownRequested()) {
      sync_seq_ = 0;
      return status::kConnectionLost;
    }
    auto now = platform::monotonicNow();
    if (now >= deadline) {
      sync_seq_ = 0;
      // Silence since the request went out: the peer is gone, not just slow.
      if (last_rx_ < sent) markBroken("no answer from the peer, connection considered dead");
      return status::kTimeout;
    }
    service(std::min(std::chrono::duration_cast<milliseconds>(deadline - now), kSlice));
  }
  sync_seq_ = 0;
  *response = std::move(sync_resp_);
  if (response->command_id == cmd::kGenericNack)
    return response->command_status != status::kOk ? response->command_status
                                                   : status::kBadResponse;
  return response->command_status;
}

uint32_t Session::enquireLink(Pdu& request, Pdu* response) {
  request.clear();
  request.command_id = cmd::kEnquireLink;
  return transact(request, response);
}

Session::State Session::boundStateFor(uint32_t bind_command_id) {
  switch (bind_command_id & ~cmd::kResponseBit) {
    case cmd::kBindReceiver:
      return State::kBoundRx;
    case cmd::kBindTransmitter:
      return State::kBoundTx;
    default:
      return State::kBoundTrx;
  }
}

uint32_t Session::sendAsync(Pdu& request, std::shared_ptr<AsyncSubmit> ctx) {
  if (!alive()) return status::kNotConnected;
  request.sequence = nextSequence();
  auto sent = platform::monotonicNow();
  // Entered only once written: a refused submission leaves `ctx` untouched.
  // (No answer can be handled before this returns.)
  if (!send(request)) return status::kConnectionLost;
  pending_.add(request.sequence, {std::move(ctx), request.command_id | cmd::kResponseBit, sent});
  return status::kOk;
}

Session::Frame Session::nextFrame(size_t* length) {
  auto have = in_.data();
  if (have.size() < 4) return Frame::kNone;
  const uint8_t* p = have.data();
  uint32_t len = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  if (len < kHeaderLength || len > kMaxCommandLength) {
    *length = len;
    return Frame::kBad;
  }
  if (have.size() < len) return Frame::kNone;
  *length = len;
  return Frame::kReady;
}

bool Session::fill(milliseconds wait) {
  auto st = in_.fill(stream_, static_cast<int>(wait.count()));
  if (st == platform::IoStatus::kOk) return true;
  if (st != platform::IoStatus::kTimeout) markBroken("connection closed by the peer");
  return false;
}

int Session::service(milliseconds wait) {
  if (!alive()) return -1;
  if (dispatching_) return 0;
  int handled = 0;
  auto deadline = platform::monotonicNow() + wait;
  for (;;) {
    size_t len = 0;
    Frame f = Frame::kNone;
    while (!inputPaused() && (f = nextFrame(&len)) == Frame::kReady) {
      // The frame stays where it is until the next fill (handleFrame copies what it keeps).
      const uint8_t* data = in_.data().data();
      in_.consume(len);
      handleFrame(data, len);
      ++handled;
      if (!alive()) return -1;
    }
    if (f == Frame::kBad) {
      Header h;
      bool whole_header = readHeader(in_.data(), &h);
      foundation::DebugLogf("SMPPConnection", "%s: command_length %zu out of range", name_.c_str(),
                            len);
      Pdu nack;
      nack.command_id = cmd::kGenericNack;
      nack.command_status = status::kInvCmdLen;
      nack.sequence = whole_header ? h.sequence : 0;
      send(nack);
      markBroken("framing lost after a bad command_length, connection closed");
      return -1;
    }
    if (inputPaused()) break;
    // Wait only while nothing was handled; then take what is already there.
    // A read that left room in the buffer emptied the socket: no need to ask again.
    if (handled > 0 && in_.drained()) break;
    auto now = platform::monotonicNow();
    milliseconds left = handled > 0 ? milliseconds(0)
                                    : std::chrono::duration_cast<milliseconds>(
                                          std::max(deadline - now, Clock::duration(0)));
    if (handled == 0 && left.count() == 0 && wait.count() > 0 && now < deadline)
      left = milliseconds(1);
    if (!fill(std::min(left, kSlice))) {
      if (!alive()) return -1;
      if (handled > 0 || platform::monotonicNow() >= deadline || platform::shutdownRequested())
        break;
    }
  }
  checkTimeouts();
  return handled;
}

int Session::yield(milliseconds wait, bool* connection_error) {
  const int n = service(wait);
  if (n >= 0) return n;
  if (connection_error) *connection_error = true;
  return 0;
}

void Session::handleFrame(const uint8_t* data, size_t length) {
  uint32_t st = decodePdu(std::span<const uint8_t>(data, length), &rx_);
  last_rx_ = platform::monotonicNow();
  if (protocolDebug()) logPdu("received", rx_, length);
  onActivity(rx_.command_id);
  if (cmd::isResponse(rx_.command_id)) {
    if (st == status::kInvCmdId) {
      // A response to no command we know: say so rather than drop it unseen.
      foundation::DebugLogf("SMPPConnection", "%s: unknown response 0x%08X seq=%u", name_.c_str(),
                            rx_.command_id, rx_.sequence);
      Pdu nack;
      nack.command_id = cmd::kGenericNack;
      nack.command_status = status::kInvCmdId;
      nack.sequence = rx_.sequence;
      send(nack);
      return;
    }
    handleResponse(rx_, st);
    return;
  }
  if (st != status::kOk) {
    foundation::DebugLogf("SMPPConnection", "%s: %s seq=%u does not decode: %s", name_.c_str(),
                          commandName(rx_.command_id), rx_.sequence, statusText(st).c_str());
    send(makeResponse(rx_, st));
    return;
  }
  dispatching_ = true;
  if (!answerLinkRequest(rx_)) onRequest(rx_);
  dispatching_ = false;
}

bool Session::answerLinkRequest(const Pdu& pdu) {
  switch (pdu.command_id) {
    case cmd::kEnquireLink:
      send(makeResponse(pdu, status::kOk));
      return true;
    case cmd::kUnbind:
      send(makeResponse(pdu, status::kOk));
      state_ = State::kClosed;
      markBroken(side_ == Side::kClient ? "unbound by the SMPP server" : "unbound by the client");
      return true;
    default:
      return false;
  }
}

void Session::handleResponse(const Pdu& pdu, uint32_t decode_status) {
  bool nack = pdu.command_id == cmd::kGenericNack;
  if (decode_status == status::kOk && pdu.command_status == status::kOk &&
      pdu.command_id == cmd::kSubmitSmResp && pdu.message_id.empty())
    foundation::DebugLogf("SMPPConnection",
                          "%s: submit_sm_resp seq=%u accepted without a message id", name_.c_str(),
                          pdu.sequence);
  if (sync_seq_ != 0 && pdu.sequence == sync_seq_ && (nack || pdu.command_id == sync_expected_)) {
    sync_resp_ = pdu;
    if (decode_status != status::kOk) {
      sync_resp_.command_id = cmd::kGenericNack;
      sync_resp_.command_status = status::kBadResponse;
    }
    sync_done_ = true;
    return;
  }
  const protocols::SubmitWindow::Entry* entry = pending_.find(pdu.sequence);
  if (entry == nullptr || !(nack || pdu.command_id == entry->expected)) {
    foundation::DebugLogf("SMPPConnection", "%s: unexpected %s seq=%u ignored", name_.c_str(),
                          commandName(pdu.command_id), pdu.sequence);
    return;
  }
  auto ctx = std::move(pending_.take(pdu.sequence)->ctx);
  uint32_t result = decode_status != status::kOk                ? status::kBadResponse
                    : nack && pdu.command_status == status::kOk ? status::kBadResponse
                                                                : pdu.command_status;
  if (ctx) ctx->complete(result, result == status::kOk ? pdu.message_id : std::string());
}

void Session::checkTimeouts() {
  auto now = platform::monotonicNow();
  if (pending_.empty() || now - last_timeout_check_ < kTimeoutCheckInterval) return;
  last_timeout_check_ = now;
  if (pending_.expire(now, command_timeout_, last_rx_, status::kTimeout))
    markBroken("no answer from the peer, connection considered dead");
}

void Session::failAll(uint32_t result) {
  if (sync_seq_ != 0 && !sync_done_) {
    sync_resp_.clear();
    sync_resp_.command_id = cmd::kGenericNack;
    sync_resp_.command_status = result;
    sync_done_ = true;
  }
  pending_.failAll(result);
}

}  // namespace vek::smpp
