// The complete responses the HTTP server composes itself: the error page of
// the request handlers, the 403 refusals, the redirect to TLS and the
// status pages for refused requests. Each carries a Content-Length.
// Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "http/server/connection.h"

namespace vek::http {

// Lines that keep browsers and proxies from caching a generated page
// (without the final line end).
inline constexpr std::string_view kNoCacheLines =
    "Expires: Tue, 01 Jan 1980 1:00:00 GMT\r\nCache-Control: no-cache";

// The "Invalid Parameter" error page with `text` (HTML-escaped) as its
// message: "200 OK" for a browser, "400 Bad Request" otherwise.
std::string errorPageResponse(const Connection& conn, std::string_view text);

// "403 Forbidden" with the title "Connection not allowed" and `error_line`
// ("ERROR:  ..." without its line end) in the body.
std::string forbiddenResponse(const Connection& conn, std::string_view error_line);

// "302 Redirect" to https://<host>[:<tls_port>]<path>; the port is left out
// for 443. `host` is the "Host:" value; a port in it is dropped.
std::string redirectResponse(const Connection& conn, std::string_view host, unsigned tls_port,
                             std::string_view path);

// A refusal that ends the connection (400, 413, 431, 503): a small page
// with "Connection: close"; `headers` (complete lines) are added to its head.
std::string closingStatusResponse(std::string_view status, std::string_view text,
                                  std::string_view headers = {});

}  // namespace vek::http
