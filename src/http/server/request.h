// Request: one complete HTTP request as the request reader returns it. The
// message holds the request line, the header lines, the blank line and the
// body, with chunk framing already removed (the "Transfer-Encoding:" header
// stays as received). Plain value; owned by the connection thread.
#pragma once

#include <string>
#include <string_view>

#include "protocols/http/message.h"

namespace vek::http {

struct Request {
  std::string message;
  size_t body_offset = 0;

  std::string_view view() const { return message; }
  // Up to the first line break.
  std::string_view requestLine() const;
  // The words of the request line: "GET", "/path?query", "HTTP/1.1".
  std::string_view method() const;
  std::string_view target() const;
  std::string_view protocol() const;
  // The target without its query.
  std::string_view path() const;
  std::string_view headers() const { return std::string_view(message).substr(0, body_offset); }
  std::string_view body() const { return std::string_view(message).substr(body_offset); }
  // Header value by name with its colon ("Host:"); "" when absent.
  std::string header(std::string_view name, size_t size = 4096) const {
    return httpwire::headerValue(headers(), name, size);
  }
};

}  // namespace vek::http
