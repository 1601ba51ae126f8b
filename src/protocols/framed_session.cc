#include "protocols/framed_session.h"

#include <algorithm>
#include <cstring>

#include "foundation/debug_log.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::protocols {

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
// Waits are cut into slices so that a shutdown request is seen promptly.
constexpr milliseconds kSlice{200};
constexpr milliseconds kWriteTimeout{30000};
constexpr milliseconds kTimeoutCheckInterval{100};

}  // namespace

FramedSession::FramedSession(Options options)
    : options_(options), command_timeout_(options.default_timeout) {}

FramedSession::~FramedSession() {
  close();
}

void FramedSession::attach(tls::Stream stream, std::string name) {
  close();
  stream_ = std::move(stream);
  name_ = std::move(name);
  last_error_.clear();
  broken_ = false;
  in_.clear();
  skipped_ = 0;
  sync_active_ = sync_done_ = false;
  last_rx_ = platform::monotonicNow();
}

void FramedSession::close() {
  failAll(local::kConnectionError);
  stream_.close();
}

void FramedSession::markBroken(const std::string& why) {
  if (!broken_ && stream_.valid()) {
    foundation::DebugLogf(options_.tag, "%s: %s", name_.c_str(), why.c_str());
    last_error_ = why;
  }
  broken_ = true;
  failAll(local::kConnectionError);
}

bool FramedSession::numberBusy(uint32_t number) const {
  return window_.contains(number) || (sync_active_ && sync_number_ == number);
}

bool FramedSession::sendFrame(std::string_view frame) {
  if (!alive()) return false;
  if (debugOn())
    foundation::DebugLogf(options_.tag, "%s: sent %s", name_.c_str(),
                          printableFrame(frame).c_str());
  if (stream_.writeAll(frame, static_cast<int>(kWriteTimeout.count())) != platform::IoStatus::kOk) {
    markBroken("write failed, connection closed");
    return false;
  }
  return true;
}

uint32_t FramedSession::transact(uint32_t number, uint32_t kind, std::string_view frame,
                                 Answer* answer) {
  if (!alive()) return local::kConnectionError;
  // A frame handler may not wait for the peer: it runs inside a wait already.
  if (sync_active_ || dispatching_ || numberBusy(number)) return local::kFailure;
  sync_active_ = true;
  sync_done_ = false;
  sync_number_ = number;
  sync_kind_ = kind;
  auto sent = platform::monotonicNow();
  auto finish = [&](uint32_t result) {
    sync_active_ = sync_done_ = false;
    return result;
  };
  if (!sendFrame(frame)) return finish(local::kConnectionError);
  auto deadline = sent + command_timeout_;
  while (!sync_done_) {
    if (!alive() || platform::shutdownRequested()) return finish(local::kConnectionError);
    auto now = platform::monotonicNow();
    if (now >= deadline) {
      // Silence since the request went out: the peer is gone, not just slow.
      if (last_rx_ < sent) markBroken("no answer from the peer, connection considered dead");
      return finish(local::kTimeout);
    }
    service(std::min(std::chrono::duration_cast<milliseconds>(deadline - now), kSlice));
  }
  *answer = std::move(sync_answer_);
  return finish(answer->result);
}

uint32_t FramedSession::sendAsync(uint32_t number, uint32_t kind, std::string_view frame,
                                  std::shared_ptr<AsyncSubmit> ctx) {
  if (!alive()) return local::kConnectionError;
  if (numberBusy(number)) return local::kFailure;
  auto sent = platform::monotonicNow();
  // Entered only once written: a refused submission leaves `ctx` untouched.
  // (No answer can be handled before this returns.)
  if (!sendFrame(frame)) return local::kConnectionError;
  window_.add(number, {std::move(ctx), kind, sent});
  return 0;
}

bool FramedSession::complete(uint32_t number, uint32_t kind, Answer answer) {
  if (sync_active_ && !sync_done_ && number == sync_number_ &&
      (kind == kAnyKind || kind == sync_kind_)) {
    sync_answer_ = std::move(answer);
    sync_done_ = true;
    return true;
  }
  const SubmitWindow::Entry* e = window_.find(number);
  if (e == nullptr || !(kind == kAnyKind || kind == e->expected)) {
    foundation::DebugLogf(options_.tag, "%s: unexpected answer number %u ignored", name_.c_str(),
                          number);
    return false;
  }
  auto ctx = std::move(window_.take(number)->ctx);
  if (ctx) ctx->complete(answer.result, answer.result == 0 ? answer.message_id : std::string());
  return true;
}

FramedSession::Next FramedSession::nextFrame(size_t* start, size_t* length, std::string* why) {
  auto data = in_.data();
  if (data.empty()) return Next::kNone;
  const uint8_t* stx = static_cast<const uint8_t*>(std::memchr(data.data(), kStx, data.size()));
  size_t skip = stx == nullptr ? data.size() : static_cast<size_t>(stx - data.data());
  if (skip > 0) {
    skipped_ += skip;
    in_.consume(skip);
    data = in_.data();
  }
  if (data.empty()) return Next::kNone;
  // Only as far as a frame may reach: a peer that never sends ETX cannot
  // make the search (or the buffer) grow without end.
  size_t reach = std::min(data.size(), options_.max_frame);
  for (size_t i = 1; i < reach; ++i) {
    if (data[i] == kEtx) {
      *start = 1;
      *length = i - 1;
      return Next::kFrame;
    }
    if (data[i] == kStx) {
      *why = platform::format("a frame without its end byte (%zu bytes), connection closed", i);
      return Next::kBad;
    }
  }
  if (data.size() >= options_.max_frame) {
    *why = platform::format("a frame longer than %zu bytes, connection closed", options_.max_frame);
    return Next::kBad;
  }
  return Next::kNone;
}

bool FramedSession::fill(milliseconds wait) {
  auto st = in_.fill(stream_, static_cast<int>(wait.count()));
  if (st == platform::IoStatus::kOk) return true;
  if (st != platform::IoStatus::kTimeout) markBroken("connection closed by the peer");
  return false;
}

int FramedSession::service(milliseconds wait) {
  if (!alive()) return -1;
  if (dispatching_) return 0;
  int handled = 0;
  auto deadline = platform::monotonicNow() + wait;
  for (;;) {
    size_t start = 0, length = 0;
    std::string why;
    Next next = Next::kNone;
    while (!inputPaused() && (next = nextFrame(&start, &length, &why)) == Next::kFrame) {
      // The frame stays where it is until the next fill, which cannot happen
      // inside the handler.
      std::string_view inner(reinterpret_cast<const char*>(in_.data().data()) + start, length);
      in_.consume(start + length + 1);
      last_rx_ = platform::monotonicNow();
      if (debugOn())
        foundation::DebugLogf(options_.tag, "%s: received %s", name_.c_str(),
                              printableFrame(inner).c_str());
      dispatching_ = true;
      onFrame(inner);
      dispatching_ = false;
      ++handled;
      if (!alive()) return -1;
    }
    if (skipped_ > 0) {
      foundation::DebugLogf(options_.tag, "%s: %zu bytes outside any frame skipped", name_.c_str(),
                            skipped_);
      skipped_ = 0;
    }
    if (next == Next::kBad) {
      markBroken(why);
      return -1;
    }
    if (inputPaused()) break;
    // Wait only while nothing was handled; then take what is already there.
    if (handled > 0 && in_.drained()) break;
    auto now = platform::monotonicNow();
    milliseconds left = handled > 0 ? milliseconds(0)
                                    : std::chrono::duration_cast<milliseconds>(std::max(
                                          deadline - now, platform::SteadyTime::duration(0)));
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

int FramedSession::yield(milliseconds wait, bool* connection_error) {
  const int n = service(wait);
  if (n >= 0) return n;
  if (connection_error) *connection_error = true;
  return 0;
}

void FramedSession::checkTimeouts() {
  auto now = platform::monotonicNow();
  if (window_.empty() || now - last_timeout_check_ < kTimeoutCheckInterval) return;
  last_timeout_check_ = now;
  if (window_.expire(now, command_timeout_, last_rx_, local::kTimeout))
    markBroken("no answer from the peer, connection considered dead");
}

void FramedSession::failAll(uint32_t result) {
  if (sync_active_ && !sync_done_) {
    sync_answer_ = Answer{result, std::string()};
    sync_done_ = true;
  }
  window_.failAll(result);
}

}  // namespace vek::protocols
