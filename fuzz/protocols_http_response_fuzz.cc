// Feeds any bytes to the response reader as one connection that delivers
// them in pieces of fuzzer-chosen sizes, then ends. Checks: no crash, no
// response beyond the size limit, a returned body inside the message, an
// answer framed by nothing only when the connection ended, and framing the
// scanner accepted always de-chunks. The same bytes, read as a URL and a
// Location, go through the URL parser and the redirect resolution: what
// they return never holds a byte that could end the request line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocols/http/message.h"
#include "protocols/http/response_reader.h"
#include "protocols/http/url.h"

namespace {

using vek::platform::IoStatus;

class PiecesTransport final : public vek::httpwire::Transport {
 public:
  PiecesTransport(const char* data, size_t size, uint8_t seed)
      : data_(data), size_(size), seed_(seed) {}
  IoStatus readSome(void* buf, size_t len, int, size_t* got) override {
    if (pos_ >= size_) return IoStatus::kClosed;
    seed_ = static_cast<uint8_t>(seed_ * 33 + 7);
    size_t piece = 1 + seed_ % 97;
    *got = std::min({len, piece, size_ - pos_});
    std::memcpy(buf, data_ + pos_, *got);
    pos_ += *got;
    return IoStatus::kOk;
  }

 private:
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
  uint8_t seed_;
};

bool lineSafe(const std::string& s) {
  for (unsigned char c : s)
    if (c <= 0x20 || c == 0x7f) return false;
  return true;
}

void checkUrl(const vek::httpwire::Url& url) {
  if (url.target.empty() || url.target.front() != '/') std::abort();
  if (!lineSafe(url.target) || !lineSafe(url.authority())) std::abort();
}

void urls(std::string_view text) {
  size_t nl = text.find('\n');
  std::string_view first = text.substr(0, std::min<size_t>(nl, 512));
  auto base = vek::httpwire::parseUrl(first);
  if (!base.ok()) return;
  checkUrl(*base);
  if (nl == std::string_view::npos) return;
  auto next = vek::httpwire::resolveReference(*base, text.substr(nl + 1, 512));
  if (next.ok()) checkUrl(*next);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  vek::httpwire::ResponseWaitOptions options;
  options.limits.max_message = 64 + static_cast<size_t>(data[0]) * 64;  // up to ~16 KB
  options.limits.max_header = std::min<size_t>(options.limits.max_message, 2048);
  options.head_request = (data[2] & 1) != 0;
  const char* text = reinterpret_cast<const char*>(data + 3);
  size_t len = size - 3;

  PiecesTransport transport(text, len, data[1]);
  vek::httpwire::Response response;
  std::string error;
  if (vek::httpwire::HttpResponseWait(transport, options, &response, &error) ==
      vek::httpwire::ResponseStatus::kOk) {
    if (response.message.size() > options.limits.max_message) std::abort();
    if (response.body_offset == 0 || response.body_offset > response.message.size()) std::abort();
    if (response.status < 100 || response.status > 999) std::abort();
    if (!response.delimited && !response.peer_closed) std::abort();
    (void)response.connectionReusable();
  } else if (error.empty()) {
    std::abort();
  }

  std::string whole(text, len);
  vek::httpwire::MessageScanner scanner(options.limits, vek::httpwire::MessageRole::kResponse);
  vek::httpwire::MessageCheck check = scanner.finishAtClose(whole);
  if (check.state == vek::httpwire::MessageState::kComplete && scanner.chunked()) {
    std::string msg = whole.substr(0, check.length);
    if (!vek::httpwire::removeChunking(&msg, scanner.bodyOffset())) std::abort();
  }
  urls(whole);
  return 0;
}
