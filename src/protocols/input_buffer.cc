#include "protocols/input_buffer.h"

#include <algorithm>
#include <cstring>

namespace vek::protocols {

namespace {
constexpr size_t kReadChunk = 64 * 1024;
}  // namespace

platform::IoStatus InputBuffer::fill(tls::Stream& stream, int timeout_ms) {
  if (buf_.empty()) buf_.resize(kReadChunk);
  if (start_ == end_) start_ = end_ = 0;
  if (buf_.size() - end_ < kReadChunk / 4) {
    // Move the partial frame to the front, then make room for a whole one.
    std::memmove(buf_.data(), buf_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
    if (buf_.size() - end_ < kReadChunk / 4) buf_.resize(std::max(buf_.size() * 2, kReadChunk));
  }
  size_t got = 0;
  auto st = stream.readSome(buf_.data() + end_, buf_.size() - end_, timeout_ms, &got);
  if (st == platform::IoStatus::kOk) {
    drained_ = got < buf_.size() - end_ && !stream.secure();
    end_ += got;
  }
  return st;
}

}  // namespace vek::protocols
