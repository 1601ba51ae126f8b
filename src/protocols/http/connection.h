// ClientConnection: one outbound HTTP connection (plain, TLS, or TLS through
// a proxy's CONNECT tunnel) together with the endpoint it reaches, so that
// a kept-alive connection is only ever reused for the same server, scheme
// and proxy.
//
// openConnection() resolves and connects within the connect time-out, asks
// a proxy for a tunnel when TLS must pass through it ("CONNECT host:port"
// with a Host header, a 2xx answer within the proxy time-out), and then
// starts TLS with the server's name for SNI and certificate verification
// (on unless the trust settings say otherwise).
//
// A connection is owned by one thread at a time; it may be handed to
// another (the keep-alive pool does) but never used by two at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/status.h"
#include "tls/stream.h"

namespace vek::httpwire {

struct Endpoint {
  bool tls = false;
  std::string host;  // lower case; IPv6 without brackets
  uint16_t port = 80;
  std::string proxy_host;  // empty: direct
  uint16_t proxy_port = 0;

  bool viaProxy() const { return !proxy_host.empty(); }
  // "host:port" (IPv6 in brackets), as CONNECT names the server.
  std::string hostPort() const;
  bool operator==(const Endpoint&) const = default;
};

// "host" or "host:port" (port default 80) into host and port. False for an
// empty host or a port outside 1..65535.
bool parseProxy(std::string_view text, std::string* host, uint16_t* port);

// How the server's certificate is checked.
struct TlsTrust {
  bool verify = true;      // chain and name; off only by configuration
  std::string ca_file;     // extra trusted certificates (PEM), optional
  bool check_name = true;  // off for the gateway's own certificate on 127.0.0.1
};

// `HTTPClientVerifyCert` (section SMSGW, default Yes) and `HTTPClientCAFile`
// (a PEM file of certificates to trust besides the system's).
TlsTrust tlsTrustFromConfiguration();

struct ConnectOptions {
  std::chrono::milliseconds connect_timeout{30000};
  std::chrono::milliseconds proxy_timeout{30000};  // the proxy's answer to CONNECT
  platform::SteadyTime deadline = platform::SteadyTime::max();
  TlsTrust trust;
  std::string bind_address;  // local address to connect from, optional
};

class ClientConnection {
 public:
  ClientConnection() = default;
  ClientConnection(Endpoint endpoint, tls::Stream stream)
      : endpoint_(std::move(endpoint)), stream_(std::move(stream)) {}
  ClientConnection(ClientConnection&&) = default;
  ClientConnection& operator=(ClientConnection&&) = default;

  const Endpoint& endpoint() const { return endpoint_; }
  tls::Stream& stream() { return stream_; }
  bool valid() const { return stream_.valid(); }
  // Still open with nothing unread: the next request may go out on it.
  bool reusable() { return stream_.idleAndOpen(); }
  void close() { stream_.close(); }

 private:
  Endpoint endpoint_;
  tls::Stream stream_;
};

// Connects to the endpoint. Errors, as the debug log and callers show them:
// "DNS Lookup failed for <host>", "HTTP Connection failed for <host>",
// "Proxy Server rejected SSL/TLS connection attempt", "SSL/TLS Error - <why>".
platform::Result<ClientConnection> openConnection(const Endpoint& endpoint,
                                                  const ConnectOptions& options);

}  // namespace vek::httpwire
