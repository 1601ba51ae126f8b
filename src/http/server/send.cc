#include "http/server/send.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "foundation/debug_log.h"
#include "platform/files.h"

namespace vek::http {

using foundation::DebugLogf;
using platform::IoStatus;

namespace {

constexpr size_t kFileBlock = 16384;

}  // namespace

bool sendLine(tls::Stream& stream, std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  return stream.writeAll(line, kSendTimeoutMs) == IoStatus::kOk;
}

bool sendData(tls::Stream& stream, std::string_view data) {
  IoStatus st = stream.writeAll(data, kSendTimeoutMs);
  if (st == IoStatus::kOk) return true;
  DebugLogf("SendData", "Error on send data %u (%s)", static_cast<unsigned>(errno),
            st == IoStatus::kTimeout ? "time-out" : "connection closed or failed");
  return false;
}

bool sendFile(tls::Stream& stream, const std::string& path, std::string_view header) {
  auto content = platform::readFile(path);
  if (!content.ok()) {
    DebugLogf("SendAFile", "Error reading %s: %s", path.c_str(),
              content.status().message().c_str());
    return false;
  }
  std::string_view rest = *content;
  std::string first(header);
  size_t n = std::min(rest.size(), kFileBlock);
  first.append(rest.substr(0, n));
  rest.remove_prefix(n);
  std::string_view block = first;
  for (;;) {
    IoStatus st = stream.writeAll(block, kSendTimeoutMs);
    if (st != IoStatus::kOk) {
      int err = errno;
      DebugLogf("SendAFile", "Error %08X (%u) sending response", static_cast<unsigned>(err),
                static_cast<unsigned>(err));
      return false;
    }
    if (rest.empty()) return true;
    block = rest.substr(0, kFileBlock);
    rest.remove_prefix(block.size());
  }
}

void ResponseBuffer::append(std::string_view text) {
  size_t cap = data_.capacity();
  if (data_.empty() && cap < 4096) {
    data_.reserve(std::max<size_t>(4096, text.size() + 256));
  } else if (cap < data_.size() + text.size() + 2) {
    data_.reserve(std::max(cap * 3 / 2, cap + text.size() + 256));
  }
  data_.append(text);
}

void ResponseBuffer::appendf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char small[512];
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) {
    va_end(ap);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    append(std::string_view(small, static_cast<size_t>(n)));
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    big.resize(static_cast<size_t>(n));
    append(big);
  }
  va_end(ap);
}

}  // namespace vek::http
