// Feeds any bytes to the request reader, as one connection that delivers
// them in pieces of fuzzer-chosen sizes (pipelined requests, chunked
// bodies, partial reads), and runs the header and parameter readers over
// every request it returns. Checks: no crash, no request longer than the
// limit, and framing that the scanner accepted always de-chunks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/params.h"
#include "http/request_reader.h"
#include "protocols/http/message.h"

namespace {

using vek::platform::IoStatus;

class PiecesChannel final : public vek::http::ByteChannel {
 public:
  PiecesChannel(const uint8_t* data, size_t size, uint8_t piece_seed)
      : data_(reinterpret_cast<const char*>(data)), size_(size), seed_(piece_seed) {}
  IoStatus readSome(void* buf, size_t len, int, size_t* got) override {
    if (pos_ >= size_) return IoStatus::kClosed;
    seed_ = static_cast<uint8_t>(seed_ * 33 + 7);
    size_t piece = 1 + seed_ % 97;
    *got = std::min({len, piece, size_ - pos_});
    std::memcpy(buf, data_ + pos_, *got);
    pos_ += *got;
    return IoStatus::kOk;
  }
  IoStatus writeAll(std::string_view, int) override { return IoStatus::kOk; }

 private:
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
  uint8_t seed_;
};

void readParameters(std::string_view msg) {
  (void)vek::http::requestParameter(msg, "Text", 64);
  (void)vek::http::requestParameter(msg, "PhoneNumber");
  (void)vek::http::requestParameterAt(msg, "a", 2, 16);
  (void)vek::http::bodyParameter(msg, "Data", 32);
  (void)vek::http::bodyParameterAt(msg, "x", 3);
  (void)vek::http::parameterNameAt(msg, "SMPPOption_", 2);
  (void)vek::httpwire::hostHeader(msg);
  (void)vek::httpwire::userAgent(msg);
  (void)vek::httpwire::acceptHeader(msg, 50);
  (void)vek::httpwire::basicCredentials(msg);
  (void)vek::httpwire::responseStatusCode(msg);
  (void)vek::httpwire::contentLength(msg);
  (void)vek::httpwire::tolerantBodyOffset(msg);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  vek::http::ReaderLimits limits;
  limits.message.max_message = 64 + static_cast<size_t>(data[0]) * 64;  // up to ~16 KB
  limits.message.max_header = std::min<size_t>(limits.message.max_message, 2048);
  PiecesChannel channel(data + 2, size - 2, data[1]);
  vek::http::RequestReader reader(limits);
  for (int i = 0; i < 256; ++i) {
    vek::http::Request request;
    if (reader.read(channel, &request) != vek::http::ReadStatus::kOk) break;
    if (request.message.size() > limits.message.max_message) std::abort();
    (void)request.method();
    (void)request.path();
    (void)request.protocol();
    (void)request.header("Connection:");
    readParameters(request.message);
  }

  // The same bytes as one message: framing and de-chunking agree.
  std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  vek::httpwire::MessageScanner scanner(limits.message);
  vek::httpwire::MessageCheck check = scanner.scan(text);
  if (check.state == vek::httpwire::MessageState::kComplete && scanner.chunked()) {
    std::string msg = text.substr(0, check.length);
    if (!vek::httpwire::removeChunking(&msg, scanner.bodyOffset())) std::abort();
  }
  readParameters(text);
  return 0;
}
