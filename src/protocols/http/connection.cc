#include "protocols/http/connection.h"

#include <algorithm>
#include <cerrno>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "protocols/http/response_reader.h"

namespace vek::httpwire {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;
using platform::Result;
using platform::Status;

constexpr std::string_view kTag = "RetrieveURL";

std::chrono::milliseconds until(platform::SteadyTime deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - platform::monotonicNow());
  return std::max(left, std::chrono::milliseconds(0));
}

int boundedMs(std::chrono::milliseconds limit, platform::SteadyTime deadline) {
  return static_cast<int>(
      std::clamp<int64_t>(std::min(limit, until(deadline)).count(), 0, 1 << 30));
}

Status failure(std::string text) {
  DebugLog(kTag, text);
  return Status::error(std::move(text));
}

// Asks the proxy for a tunnel to the server. The proxy's answer to CONNECT
// has no body; bytes after it would belong to the tunnel before we spoke,
// which no server does, so they are refused too.
Status openTunnel(tls::Stream& stream, const Endpoint& endpoint, const ConnectOptions& options) {
  std::string target = endpoint.hostPort();
  std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
  int limit_ms = boundedMs(options.proxy_timeout, options.deadline);
  if (stream.writeAll(request, limit_ms) != platform::IoStatus::kOk)
    return failure("Proxy Server rejected SSL/TLS connection attempt");
  StreamTransport transport(stream);
  ResponseWaitOptions wait;
  wait.head_request = true;
  wait.limits.max_message = 64u << 10;
  wait.read_timeout = std::chrono::milliseconds(limit_ms);
  wait.deadline = std::min(options.deadline, platform::monotonicNow() + options.proxy_timeout);
  Response answer;
  std::string why;
  ResponseStatus rs = HttpResponseWait(transport, wait, &answer, &why);
  if (rs != ResponseStatus::kOk || answer.status < 200 || answer.status > 299 ||
      answer.surplus != 0 || answer.peer_closed) {
    if (rs == ResponseStatus::kOk) DebugLogf(kTag, "Proxy answered CONNECT with %d", answer.status);
    return failure("Proxy Server rejected SSL/TLS connection attempt");
  }
  return Status::success();
}

}  // namespace

std::string Endpoint::hostPort() const {
  std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return h + ":" + std::to_string(port);
}

bool parseProxy(std::string_view text, std::string* host, uint16_t* port) {
  text = platform::trim(text);
  std::string_view h = text;
  std::string_view p;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    h = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    if (!rest.empty()) p = rest.substr(1);
  } else if (size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
  }
  if (h.empty()) return false;
  for (unsigned char c : h)
    if (c <= ' ' || c == 0x7f || c == '/' || c == '@') return false;
  *host = platform::toLower(h);
  *port = 80;
  if (!p.empty()) {
    if (p.size() > 5 || !platform::isAllDigits(p)) return false;
    int v = std::stoi(std::string(p));
    if (v < 1 || v > 65535) return false;
    *port = static_cast<uint16_t>(v);
  }
  return true;
}

TlsTrust tlsTrustFromConfiguration() {
  TlsTrust trust;
  std::string verify = hostlib::SMSIniGetProfileString("SMSGW", "HTTPClientVerifyCert");
  if (!platform::trim(verify).empty()) trust.verify = foundation::yesNo(verify);
  trust.ca_file =
      std::string(platform::trim(hostlib::SMSIniGetProfileString("SMSGW", "HTTPClientCAFile")));
  return trust;
}

Result<ClientConnection> openConnection(const Endpoint& endpoint, const ConnectOptions& options) {
  const std::string& host = endpoint.viaProxy() ? endpoint.proxy_host : endpoint.host;
  uint16_t port = endpoint.viaProxy() ? endpoint.proxy_port : endpoint.port;
  if (!platform::isIpLiteral(host)) DebugLogf(kTag, "Looking up %s", host.c_str());
  auto fd = platform::connectTcp(host, port, boundedMs(options.connect_timeout, options.deadline),
                                 options.bind_address);
  if (!fd.ok()) {
    DebugLog(kTag, fd.status().message());
    bool dns = fd.status().message().starts_with("resolve ");
    return failure((dns ? "DNS Lookup failed for " : "HTTP Connection failed for ") + host);
  }
  platform::setNoDelay(fd->get());
  tls::Stream stream(std::move(fd.value()));
  if (!endpoint.tls) return ClientConnection(endpoint, std::move(stream));

  if (endpoint.viaProxy()) {
    if (Status s = openTunnel(stream, endpoint, options); !s.ok()) return s;
  }
  DebugLog(kTag, "Using SSL");
  tls::ClientOptions tls_options;
  tls_options.server_name = endpoint.host;
  tls_options.verify = options.trust.verify;
  tls_options.check_name = options.trust.check_name;
  tls_options.ca_file = options.trust.ca_file;
  tls_options.handshake_timeout_ms = boundedMs(options.connect_timeout, options.deadline);
  std::string why;
  platform::UniqueFd raw(stream.releaseFd());
  tls::TlsSession* session = tls::sslInitSession(raw.get(), &why, tls_options);
  if (!session) return failure("SSL/TLS Error - " + (why.empty() ? std::string("handshake") : why));
  return ClientConnection(endpoint, tls::Stream(std::move(raw), tls::SessionPtr(session)));
}

}  // namespace vek::httpwire
