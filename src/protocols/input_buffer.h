// InputBuffer: the bytes read from one connection and not yet consumed by
// its framing. It grows to hold a whole frame (the engine bounds the frame
// length before asking for more) and reads with a time limit, so an engine
// can wait in short slices and notice a shutdown.
//
// One thread (the one driving the connection); not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/socket.h"
#include "tls/stream.h"

namespace vek::protocols {

class InputBuffer {
 public:
  // Reads what the stream has within `timeout_ms` and appends it. kOk when
  // bytes arrived, kTimeout when none did; anything else means the stream
  // is closed or broken.
  platform::IoStatus fill(tls::Stream& stream, int timeout_ms);

  std::span<const uint8_t> data() const { return {buf_.data() + start_, end_ - start_}; }
  size_t size() const { return end_ - start_; }
  bool empty() const { return start_ == end_; }
  // Drops the first `n` unconsumed bytes (n <= size()).
  void consume(size_t n) { start_ += n; }
  void clear() { start_ = end_ = 0; }
  // The last read left room in the buffer on a plain socket: the socket had
  // nothing more at that moment, so there is no need to ask again at once.
  bool drained() const { return drained_; }

 private:
  std::vector<uint8_t> buf_;
  size_t start_ = 0, end_ = 0;
  bool drained_ = false;
};

}  // namespace vek::protocols
