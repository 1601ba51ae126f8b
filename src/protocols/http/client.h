// RetrieveURL: the gateway's one outbound HTTP GET client (debug log tag
// "RetrieveURL"), shared by accounting callbacks, two-way web commands, MMS
// retrieval and content given as URLs.
//
// What it does with a URL:
// - "user:password@" in the authority becomes Basic authorization;
// - the host "veksmslocal" is the gateway itself (127.0.0.1 on `WebPort`,
//   `WebPortSSL` for https, unless the URL names a port);
// - requests for the gateway's own PHP pages are answered in process when
//   a local page handler is installed and `PHPEnable` is on;
// - an optional proxy (never for 127.0.0.x and localhost): plain requests
//   go to it in absolute form, https goes through a CONNECT tunnel;
// - https is TLS with SNI and certificate verification, or a failure when
//   TLS is unavailable: never a silent fall back to plain http;
// - redirects (3xx with Location) are followed at most 9 times, relative
//   locations resolved against the current URL; the credentials go along
//   only to the same host and port and never from https to http;
// - the status judgement: 2xx is success, other statuses fail unless the
//   caller accepts them ("HTTP Response Error Code <n>").
//
// Keep-alive: a caller that passes a KeepAliveSlot keeps its connection
// between calls. The slot is used again only for the same endpoint and
// only while the connection is open and quiet; a kept connection that
// fails before any answer byte is replaced by a new one once. A connection
// is kept only after an HTTP/1.1 answer framed by length or chunks, with
// no "Connection: close" and nothing after it.
//
// Time limits: connecting (`connect_timeout`), each wait for the next
// response byte (`timeout`), and the whole call, redirects included
// (`total_timeout`). Response size: `MaxHTTPResponseSize` (16 MB).
//
// Each call runs on its caller's thread; a slot belongs to one thread at a
// time. The local page handler is installed once at start-up.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocols/http/connection.h"

namespace vek::httpwire {

struct RetrieveOptions {
  std::string proxy;  // "host[:port]" (port default 80); empty: direct
  bool accept_error_status = false;
  std::chrono::seconds timeout{60};  // longest wait for the next response byte
  std::chrono::milliseconds connect_timeout{30000};
  // The whole call; zero: connect_timeout + 2 x timeout.
  std::chrono::milliseconds total_timeout{0};
  std::optional<size_t> max_response;  // default: MaxHTTPResponseSize
  std::optional<TlsTrust> trust;       // default: HTTPClientVerifyCert, HTTPClientCAFile
};

struct RetrieveResult {
  bool ok = false;
  std::string error;     // why it failed
  std::string response;  // status line, headers, blank line, body
  size_t header_length = 0;
  size_t body_length = 0;
  int status = 0;                  // 0 when no answer arrived
  std::string content_type;        // "Content-Type:" value, at most 100 characters
  std::string final_url;           // the URL that answered, without credentials
  int redirects = 0;               // redirects followed
  bool reused_connection = false;  // the last answer came over a kept connection

  std::string_view header() const { return std::string_view(response).substr(0, header_length); }
  std::string_view body() const { return std::string_view(response).substr(header_length); }
};

// A caller's kept-alive connection (empty until a call fills it).
struct KeepAliveSlot {
  ClientConnection connection;
  bool empty() const { return !connection.valid(); }
  void close() { connection.close(); }
};

RetrieveResult RetrieveURL(std::string_view url, const RetrieveOptions& options = {},
                           KeepAliveSlot* slot = nullptr);

// The gateway's own PHP pages without a network round trip: given the
// request text, fills in a complete response; false when it cannot.
using LocalPageHandler = std::function<bool(const std::string& request, std::string* response)>;
void setLocalPageHandler(LocalPageHandler handler);

// The endpoint a URL is fetched from with the given proxy (after the local
// alias and the no-proxy rule for local hosts), for keep-alive pools.
platform::Result<Endpoint> endpointForUrl(std::string_view url, const std::string& proxy);

}  // namespace vek::httpwire
