#include "modem/at_channel.h"

#include <algorithm>
#include <thread>

#include "foundation/debug_log.h"
#include "platform/clock.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::modem {
namespace {

using platform::IoStatus;
using std::chrono::milliseconds;

constexpr int kWriteTimeoutMs = 2000;
constexpr int kSliceMs = 200;
constexpr size_t kReadChunk = 4096;
constexpr size_t kMaxPromptWindow = 4096;

int msLeft(platform::SteadyTime deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - platform::monotonicNow());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

AtChannel::AtChannel(std::unique_ptr<Port> port, Options options)
    : port_(std::move(port)), options_(std::move(options)), reader_(options_.text_mode) {}

void AtChannel::replacePort(std::unique_ptr<Port> port) {
  port_ = std::move(port);
  reader_.reset();
  alive_ = true;
}

void AtChannel::setTextMode(bool on) {
  options_.text_mode = on;
  reader_.setTextMode(on);
}

milliseconds AtChannel::scaled(double seconds) const {
  const double ms = seconds * 1000.0 * options_.time_scale;
  return milliseconds(ms < 1.0 && seconds > 0 ? 1 : static_cast<int64_t>(ms));
}

bool AtChannel::stopRequested() const {
  return options_.stop ? options_.stop->load(std::memory_order_relaxed)
                       : platform::shutdownRequested();
}

bool AtChannel::pause(double seconds) const {
  const auto deadline = platform::monotonicNow() + scaled(seconds);
  for (;;) {
    if (stopRequested()) return false;
    const int left = msLeft(deadline);
    if (left <= 0) return true;
    std::this_thread::sleep_for(milliseconds(std::min(left, kSliceMs)));
  }
}

bool AtChannel::send(std::string_view text) {
  if (!alive_) return false;
  const size_t chunk =
      options_.max_bytes_per_write == 0 ? text.size() : options_.max_bytes_per_write;
  size_t written = 0;
  while (written < text.size()) {
    const std::string_view part = text.substr(written, chunk);
    const IoStatus s = port_->write(part, kWriteTimeoutMs);
    if (s != IoStatus::kOk) {
      if (s == IoStatus::kClosed) alive_ = false;
      if (s == IoStatus::kTimeout) {
        foundation::DebugLogf("SendModemCommand", "Wrote %zu bytes, expected %zu bytes", written,
                              text.size());
      } else {
        const int err = s == IoStatus::kClosed ? 32 : 5;  // EPIPE / EIO
        foundation::DebugLogf("SendModemCommand", "WriteFile failed, error %d (%X)", err,
                              static_cast<unsigned>(err));
      }
      return false;
    }
    written += part.size();
    if (options_.write_pause_ms > 0 && written < text.size())
      std::this_thread::sleep_for(milliseconds(options_.write_pause_ms));
  }
  return true;
}

bool AtChannel::readInto(int timeout_ms) {
  char buf[kReadChunk];
  size_t got = 0;
  const IoStatus s = port_->read(buf, sizeof buf, timeout_ms, &got);
  if (s == IoStatus::kOk) {
    reader_.feed(std::string_view(buf, got));
    return true;
  }
  if (s == IoStatus::kTimeout) return true;
  alive_ = false;
  foundation::DebugLogf(options_.log_tag.c_str(), "Modem port %s %s", port_->name().c_str(),
                        s == IoStatus::kClosed ? "hung up" : "read failed");
  return false;
}

Response AtChannel::receive(double seconds, const ResponseReader::Expect& expect) {
  Response r;
  reader_.start(expect);
  auto deadline = platform::monotonicNow() + scaled(seconds);
  bool extended = false;
  for (;;) {
    switch (reader_.completion()) {
      case Completion::kOk:
        r.status = Response::Status::kOk;
        break;
      case Completion::kError:
        r.status = Response::Status::kError;
        break;
      case Completion::kPrompt:
        r.status = Response::Status::kPrompt;
        break;
      case Completion::kNone:
        break;
    }
    if (reader_.completion() != Completion::kNone) break;
    if (!alive_) {
      r.status = Response::Status::kClosed;
      break;
    }
    if (stopRequested()) {
      r.status = Response::Status::kStopped;
      break;
    }
    int left = msLeft(deadline);
    if (left <= 0) {
      if (reader_.awaitingReportBody() && !extended) {
        extended = true;
        foundation::DebugLog(options_.log_tag, "Incomplete +CMT: or +CDS: Message");
        foundation::DebugLog(options_.log_tag, "Adjusting timeout to wait for +CMT to complete");
        deadline = platform::monotonicNow() + scaled(5);
        continue;
      }
      r.status = Response::Status::kTimeout;
      break;
    }
    if (options_.extra_cr) {
      readInto(std::min<int>(left, static_cast<int>(scaled(1).count())));
      if (reader_.completion() == Completion::kNone && alive_) {
        foundation::DebugLog(options_.log_tag, "Sending extra CR");
        send("\r");
      }
    } else {
      readInto(std::min(left, kSliceMs));
    }
  }
  r.text = reader_.text();
  if (r.status == Response::Status::kTimeout)
    foundation::DebugLogf(options_.log_tag.c_str(), "Timeout Returning %zu bytes:  %s",
                          r.text.size(), printable(r.text, 498).c_str());
  if (reader_.overflowed())
    foundation::DebugLogf(options_.log_tag.c_str(), "Response longer than %zu bytes was cut",
                          kMaxResponse);
  return r;
}

Response AtChannel::command(std::string_view text, double seconds, std::string_view wait_for) {
  drain();
  foundation::DebugLogf(options_.log_tag.c_str(), "OUT: %s", printable(text, 498).c_str());
  if (!send(text)) {
    Response r;
    r.status = alive_ ? Response::Status::kWriteFailed : Response::Status::kClosed;
    return r;
  }
  ResponseReader::Expect e;
  e.wait_for = std::string(wait_for);
  Response r = receive(seconds, e);
  if (r.answered() || r.prompt())
    foundation::DebugLogf(options_.log_tag.c_str(), "IN: %s", printable(r.text, 498).c_str());
  return r;
}

bool AtChannel::waitForText(const std::vector<std::string>& texts, double seconds,
                            std::string* seen) {
  std::string window;
  const auto deadline = platform::monotonicNow() + scaled(seconds);
  char buf[kReadChunk];
  while (alive_ && !stopRequested()) {
    const int left = msLeft(deadline);
    if (left <= 0) return false;
    size_t got = 0;
    const IoStatus s = port_->read(buf, sizeof buf, std::min(left, kSliceMs), &got);
    if (s == IoStatus::kTimeout) continue;
    if (s != IoStatus::kOk) {
      alive_ = false;
      return false;
    }
    window.append(buf, got);
    for (const auto& t : texts) {
      if (!t.empty() && platform::findNoCase(window, t) != std::string::npos) {
        if (seen) *seen = t;
        return true;
      }
    }
    if (window.size() > kMaxPromptWindow) window.erase(0, window.size() - kMaxPromptWindow / 2);
  }
  return false;
}

void AtChannel::drain() {
  reader_.start({});
  // Bounded: at most 64 reads of what is already there.
  for (int i = 0; i < 64 && alive_; ++i) {
    while (reader_.completion() != Completion::kNone) reader_.start({});
    char buf[kReadChunk];
    size_t got = 0;
    const IoStatus s = port_->read(buf, sizeof buf, 0, &got);
    if (s == IoStatus::kTimeout) break;
    if (s != IoStatus::kOk) {
      alive_ = false;
      break;
    }
    reader_.feed(std::string_view(buf, got));
  }
  while (reader_.completion() != Completion::kNone) reader_.start({});
}

void AtChannel::listen(double seconds) {
  const auto deadline = platform::monotonicNow() + scaled(seconds);
  reader_.start({});
  do {
    while (reader_.completion() != Completion::kNone) reader_.start({});
    const int left = msLeft(deadline);
    if (!readInto(std::min(left, kSliceMs))) break;
  } while (msLeft(deadline) > 0 && !stopRequested());
  while (reader_.completion() != Completion::kNone) reader_.start({});
}

void AtChannel::discardInput() {
  port_->discardInput();
  reader_.reset();
}

}  // namespace vek::modem
