#include "http/server/closing.h"

#include "foundation/debug_log.h"
#include "platform/clock.h"
#include "platform/half_close.h"
#include "platform/shutdown.h"
#include "platform/socket.h"

namespace vek::http {

using foundation::DebugLog;
using platform::IoStatus;

void shutdownAndDrain(tls::Stream& stream, std::chrono::milliseconds bound) {
  if (!stream.valid()) return;
  char buf[500];
  size_t got = 0;
  if (stream.secure()) {
    // Only what is already here: the peer sees our close_notify when the
    // stream closes.
    for (int i = 0; i < 64 && stream.readSome(buf, sizeof buf, 0, &got) == IoStatus::kOk; ++i) {
    }
    return;
  }
  platform::shutdownSending(stream.fd());
  auto deadline = platform::monotonicNow() + bound;
  while (!platform::shutdownRequested()) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - platform::monotonicNow());
    if (left.count() <= 0) {
      DebugLog("WaitForSocketClose", "Gave up waiting for the peer to close");
      return;
    }
    int wait = static_cast<int>(std::min<int64_t>(left.count(), 5000));
    switch (stream.readSome(buf, sizeof buf, wait, &got)) {
      case IoStatus::kOk:
      case IoStatus::kTimeout:
        continue;
      case IoStatus::kClosed:
        DebugLog("WaitForSocketClose", "WinSock reported recv complete");
        return;
      case IoStatus::kError:
        DebugLog("WaitForSocketClose", "WinSock reported recv condition");
        return;
    }
  }
}

void gracefulClose(tls::Stream& stream, std::chrono::milliseconds bound) {
  shutdownAndDrain(stream, bound);
  stream.close();
}

bool connectionAlive(int fd) {
  return fd >= 0 && !platform::peerGoneOrChatty(fd);
}

bool connectionAlive(tls::Stream& stream) {
  if (!stream.valid()) return false;
  return !stream.readable(0);
}

}  // namespace vek::http
