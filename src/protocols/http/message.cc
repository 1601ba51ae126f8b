#include "protocols/http/message.h"

#include <algorithm>

#include "encoding/base64.h"
#include "platform/strings.h"

namespace vek::httpwire {
namespace {

using platform::findNoCase;
using platform::startsWithNoCase;

bool isControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}
bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Position just past `name` on the first line of `area` that starts with
// it, or npos.
size_t findFieldValue(std::string_view area, std::string_view name, size_t from = 0) {
  size_t pos = from;
  while (pos < area.size()) {
    if (startsWithNoCase(area.substr(pos), name)) return pos + name.size();
    pos = area.find('\n', pos);
    if (pos == std::string_view::npos) break;
    ++pos;
  }
  return std::string_view::npos;
}

// Copies from `pos` after leading blanks up to the first control character
// (and, with `stop_at_blank`, the first blank), at most `size` - 1 bytes.
std::string copyValue(std::string_view area, size_t pos, size_t size, bool stop_at_blank) {
  while (pos < area.size() && isBlank(area[pos])) ++pos;
  std::string out;
  size_t max = size > 0 ? size - 1 : 0;
  while (pos < area.size() && out.size() < max) {
    char c = area[pos];
    if (isControl(static_cast<unsigned char>(c)) || (stop_at_blank && c == ' ')) break;
    out.push_back(c);
    ++pos;
  }
  return out;
}

enum class ChunkLine { kOk, kNeedMore, kBad, kTooLarge };

constexpr size_t kMaxChunkLine = 4096;

// Parses one chunk-size line "<hex>[blanks][;extension]\r\n" (a bare "\n"
// is accepted) at `p`. On kOk, *size is the chunk size and *next the first
// byte after the line.
ChunkLine parseChunkLine(std::string_view d, size_t p, uint64_t max, uint64_t* size, size_t* next,
                         const char** reason) {
  size_t n = d.size();
  if (p >= n) return ChunkLine::kNeedMore;
  if (hexValue(d[p]) < 0) {
    *reason = "Invalid character in chunked length field";
    return ChunkLine::kBad;
  }
  uint64_t v = 0;
  bool big = false;
  size_t q = p;
  for (; q < n && hexValue(d[q]) >= 0; ++q) {
    if (v > max) {
      big = true;
    } else {
      v = v * 16 + static_cast<uint64_t>(hexValue(d[q]));
    }
  }
  if (big || v > max) {
    *reason = "Chunk size too large";
    return ChunkLine::kTooLarge;
  }
  size_t e = q;
  while (e < n && isBlank(d[e])) ++e;
  if (e < n && d[e] == ';') {
    for (; e < n && d[e] != '\r' && d[e] != '\n'; ++e) {
      if (d[e] != '\t' && isControl(static_cast<unsigned char>(d[e]))) {
        *reason = "Invalid character in chunk extension";
        return ChunkLine::kBad;
      }
    }
  }
  if (e >= n || (d[e] == '\r' && e + 1 >= n)) {
    if (n - p > kMaxChunkLine) {
      *reason = "Chunk size line too long";
      return ChunkLine::kBad;
    }
    return ChunkLine::kNeedMore;
  }
  if (d[e] == '\r' && d[e + 1] == '\n') {
    e += 2;
  } else if (d[e] == '\n') {
    e += 1;
  } else {
    *reason = "Invalid character in chunked length field";
    return ChunkLine::kBad;
  }
  *size = v;
  *next = e;
  return ChunkLine::kOk;
}

MessageCheck result(MessageState state, size_t length = 0, const char* reason = "") {
  MessageCheck c;
  c.state = state;
  c.length = length;
  c.reason = reason;
  return c;
}

}  // namespace

size_t bodyOffset(std::string_view msg) {
  for (size_t i = msg.find('\n'); i != std::string_view::npos; i = msg.find('\n', i + 1)) {
    if (i + 1 < msg.size() && msg[i + 1] == '\n') return i + 2;
    if (i + 2 < msg.size() && msg[i + 1] == '\r' && msg[i + 2] == '\n') return i + 3;
  }
  return 0;
}

size_t tolerantBodyOffset(std::string_view msg) {
  size_t n = msg.size();
  for (size_t i = msg.find('\n'); i != std::string_view::npos; i = msg.find('\n', i + 1)) {
    size_t j = i + 1;
    if (j < n && msg[j] == '\r' && (j + 1 >= n || msg[j + 1] != '\n')) return j + 1;
    size_t k = j;
    while (k < n && (msg[k] == ' ' || msg[k] == '\r')) ++k;
    if (k < n && msg[k] == '\n') return k + 1;
  }
  return n;
}

std::string_view headerArea(std::string_view msg) {
  return msg.substr(0, bodyOffset(msg));
}

std::optional<std::string> findHeader(std::string_view msg, std::string_view name, size_t size) {
  std::string_view area = headerArea(msg);
  size_t pos = findFieldValue(area, name);
  if (pos == std::string_view::npos) return std::nullopt;
  return copyValue(area, pos, size, false);
}

std::string headerValue(std::string_view msg, std::string_view name, size_t size) {
  auto v = findHeader(msg, name, size);
  return v ? std::move(*v) : std::string();
}

std::string userAgent(std::string_view msg) {
  return headerValue(msg, "User-agent:", 101);
}

std::string hostHeader(std::string_view msg) {
  std::string_view area = headerArea(msg);
  size_t pos = findFieldValue(area, "Host:");
  return pos == std::string_view::npos ? std::string() : copyValue(area, pos, 101, true);
}

std::string acceptHeader(std::string_view msg, size_t size) {
  std::string_view area = headerArea(msg);
  size_t pos = findFieldValue(area, "Accept:");
  return pos == std::string_view::npos ? std::string() : copyValue(area, pos, size, true);
}

Credentials basicCredentials(std::string_view msg) {
  Credentials c;
  std::string value = headerValue(msg, "Authorization:");
  std::string_view v = platform::trim(value);
  if (!startsWithNoCase(v, "Basic") || (v.size() > 5 && !isBlank(v[5]))) return c;
  v.remove_prefix(5);
  while (!v.empty() && isBlank(v.front())) v.remove_prefix(1);
  std::string decoded = encoding::base64Decode(v.substr(0, 250));
  size_t colon = decoded.find(':');
  if (colon == std::string::npos) {
    c.user = std::move(decoded);
  } else {
    c.user = decoded.substr(0, colon);
    c.password = decoded.substr(colon + 1);
  }
  return c;
}

int responseStatusCode(std::string_view msg) {
  size_t p = 0;
  while (p < msg.size() && isBlank(msg[p])) ++p;
  if (!startsWithNoCase(msg.substr(p), "HTTP/")) return 0;
  while (p < msg.size() && !isBlank(msg[p]) && msg[p] != '\r' && msg[p] != '\n') ++p;
  while (p < msg.size() && msg[p] == ' ') ++p;
  int code = 0;
  size_t digits = 0;
  for (; p < msg.size() && msg[p] >= '0' && msg[p] <= '9' && digits < 9; ++p, ++digits)
    code = code * 10 + (msg[p] - '0');
  return code;
}

uint64_t contentLength(std::string_view msg) {
  std::string_view area = headerArea(msg);
  size_t pos = findFieldValue(area, "Content-Length:");
  if (pos == std::string_view::npos) return 0;
  std::string v = copyValue(area, pos, 64, true);
  if (v.empty() || v.size() > 19 || !platform::isAllDigits(v)) return 0;
  return std::stoull(v);
}

// "HTTP/1.x nnn" followed by a blank and the reason, or by the line end.
MessageCheck MessageScanner::parseStatusLine(std::string_view data) {
  std::string_view line = data.substr(0, data.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  auto digit = [&](size_t i) { return i < line.size() && line[i] >= '0' && line[i] <= '9'; };
  if (!startsWithNoCase(line, "HTTP/") || line.size() < 12 || line[5] != '1' || line[6] != '.' ||
      !digit(7) || line[8] != ' ' || !digit(9) || !digit(10) || !digit(11) ||
      (line.size() > 12 && line[12] != ' '))
    return result(MessageState::kMalformed, 0, "Invalid status line");
  status_ = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  http11_ = line[7] >= '1';
  if (status_ < 100) return result(MessageState::kMalformed, 0, "Invalid status code");
  // We never ask for another protocol, so a switch cannot be followed.
  if (status_ == 101) return result(MessageState::kMalformed, 0, "Unexpected protocol switch");
  no_body_ = interim() || status_ == 204 || status_ == 304 || role_ == MessageRole::kResponseToHead;
  return result(MessageState::kIncomplete);
}

MessageCheck MessageScanner::parseHeader(std::string_view data) {
  std::string_view area = data.substr(0, body_offset_);
  if (isResponse()) {
    MessageCheck line = parseStatusLine(area);
    if (line.state != MessageState::kIncomplete) return line;
    // Framing headers of a bodiless answer describe a body that is not sent.
    if (no_body_) return result(MessageState::kComplete, body_offset_);
  }

  if (auto te = findHeader(area, "Transfer-Encoding:", 1024); te && !platform::trim(*te).empty()) {
    if (findNoCase(*te, "chunked") == std::string_view::npos)
      return result(MessageState::kMalformed, 0, "Unsupported transfer coding");
    chunked_ = true;
  }

  bool have_length = false;
  bool too_large = false;
  for (size_t pos = findFieldValue(area, "Content-Length:"); pos != std::string_view::npos;) {
    std::string v = copyValue(area, pos, 256, false);
    std::string_view t = platform::trim(v);
    if (t.empty() || !platform::isAllDigits(t))
      return result(MessageState::kMalformed, 0, "Invalid Content-Length");
    uint64_t value = 0;
    for (char c : t) {
      if (value > limits_.max_message) break;  // far beyond any limit; stop before overflowing
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (have_length && (value != content_length_ || isResponse()))
      return result(MessageState::kMalformed, 0,
                    value != content_length_ ? "Conflicting Content-Length values"
                                             : "Repeated Content-Length");
    have_length = true;
    content_length_ = value;
    if (value > limits_.max_message) too_large = true;
    size_t eol = area.find('\n', pos);
    pos = eol == std::string_view::npos ? eol : findFieldValue(area, "Content-Length:", eol + 1);
  }
  if (chunked_ && have_length)
    return result(MessageState::kMalformed, 0,
                  "Content-Length together with chunked transfer coding");
  if (too_large || (!chunked_ && body_offset_ + content_length_ > limits_.max_message))
    return result(MessageState::kTooLarge, 0,
                  isResponse() ? "Declared length exceeds MaxHTTPResponseSize"
                               : "Declared length exceeds MaxHTTPRequestSize");
  // Neither length nor chunks: the server ends the body by closing.
  if (isResponse() && !chunked_ && !have_length) until_close_ = true;

  if (auto ex = findHeader(area, "Expect:", 256))
    expect_continue_ = findNoCase(*ex, "100-continue") != std::string::npos;
  return result(MessageState::kIncomplete);
}

MessageCheck MessageScanner::scanChunks(std::string_view data) {
  for (;;) {
    uint64_t size = 0;
    size_t next = 0;
    const char* reason = "";
    switch (parseChunkLine(data, chunk_pos_, limits_.max_message, &size, &next, &reason)) {
      case ChunkLine::kNeedMore:
        return result(MessageState::kIncomplete);
      case ChunkLine::kBad:
        return result(MessageState::kMalformed, 0, reason);
      case ChunkLine::kTooLarge:
        return result(MessageState::kTooLarge, 0, reason);
      case ChunkLine::kOk:
        break;
    }
    if (size == 0) {
      if (isResponse()) return scanTrailer(data, next);
      // Trailer fields are not supported: the last chunk must be followed
      // by the final blank line at once.
      if (data.size() < next + 2) {
        if (data.size() > next && data[next] != '\r')
          return result(MessageState::kMalformed, 0, "Trailer fields are not supported");
        return result(MessageState::kIncomplete);
      }
      if (data[next] == '\r' && data[next + 1] == '\n')
        return result(MessageState::kComplete, next + 2);
      return result(MessageState::kMalformed, 0, "Trailer fields are not supported");
    }
    if (body_offset_ + chunk_data_ + size > limits_.max_message)
      return result(MessageState::kTooLarge, 0,
                    isResponse() ? "Chunked body exceeds MaxHTTPResponseSize"
                                 : "Chunked body exceeds MaxHTTPRequestSize");
    size_t end = next + static_cast<size_t>(size);
    if (data.size() < end + 2) return result(MessageState::kIncomplete);
    if (data[end] != '\r' || data[end + 1] != '\n')
      return result(MessageState::kMalformed, 0, "Invalid length in chunked HTTP request");
    chunk_data_ += size;
    chunk_pos_ = end + 2;
  }
}

// A response's trailer fields (after the last chunk) carry nothing we use;
// they are skipped up to the blank line that ends the message, within the
// header limit.
MessageCheck MessageScanner::scanTrailer(std::string_view data, size_t pos) {
  const size_t start = pos;
  for (;;) {
    size_t eol = data.find('\n', pos);
    if (eol == std::string_view::npos || eol - start > limits_.max_header) {
      if (data.size() - start > limits_.max_header)
        return result(MessageState::kHeaderTooLarge, 0, "Trailer exceeds the header limit");
      return result(MessageState::kIncomplete);
    }
    if (eol == pos || (eol == pos + 1 && data[pos] == '\r'))
      return result(MessageState::kComplete, eol + 1);
    pos = eol + 1;
  }
}

MessageCheck MessageScanner::scan(std::string_view data) {
  if (final_) return *final_;
  MessageCheck r;
  if (body_offset_ == 0) {
    size_t n = data.size();
    // A response must open with "HTTP/": anything else is refused at its
    // first bytes instead of after a header's worth of junk.
    if (isResponse()) {
      constexpr std::string_view kPrefix = "http/";
      for (size_t i = 0; i < std::min(n, kPrefix.size()); ++i) {
        if (platform::asciiLower(data[i]) != kPrefix[i]) {
          final_ = result(MessageState::kMalformed, 0, "Invalid status line");
          return *final_;
        }
      }
    }
    size_t i = data.find('\n', header_scan_);
    for (; i != std::string_view::npos; i = data.find('\n', i + 1)) {
      if (i + 1 >= n || (data[i + 1] == '\r' && i + 2 >= n)) break;  // cannot tell yet
      if (data[i + 1] == '\n') {
        body_offset_ = i + 2;
        break;
      }
      if (data[i + 1] == '\r' && data[i + 2] == '\n') {
        body_offset_ = i + 3;
        break;
      }
    }
    if (body_offset_ == 0) {
      header_scan_ = i == std::string_view::npos ? n : i;
      if (n > limits_.max_header) {
        final_ = result(MessageState::kHeaderTooLarge, 0, "Header area exceeds its limit");
        return *final_;
      }
      if (n > limits_.max_message) {
        final_ = result(MessageState::kTooLarge, 0, tooLargeReason());
        return *final_;
      }
      return result(MessageState::kIncomplete);
    }
    if (body_offset_ > limits_.max_header) {
      final_ = result(MessageState::kHeaderTooLarge, 0, "Header area exceeds its limit");
      return *final_;
    }
    r = parseHeader(data);
    if (r.state != MessageState::kIncomplete) {
      final_ = r;
      return r;
    }
    chunk_pos_ = body_offset_;
  }
  if (chunked_) {
    r = scanChunks(data);
  } else if (!until_close_ && data.size() >= body_offset_ + content_length_) {
    r = result(MessageState::kComplete, body_offset_ + static_cast<size_t>(content_length_));
  }
  if (r.state == MessageState::kIncomplete && data.size() > limits_.max_message)
    r = result(MessageState::kTooLarge, 0, tooLargeReason());
  if (r.state != MessageState::kIncomplete) final_ = r;
  return r;
}

MessageCheck MessageScanner::finishAtClose(std::string_view data) {
  MessageCheck r = scan(data);
  if (r.state != MessageState::kIncomplete) return r;
  if (isResponse() && body_offset_ != 0 && until_close_) {
    final_ = result(MessageState::kComplete, data.size());
    return *final_;
  }
  return r;
}

MessageCheck checkMessage(std::string_view data, const MessageLimits& limits) {
  MessageScanner s(limits);
  return s.scan(data);
}

bool removeChunking(std::string* msg, size_t body_offset) {
  std::string_view d(*msg);
  size_t pos = body_offset;
  size_t out = body_offset;
  for (;;) {
    uint64_t size = 0;
    size_t next = 0;
    const char* reason = "";
    if (parseChunkLine(d, pos, d.size(), &size, &next, &reason) != ChunkLine::kOk) return false;
    if (size == 0) break;
    if (d.size() - next < size + 2) return false;
    size_t end = next + static_cast<size_t>(size);
    if (d[end] != '\r' || d[end + 1] != '\n') return false;
    pos = end + 2;
  }
  // Framing verified: move each chunk's data over its size line.
  pos = body_offset;
  for (;;) {
    uint64_t size = 0;
    size_t next = 0;
    const char* reason = "";
    parseChunkLine(std::string_view(*msg), pos, msg->size(), &size, &next, &reason);
    if (size == 0) break;
    // Forward copy: the destination always starts before the source.
    std::copy(msg->begin() + static_cast<ptrdiff_t>(next),
              msg->begin() + static_cast<ptrdiff_t>(next + size),
              msg->begin() + static_cast<ptrdiff_t>(out));
    out += static_cast<size_t>(size);
    pos = next + static_cast<size_t>(size) + 2;
  }
  msg->resize(out);
  return true;
}

}  // namespace vek::httpwire
