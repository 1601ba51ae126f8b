// Sending on a server or client connection (plain or TLS, through
// tls::Stream) and the growable response body buffer.
//
// Sends are bounded by kSendTimeoutMs in total, so a peer that stops
// reading costs its connection, never a thread forever. Failures are
// written to the debug log under the tags "SendData" and "SendAFile".
// A stream belongs to one thread; ResponseBuffer is a plain value.
#pragma once

#include <string>
#include <string_view>

#include "tls/stream.h"

namespace vek::http {

constexpr int kSendTimeoutMs = 60000;

// Sends `text` followed by CR LF. True when everything went out.
bool sendLine(tls::Stream& stream, std::string_view text);
// Sends all of `data`. True when everything went out.
bool sendData(tls::Stream& stream, std::string_view data);
// Sends `header` together with the file's first block, then the rest in
// blocks of 16384 bytes. False when the file cannot be read or a block
// cannot be sent.
bool sendFile(tls::Stream& stream, const std::string& path, std::string_view header = {});

// The response body under construction. Capacity starts at
// max(4096, first append + 256) and, when an append does not fit (with two
// bytes to spare), grows to max(capacity * 3 / 2, capacity + appended + 256).
class ResponseBuffer {
 public:
  void append(std::string_view text);
  void appendf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  const std::string& text() const { return data_; }
  size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }
  void clear() { data_.clear(); }
  std::string release() { return std::move(data_); }

 private:
  std::string data_;
};

}  // namespace vek::http
