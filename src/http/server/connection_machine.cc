#include "http/server/connection_machine.h"

#include <algorithm>

namespace vek::http {
namespace {

using platform::SteadyTime;

constexpr size_t kInitialBuffer = 2048;

// The bytes at or below the space that lead a request (line ends left over
// from the previous one) are dropped.
void stripLeading(std::string& buf) {
  size_t skip = 0;
  while (skip < buf.size() && static_cast<unsigned char>(buf[skip]) <= ' ') ++skip;
  buf.erase(0, skip);
}

bool isHttp11(std::string_view msg) {
  std::string_view line = msg.substr(0, msg.find_first_of("\r\n"));
  size_t sp = line.rfind(' ');
  return sp != std::string_view::npos && line.substr(sp + 1) == "HTTP/1.1";
}

}  // namespace

ConnectionMachine::ConnectionMachine(const MachineLimits& limits, MemoryBudget* budget,
                                     SteadyTime now)
    : limits_(limits),
      budget_(budget),
      scanner_(limits.message),
      idle_since_(now),
      request_start_(now),
      body_start_(now),
      last_byte_(now) {}

ConnectionMachine::~ConnectionMachine() {
  releaseAll();
}

bool ConnectionMachine::incomplete() const {
  return phase_ == Phase::kHead || phase_ == Phase::kCheck || phase_ == Phase::kBody ||
         phase_ == Phase::kReady;
}

size_t ConnectionMachine::readLimit() const {
  size_t end = 0;
  switch (phase_) {
    case Phase::kIdle:
    case Phase::kHead:
      // A head is bounded by max_header; body bytes that came with it wait
      // for the check.
      end = std::min(limits_.message.max_header, limits_.message.max_message) + 1;
      break;
    case Phase::kBody:
      if (!scanner_.chunked()) {
        // The declared length exactly: the next request stays in the socket.
        end = scanner_.bodyOffset() + static_cast<size_t>(declared_length_);
      } else {
        end = scanner_.bodyOffset() + body_allowance_ + 1;
      }
      end = std::min(end, limits_.message.max_message + 1);
      break;
    default:
      return 0;
  }
  return end > buf_.size() ? end - buf_.size() : 0;
}

void ConnectionMachine::received(std::string_view bytes, SteadyTime now) {
  if (bytes.empty()) return;
  if (phase_ != Phase::kIdle && phase_ != Phase::kHead && phase_ != Phase::kBody) return;
  last_byte_ = now;
  if (phase_ == Phase::kIdle) idle_since_ = now;
  if (!reserveFor(bytes.size())) {
    (void)refuse("503 Service Unavailable", "The server is busy, please try again later.",
                 "Request memory budget exhausted", true);
    return;
  }
  buf_.append(bytes);
}

ConnectionMachine::Step ConnectionMachine::step(SteadyTime now) {
  switch (phase_) {
    case Phase::kIdle:
      stripLeading(buf_);
      if (buf_.empty()) {
        if (buf_.capacity() > kInitialBuffer) {
          std::string().swap(buf_);
          (void)chargeCapacity(0);
        }
        return Step::kWantBytes;
      }
      phase_ = Phase::kHead;
      request_start_ = now;
      scanner_.reset();
      head_accepted_ = false;
      continue_sent_ = false;
      declared_length_ = 0;
      return Step::kStarted;
    case Phase::kHead:
    case Phase::kBody:
      return scanRequest(now);
    case Phase::kReady:
      return Step::kRequestReady;
    case Phase::kRefused:
      return Step::kRefused;
    case Phase::kCheck:
    case Phase::kDispatched:
    case Phase::kClosed:
      return Step::kWaiting;
  }
  return Step::kWaiting;
}

ConnectionMachine::Step ConnectionMachine::scanRequest(SteadyTime now) {
  httpwire::MessageCheck check = scanner_.scan(buf_);
  switch (check.state) {
    case httpwire::MessageState::kTooLarge:
      return refuse("413 Request Entity Too Large",
                    "The request is larger than this server accepts.", check.reason);
    case httpwire::MessageState::kHeaderTooLarge:
      return refuse("431 Request Header Fields Too Large",
                    "The request header is larger than this server accepts.", check.reason);
    case httpwire::MessageState::kMalformed:
      return refuse("400 Bad Request", check.reason, check.reason);
    case httpwire::MessageState::kIncomplete:
    case httpwire::MessageState::kComplete:
      break;
  }
  if (!scanner_.headerComplete()) return Step::kWantBytes;
  const bool complete = check.state == httpwire::MessageState::kComplete;

  if (!head_accepted_) {
    declared_length_ = scanner_.chunked() ? 0 : httpwire::contentLength(head());
    const bool may_be_large = scanner_.chunked() || declared_length_ > limits_.unauthenticated_body;
    if (may_be_large && !complete) {
      phase_ = Phase::kCheck;
      return Step::kCheckHead;
    }
    // Small, or here whole already: the request's handler decides who sent it.
    head_accepted_ = true;
    body_allowance_ = complete ? limits_.message.max_message : limits_.unauthenticated_body;
  }

  if (complete) return finishRequest(check.length);

  if (phase_ != Phase::kBody) beginBody(now);
  if (buf_.size() - scanner_.bodyOffset() > body_allowance_) {
    return refuse("413 Request Entity Too Large",
                  "A request body this large needs valid credentials.",
                  "Body over MaxHTTPUnauthenticatedBody without credentials");
  }
  if (!continue_sent_ && scanner_.expectsContinue() && isHttp11(buf_)) {
    continue_sent_ = true;
    return Step::kSendContinue;
  }
  return Step::kWantBytes;
}

ConnectionMachine::Step ConnectionMachine::finishRequest(size_t length) {
  if (buf_.size() > length) carry_.assign(buf_, length);
  buf_.resize(length);
  if (scanner_.chunked() && !httpwire::removeChunking(&buf_, scanner_.bodyOffset())) {
    carry_.clear();
    return refuse("400 Bad Request", "Invalid chunked body", "Invalid chunked body");
  }
  phase_ = Phase::kReady;
  return Step::kRequestReady;
}

void ConnectionMachine::beginBody(SteadyTime now) {
  phase_ = Phase::kBody;
  body_start_ = now;
}

std::string_view ConnectionMachine::head() const {
  return std::string_view(buf_).substr(0, std::min(scanner_.bodyOffset(), buf_.size()));
}

void ConnectionMachine::headVerdict(Verdict verdict, SteadyTime now) {
  if (phase_ != Phase::kCheck) return;
  switch (verdict) {
    case Verdict::kAnswered:
      phase_ = Phase::kClosed;
      std::string().swap(buf_);
      (void)chargeCapacity(0);
      return;
    case Verdict::kFullBody:
      body_allowance_ = limits_.message.max_message;
      // A declared body gets its exact room now, or the request is refused
      // before any of it is read.
      if (!scanner_.chunked() && !reserveFor(scanner_.bodyOffset() +
                                             static_cast<size_t>(declared_length_) - buf_.size())) {
        (void)refuse("503 Service Unavailable", "The server is busy, please try again later.",
                     "Request memory budget exhausted", true);
        return;
      }
      break;
    case Verdict::kSmallBody:
      body_allowance_ = limits_.unauthenticated_body;
      if (!scanner_.chunked() && declared_length_ > body_allowance_) {
        (void)refuse("413 Request Entity Too Large",
                     "A request body this large needs valid credentials.",
                     "Body over MaxHTTPUnauthenticatedBody without credentials");
        return;
      }
      break;
  }
  head_accepted_ = true;
  beginBody(now);
}

Request ConnectionMachine::takeRequest() {
  Request r;
  if (phase_ != Phase::kReady) return r;
  r.body_offset = scanner_.bodyOffset();
  r.message = std::move(buf_);
  buf_.clear();
  dispatched_reserve_ = reserved_;
  reserved_ = 0;
  phase_ = Phase::kDispatched;
  return r;
}

void ConnectionMachine::requestDone(SteadyTime now) {
  if (phase_ != Phase::kDispatched) return;
  budget_->release(dispatched_reserve_);
  dispatched_reserve_ = 0;
  buf_ = std::move(carry_);
  carry_.clear();
  phase_ = Phase::kIdle;
  idle_since_ = now;
  last_byte_ = now;
  if (!chargeCapacity(buf_.capacity())) {
    std::string().swap(buf_);
    (void)refuse("503 Service Unavailable", "The server is busy, please try again later.",
                 "Request memory budget exhausted", true);
  }
}

SteadyTime ConnectionMachine::deadline() const {
  switch (phase_) {
    case Phase::kIdle:
      return idle_since_ + limits_.idle_timeout;
    case Phase::kHead:
      return std::min(request_start_ + limits_.head_timeout, last_byte_ + limits_.idle_timeout);
    case Phase::kBody: {
      SteadyTime stalled = last_byte_ + limits_.idle_timeout;
      if (limits_.min_body_rate == 0) return stalled;
      uint64_t body = buf_.size() - std::min(buf_.size(), scanner_.bodyOffset());
      auto earned = std::chrono::milliseconds(body * 1000 / limits_.min_body_rate);
      return std::min(stalled, body_start_ + limits_.head_timeout + earned);
    }
    default:
      return SteadyTime::max();
  }
}

ConnectionMachine::Step ConnectionMachine::refuse(const char* status, const char* text,
                                                  const char* reason, bool retry_later) {
  refusal_ = Refusal{status, text, reason, retry_later};
  phase_ = Phase::kRefused;
  std::string().swap(buf_);
  carry_.clear();
  (void)chargeCapacity(0);
  return Step::kRefused;
}

bool ConnectionMachine::reserveFor(size_t extra) {
  size_t need = buf_.size() + extra;
  size_t cap = buf_.capacity();
  if (need <= cap) return true;
  // std::string at least doubles a capacity it grows: charge what it will
  // really take.
  size_t want = std::max({need, cap * 2, kInitialBuffer});
  if (!chargeCapacity(want)) return false;
  buf_.reserve(want);
  (void)chargeCapacity(buf_.capacity(), true);
  return true;
}

bool ConnectionMachine::chargeCapacity(size_t capacity, bool force) {
  size_t want =
      capacity > MemoryBudget::kFreeAllowance ? capacity - MemoryBudget::kFreeAllowance : 0;
  if (want > reserved_) {
    if (force) {
      budget_->take(want - reserved_);
    } else if (!budget_->tryReserve(want - reserved_)) {
      return false;
    }
  } else if (want < reserved_) {
    budget_->release(reserved_ - want);
  }
  reserved_ = want;
  return true;
}

void ConnectionMachine::releaseAll() {
  budget_->release(reserved_ + dispatched_reserve_);
  reserved_ = 0;
  dispatched_reserve_ = 0;
}

}  // namespace vek::http
