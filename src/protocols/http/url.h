// Url: an "http" or "https" URL taken apart the way the outbound HTTP client
// needs it, and the resolution of a redirect's Location against the URL it
// came from (RFC 3986, section 5: relative references and dot segments).
//
// Parsing is strict about what ends up on the wire: a URL holding a byte at
// or below the space (or DEL) is refused, so that no caller's value can add
// a line to the request; the user name and password are looked for only
// inside the authority (an '@' in the path or the query is just a
// character); the host must be a name, a dotted address or a bracketed IPv6
// address.
//
// Pure functions on values; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::httpwire {

struct Url {
  bool https = false;
  bool has_credentials = false;
  std::string user;      // percent-decoded
  std::string password;  // percent-decoded
  std::string host;      // as written; an IPv6 address without its brackets
  uint16_t port = 80;
  bool port_given = false;
  // Path and query, always starting with '/', without the fragment. Bytes
  // above 0x7E are percent-encoded.
  std::string target;

  uint16_t defaultPort() const { return https ? 443 : 80; }
  // "host" or "host:port" (the port only when it is not the scheme's
  // default); IPv6 addresses in brackets. The value of the Host header.
  std::string authority() const;
  // "http://host[:port]/target" without the credentials (logs, proxies).
  std::string text() const;
};

// Parses `text` after removing blanks at both ends. A text that does not
// start with a scheme ("letters://") is taken as "http://" + text. The
// path starts at the first '/' after the authority; a '\' in its place
// starts it too (it becomes '/'). Errors: "Unsupported URL scheme",
// "Invalid character in URL", "Invalid host name", "Invalid port".
platform::Result<Url> parseUrl(std::string_view text);

// The URL that `reference` (a Location value) names when read relative to
// `base`: absolute http/https URLs, "//host/path", "/path", "path",
// "?query" and "" as RFC 3986 resolves them. The result carries no
// credentials unless the reference itself has them; carrying the base's
// along is the caller's decision. Other schemes are refused.
platform::Result<Url> resolveReference(const Url& base, std::string_view reference);

// RFC 3986 section 5.2.4: "/a/b/../c/./d" -> "/a/c/d".
std::string removeDotSegments(std::string_view path);

}  // namespace vek::httpwire
