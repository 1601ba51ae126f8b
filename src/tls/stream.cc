#include "tls/stream.h"

#include "platform/clock.h"

namespace vek::tls {

using platform::IoStatus;

IoStatus Stream::readSome(void* buf, size_t len, int timeout_ms, size_t* got) {
  *got = 0;
  if (!fd_) return IoStatus::kClosed;
  if (!session_) return platform::recvSome(fd_.get(), buf, len, timeout_ms, got);
  int n = sslRead(session_.get(), buf, len, timeout_ms);
  if (n > 0) {
    *got = static_cast<size_t>(n);
    return IoStatus::kOk;
  }
  if (n == -2) return IoStatus::kTimeout;
  return n == 0 ? IoStatus::kClosed : IoStatus::kError;
}

IoStatus Stream::readExact(void* buf, size_t len, int timeout_ms) {
  auto deadline = platform::deadlineAfter(std::chrono::milliseconds(timeout_ms));
  auto* p = static_cast<char*>(buf);
  while (len > 0) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - platform::monotonicNow());
    size_t got = 0;
    IoStatus s = readSome(p, len, static_cast<int>(std::max<int64_t>(0, left.count())), &got);
    if (s != IoStatus::kOk) return s;
    p += got;
    len -= got;
  }
  return IoStatus::kOk;
}

IoStatus Stream::writeAll(std::string_view data, int timeout_ms) {
  if (!fd_) return IoStatus::kClosed;
  if (!session_) return platform::sendAll(fd_.get(), data, timeout_ms);
  return sslWrite(session_.get(), data, timeout_ms) ? IoStatus::kOk : IoStatus::kError;
}

bool Stream::readable(int timeout_ms) {
  if (!fd_) return false;
  if (session_ && sslPending(session_.get()) > 0) return true;
  return platform::waitReadable(fd_.get(), timeout_ms) != 0;
}

bool Stream::idleAndOpen() {
  if (!fd_) return false;
  if (session_ && sslPending(session_.get()) > 0) return false;
  int r = platform::waitReadable(fd_.get(), 0);
  if (r == 0) return true;
  if (r < 0 || !session_) return false;
  char scratch[512];
  // -2: the records read held no data and the connection is still quiet.
  return sslRead(session_.get(), scratch, sizeof scratch, 0) == -2;
}

void Stream::close() {
  session_.reset();
  fd_.reset();
}

}  // namespace vek::tls
