#include "http/server/request_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/clock.h"
#include "platform/sanitize.h"
#include "platform/shutdown.h"

namespace vek::http {
namespace {

using foundation::Debug2Logf;
using foundation::DebugLog;
using foundation::DebugLogf;
using platform::IoStatus;

constexpr size_t kInitialBuffer = 2048;
constexpr size_t kMinRead = 1024;  // TLS records are read whole
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

// Drops the bytes at or below the space that lead the buffer (line ends
// left over from the previous message). Returns the new length.
size_t stripLeading(std::string& buf, size_t len) {
  size_t skip = 0;
  while (skip < len && static_cast<unsigned char>(buf[skip]) <= ' ') ++skip;
  if (skip > 0) {
    std::memmove(buf.data(), buf.data() + skip, len - skip);
    len -= skip;
  }
  return len;
}

bool isHttp11(std::string_view msg) {
  size_t end = msg.find_first_of("\r\n");
  std::string_view line = msg.substr(0, end);
  size_t sp = line.rfind(' ');
  return sp != std::string_view::npos && line.substr(sp + 1) == "HTTP/1.1";
}

}  // namespace

ReaderLimits readerLimitsFromConfiguration() {
  ReaderLimits limits;
  int32_t max = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", "MaxHTTPRequestSize"));
  if (max > 0) limits.message.max_message = static_cast<size_t>(max);
  limits.message.max_header = std::min(limits.message.max_header, limits.message.max_message);
  return limits;
}

ReadStatus RequestReader::read(ByteChannel& channel, Request* out) {
  reason_ = "";
  std::string buf = std::move(carry_);
  carry_.clear();
  size_t len = buf.size();
  if (len > 0) Debug2Logf("ProcessRead", "%zu bytes read from HTTP proxy socket pipeline", len);
  buf.resize(std::max(kInitialBuffer, len + 16));
  len = stripLeading(buf, len);

  const size_t limit = limits_.message.max_message + 1;  // one byte more tells "too large"
  httpwire::MessageScanner scanner(limits_.message);
  bool continue_sent = false;
  auto last_byte = platform::monotonicNow();
  for (;;) {
    if (len > 0) {
      httpwire::MessageCheck check = scanner.scan(std::string_view(buf.data(), len));
      if (check.state != httpwire::MessageState::kIncomplete)
        return finish(check, scanner, buf, len, out);
      if (!continue_sent && scanner.headerComplete() && scanner.expectsContinue() &&
          isHttp11(std::string_view(buf.data(), len))) {
        continue_sent = true;
        if (channel.writeAll(kContinue, 10000) != IoStatus::kOk) return ReadStatus::kError;
      }
    }
    if (platform::shutdownRequested()) return ReadStatus::kStopped;
    auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(platform::monotonicNow() - last_byte);
    if (idle >= limits_.idle_timeout) {
      if (len > 0) {
        DebugLogf("ProcessRead", "Received %zu bytes - incomplete HTTP request", len);
        DebugLog("ProcessRead",
                 platform::singleLine(std::string_view(buf.data(), std::min<size_t>(len, 1000))));
      }
      return ReadStatus::kTimedOut;
    }

    if (buf.size() - len < kMinRead && buf.size() < limit) {
      size_t grown = std::max(buf.size() * 3 / 2, len + kMinRead + 16);
      buf.resize(std::min(grown, limit));
    }
    size_t room = std::min(buf.size(), limit) - len;
    int wait = static_cast<int>(std::min(limits_.wait_slice, limits_.idle_timeout - idle).count());
    size_t got = 0;
    switch (channel.readSome(buf.data() + len, room, wait, &got)) {
      case IoStatus::kTimeout:
        continue;
      case IoStatus::kClosed:
        if (len == 0) {
          Debug2Logf("ProcessRead", "End of socket");
        } else {
          DebugLogf("ProcessRead", "Received %zu bytes - incomplete HTTP request", len);
        }
        return ReadStatus::kClosed;
      case IoStatus::kError:
        DebugLogf("ProcessRead", "Error %d from recv", errno);
        return ReadStatus::kError;
      case IoStatus::kOk:
        break;
    }
    if (len == 0 && on_activity_) on_activity_();
    bool at_start = len == 0;
    len += got;
    last_byte = platform::monotonicNow();
    if (at_start) len = stripLeading(buf, len);
  }
}

ReadStatus RequestReader::finish(const httpwire::MessageCheck& check,
                                 const httpwire::MessageScanner& scanner, std::string& buf,
                                 size_t len, Request* out) {
  switch (check.state) {
    case httpwire::MessageState::kComplete:
      break;
    case httpwire::MessageState::kTooLarge:
      reason_ = check.reason;
      return ReadStatus::kTooLarge;
    case httpwire::MessageState::kHeaderTooLarge:
      reason_ = check.reason;
      return ReadStatus::kHeaderTooLarge;
    case httpwire::MessageState::kMalformed:
    case httpwire::MessageState::kIncomplete:
      reason_ = check.reason;
      return ReadStatus::kMalformed;
  }
  size_t total = check.length;
  if (len > total) {
    carry_.assign(buf.data() + total, len - total);
    Debug2Logf("ProcessRead", "%zu bytes written to HTTP proxy socket pipeline", carry_.size());
  }
  buf.resize(total);
  if (scanner.chunked() && !httpwire::removeChunking(&buf, scanner.bodyOffset())) {
    reason_ = "Invalid chunked body";
    carry_.clear();
    return ReadStatus::kMalformed;
  }
  out->message = std::move(buf);
  out->body_offset = scanner.bodyOffset();
  return ReadStatus::kOk;
}

}  // namespace vek::http
