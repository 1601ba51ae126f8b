#include "protocols/http/response_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::httpwire {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;
using platform::IoStatus;

constexpr std::string_view kTag = "HttpResponseWait";
constexpr size_t kInitialBuffer = 4096;
constexpr size_t kMinRead = 4096;

// Line ends and blanks before a status line (left over from a previous
// answer on a kept connection) are dropped. Returns the new length.
size_t stripLeading(std::string& buf, size_t len) {
  size_t skip = 0;
  while (skip < len && static_cast<unsigned char>(buf[skip]) <= ' ') ++skip;
  if (skip > 0) {
    std::memmove(buf.data(), buf.data() + skip, len - skip);
    len -= skip;
  }
  return len;
}

int millisecondsUntil(platform::SteadyTime t) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - platform::monotonicNow());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
}

void setError(std::string* error_text, std::string text) {
  DebugLog(kTag, text);
  if (error_text) *error_text = std::move(text);
}

ResponseStatus refused(const MessageCheck& check, std::string* error_text) {
  setError(error_text, check.reason);
  switch (check.state) {
    case MessageState::kTooLarge:
    case MessageState::kHeaderTooLarge:
      return ResponseStatus::kTooLarge;
    default:
      return ResponseStatus::kMalformed;
  }
}

// The connection ended (or failed) before the response was complete.
ResponseStatus cutShort(const MessageScanner& scanner, std::string_view data, bool failed,
                        std::string* error_text) {
  if (data.empty()) {
    setError(error_text, failed ? "Connection failed before any response"
                                : "Connection closed before any response");
    return ResponseStatus::kNoResponse;
  }
  if (!scanner.headerComplete()) {
    setError(error_text, platform::format("Connection ended inside the response header after %zu "
                                          "bytes",
                                          data.size()));
  } else if (scanner.chunked()) {
    setError(error_text, "Chunked response ended before its last chunk");
  } else {
    uint64_t expected = scanner.bodyOffset() + contentLength(data);
    setError(error_text, platform::format("Expected %llu bytes, got %zu bytes",
                                          static_cast<unsigned long long>(expected), data.size()));
  }
  return failed ? ResponseStatus::kError : ResponseStatus::kTruncated;
}

}  // namespace

IoStatus MemoryTransport::readSome(void* buf, size_t len, int, size_t* got) {
  *got = std::min(len, data_.size());
  if (*got == 0) return IoStatus::kClosed;
  std::memcpy(buf, data_.data(), *got);
  data_.remove_prefix(*got);
  return IoStatus::kOk;
}

size_t maxResponseSizeFromConfiguration() {
  int32_t max = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", "MaxHTTPResponseSize"));
  return max > 0 ? static_cast<size_t>(max) : MessageLimits().max_message;
}

bool Response::connectionReusable() const {
  if (!http11 || !delimited || peer_closed || surplus != 0) return false;
  auto connection = findHeader(header(), "Connection:", 256);
  return !connection || platform::findNoCase(*connection, "close") == std::string::npos;
}

ResponseStatus HttpResponseWait(Transport& transport, const ResponseWaitOptions& options,
                                Response* out, std::string* error_text) {
  *out = Response();
  MessageLimits limits = options.limits;
  limits.max_header = std::min(limits.max_header, limits.max_message);
  MessageScanner scanner(
      limits, options.head_request ? MessageRole::kResponseToHead : MessageRole::kResponse);
  const size_t limit = limits.max_message + 1;  // one byte more tells "too large"
  std::string buf(std::min(kInitialBuffer, limit), '\0');
  size_t len = 0;
  auto last_byte = platform::monotonicNow();
  MessageCheck check;

  for (;;) {
    if (len > 0) {
      check = scanner.scan(std::string_view(buf.data(), len));
      if (check.state == MessageState::kComplete && scanner.interim()) {
        // "100 Continue" and its kind: the answer proper follows.
        DebugLogf(kTag, "%d interim response skipped", scanner.statusCode());
        std::memmove(buf.data(), buf.data() + check.length, len - check.length);
        len = stripLeading(buf, len - check.length);
        scanner.reset();
        continue;
      }
      if (check.state == MessageState::kComplete) break;
      if (check.state != MessageState::kIncomplete) return refused(check, error_text);
    }
    if (platform::shutdownRequested()) {
      setError(error_text, "Stopped while waiting for the response");
      return ResponseStatus::kStopped;
    }
    auto now = platform::monotonicNow();
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_byte);
    if (idle >= options.read_timeout || now >= options.deadline) {
      const bool stalled = idle >= options.read_timeout;
      setError(error_text,
               len == 0 ? platform::format("No response within %lld ms%s",
                                           static_cast<long long>(idle.count()),
                                           stalled ? "" : " (time limit reached)")
                        : platform::format("Response incomplete after %zu bytes: %s", len,
                                           stalled ? "server stalled" : "time limit reached"));
      return ResponseStatus::kTimedOut;
    }

    if (buf.size() - len < kMinRead && buf.size() < limit) {
      size_t grown = std::max(buf.size() * 3 / 2, len + kMinRead + kInitialBuffer);
      buf.resize(std::min(grown, limit));
    }
    int wait = static_cast<int>(
        std::min<int64_t>({options.wait_slice.count(), (options.read_timeout - idle).count(),
                           millisecondsUntil(options.deadline)}));
    size_t got = 0;
    IoStatus io = transport.readSome(buf.data() + len, buf.size() - len, std::max(wait, 0), &got);
    if (io == IoStatus::kTimeout) continue;
    if (io == IoStatus::kClosed) {
      DebugLog(kTag, "ioctlsocket indicates end of request");
      out->peer_closed = true;
      check = scanner.finishAtClose(std::string_view(buf.data(), len));
      if (check.state == MessageState::kComplete) break;
      if (check.state != MessageState::kIncomplete) return refused(check, error_text);
      return cutShort(scanner, std::string_view(buf.data(), len), false, error_text);
    }
    if (io == IoStatus::kError) {
      DebugLogf(kTag, "error from recv: %d", errno);
      return cutShort(scanner, std::string_view(buf.data(), len), true, error_text);
    }
    bool at_start = len == 0;
    len += got;
    last_byte = platform::monotonicNow();
    if (at_start) len = stripLeading(buf, len);
  }

  out->surplus = len - check.length;
  buf.resize(check.length);
  if (scanner.chunked()) {
    if (!removeChunking(&buf, scanner.bodyOffset())) {
      setError(error_text, "Invalid chunked response");
      return ResponseStatus::kMalformed;
    }
    DebugLog(kTag, "Chunked response Ok");
  } else if (options.head_request) {
    DebugLog(kTag, "HEAD Ok");
  } else if (scanner.statusCode() == 204 || scanner.statusCode() == 304) {
    DebugLog(kTag, "204 or 304 Response Ok");
  } else {
    DebugLog(kTag, "Ok");
  }
  out->message = std::move(buf);
  out->body_offset = scanner.bodyOffset();
  out->status = scanner.statusCode();
  out->http11 = scanner.http11();
  out->delimited = scanner.delimited();
  return ResponseStatus::kOk;
}

}  // namespace vek::httpwire
