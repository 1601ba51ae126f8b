// Connection: what a request handler knows about the connection its request
// came on, and how it answers. Built by the connection loop for each
// request; the handler may switch keep_alive off (the loop then ends the
// connection after the response).
//
// Every response carries a Content-Length or ends the connection:
// sendResponse() always writes the length; a handler that streams a body of
// unknown length sets keep_alive = false before it builds its header.
//
// Used by the connection's own thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tls/stream.h"

namespace vek::http {

struct Connection {
  explicit Connection(tls::Stream& s) : stream(s) {}

  tls::Stream& stream;
  std::string remote_address;
  uint16_t remote_port = 0;
  bool http11 = false;      // the request said "HTTP/1.1"
  bool keep_alive = false;  // another request may follow this one
  bool browser = false;     // "User-agent:" names Mozilla

  bool secure() const { return stream.secure(); }
  // "HTTP/1.1" or "HTTP/1.0", as the request said.
  const char* protocol() const { return http11 ? "HTTP/1.1" : "HTTP/1.0"; }
  // "Connection: Keep-Alive\r\n" or "Connection: close\r\n".
  const char* connectionLine() const {
    return keep_alive ? "Connection: Keep-Alive\r\n" : "Connection: close\r\n";
  }

  // Sends raw bytes (a response the caller composed whole).
  bool send(std::string_view data);
  // "<protocol> <status>\r\n<connection line><headers>Content-Length: n\r\n\r\n<body>";
  // `headers` are complete lines, each ending in CR LF.
  bool sendResponse(std::string_view status, std::string_view headers, std::string_view body);
};

}  // namespace vek::http
