#include "protocols/http/client.h"

#include <algorithm>
#include <mutex>

#include "encoding/base64.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "platform/strings.h"
#include "protocols/http/response_reader.h"
#include "protocols/http/url.h"
#include "tls/tls.h"

namespace vek::httpwire {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;
using platform::Result;
using platform::Status;

constexpr std::string_view kTag = "RetrieveURL";
constexpr int kMaxRedirects = 9;
constexpr std::chrono::milliseconds kProxyTimeout{30000};

std::mutex g_handler_mu;
LocalPageHandler g_local_handler;

// The gateway's own web ports and PHP switch, read at each call so that a
// changed configuration applies at once.
struct LocalSite {
  unsigned web_port = 8800;
  unsigned web_port_ssl = 0;
  bool php_enable = false;
};

LocalSite localSite() {
  LocalSite site;
  int32_t web = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", "WebPort"));
  if (web > 0 && web <= 65535) site.web_port = static_cast<unsigned>(web);
  int32_t ssl = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", "WebPortSSL"));
  if (ssl > 0 && ssl <= 65535) site.web_port_ssl = static_cast<unsigned>(ssl);
  site.php_enable = foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", "PHPEnable"));
  return site;
}

bool isLocalHost(std::string_view host) {
  return platform::equalsNoCase(host, "localhost") || host.starts_with("127.") || host == "::1";
}

// "veksmslocal" is the gateway itself. True when the alias applied.
bool applyLocalAlias(Url* url, const LocalSite& site) {
  if (!platform::equalsNoCase(url->host, "veksmslocal")) return false;
  url->host = "127.0.0.1";
  if (!url->port_given) {
    unsigned port = url->https ? site.web_port_ssl : site.web_port;
    url->port = static_cast<uint16_t>(port);
  }
  return true;
}

Endpoint makeEndpoint(const Url& url, const std::string& proxy_host, uint16_t proxy_port) {
  Endpoint ep;
  ep.tls = url.https;
  ep.host = platform::toLower(url.host);
  ep.port = url.port;
  if (!proxy_host.empty() && !isLocalHost(url.host)) {
    ep.proxy_host = proxy_host;
    ep.proxy_port = proxy_port;
  }
  return ep;
}

std::string buildRequest(const Url& url, const Endpoint& ep, bool keep_alive) {
  std::string req = "GET ";
  // A proxy that forwards plain requests needs the absolute form.
  if (ep.viaProxy() && !ep.tls) req += "http://" + url.authority();
  req += url.target;
  req += " HTTP/1.1\r\nUser-Agent: ";
  req += foundation::productBanner();
  req += "\r\nAccept: */*\r\n";
  if (!keep_alive) req += "Connection: close\r\n";
  if (url.has_credentials)
    req += "Authorization: Basic " + encoding::base64Encode(url.user + ":" + url.password) + "\r\n";
  req += "Host: " + url.authority() + "\r\n\r\n";
  return req;
}

bool isOwnPhpPage(const Url& url, const LocalSite& site) {
  if (!site.php_enable) return false;
  if (!platform::equalsNoCase(url.host, "localhost") && !url.host.starts_with("127.0.0."))
    return false;
  if (url.port != site.web_port && (site.web_port_ssl == 0 || url.port != site.web_port_ssl))
    return false;
  std::string_view path = std::string_view(url.target).substr(1);
  return platform::startsWithNoCase(path, "PHP/") || platform::startsWithNoCase(path, "PHP\\");
}

LocalPageHandler localHandler() {
  std::scoped_lock lk(g_handler_mu);
  return g_local_handler;
}

// Serves the gateway's own PHP page in process. False when no handler is
// installed (the request then goes over the network like any other).
bool fetchOwnPage(const Url& url, const LocalPageHandler& handler, const ResponseWaitOptions& wait,
                  Response* out, std::string* error) {
  std::string request = "GET " + url.target + " HTTP/1.1\r\nHost: " + url.authority() +
                        "\r\nAccept: */*\r\nUser-Agent: VekSMS\r\nConnection: Close\r\n\r\n";
  std::string answer;
  if (!handler(request, &answer)) {
    *error = "Local page request failed";
    return false;
  }
  MemoryTransport transport(answer);
  return HttpResponseWait(transport, wait, out, error) == ResponseStatus::kOk;
}

// Sends `request` on the slot's connection when it reaches the endpoint and
// is still quiet, otherwise on a new one. A kept connection that the server
// closed meanwhile (no answer byte at all) is replaced once: the request is
// a GET, sending it again is safe.
Status exchange(const Endpoint& ep, const std::string& request, const ConnectOptions& connect,
                const ResponseWaitOptions& wait, KeepAliveSlot& slot, Response* out, bool* reused) {
  bool reuse = false;
  if (slot.connection.valid()) {
    if (slot.connection.endpoint() == ep && slot.connection.reusable()) {
      DebugLog(kTag, "Using keep-alive socket");
      reuse = true;
    } else {
      if (slot.connection.endpoint() == ep)
        DebugLog(kTag, "Keep-alive socket failed, opening new connection");
      slot.close();
    }
  }
  for (;;) {
    if (!reuse) {
      auto c = openConnection(ep, connect);
      if (!c.ok()) return c.status();
      slot.connection = std::move(c.value());
    }
    std::string why;
    ResponseStatus rs = ResponseStatus::kNoResponse;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wait.deadline -
                                                                      platform::monotonicNow());
    int write_ms = static_cast<int>(std::clamp<int64_t>(
        std::min(left, std::chrono::milliseconds(wait.read_timeout)).count(), 0, 1 << 30));
    if (slot.connection.stream().writeAll(request, write_ms) != platform::IoStatus::kOk) {
      why = "Sending the request failed";
    } else {
      StreamTransport transport(slot.connection.stream());
      rs = HttpResponseWait(transport, wait, out, &why);
    }
    if (rs == ResponseStatus::kOk) {
      *reused = reuse;
      return Status::success();
    }
    slot.close();
    if (reuse && rs == ResponseStatus::kNoResponse) {
      DebugLog(kTag, "Keep-alive failed, opening new connection");
      reuse = false;
      continue;
    }
    DebugLog(kTag, "HTTP timeout error or invalid server response");
    return Status::error(why);
  }
}

bool sameOrigin(const Url& a, const Url& b) {
  return platform::equalsNoCase(a.host, b.host) && a.port == b.port;
}

RetrieveResult failed(RetrieveResult r, std::string text) {
  DebugLog(kTag, text);
  r.ok = false;
  r.error = std::move(text);
  return r;
}

}  // namespace

void setLocalPageHandler(LocalPageHandler handler) {
  std::scoped_lock lk(g_handler_mu);
  g_local_handler = std::move(handler);
}

Result<Endpoint> endpointForUrl(std::string_view url_text, const std::string& proxy) {
  auto url = parseUrl(url_text);
  if (!url.ok()) return url.status();
  applyLocalAlias(&url.value(), localSite());
  std::string proxy_host;
  uint16_t proxy_port = 0;
  if (!proxy.empty() && !parseProxy(proxy, &proxy_host, &proxy_port))
    return Status::error("Invalid proxy " + proxy);
  return makeEndpoint(*url, proxy_host, proxy_port);
}

RetrieveResult RetrieveURL(std::string_view url_text, const RetrieveOptions& options,
                           KeepAliveSlot* caller_slot) {
  RetrieveResult r;
  const auto start = platform::monotonicNow();
  auto total = options.total_timeout.count() > 0
                   ? options.total_timeout
                   : options.connect_timeout +
                         2 * std::chrono::duration_cast<std::chrono::milliseconds>(options.timeout);
  const auto deadline = start + total;
  KeepAliveSlot own_slot;
  KeepAliveSlot& slot = caller_slot ? *caller_slot : own_slot;
  const bool keep_alive = caller_slot != nullptr;

  std::string proxy_host;
  uint16_t proxy_port = 0;
  if (!options.proxy.empty() && !parseProxy(options.proxy, &proxy_host, &proxy_port))
    return failed(std::move(r), "Invalid proxy " + options.proxy);

  auto parsed = parseUrl(url_text);
  if (!parsed.ok()) return failed(std::move(r), parsed.status().message());
  Url url = std::move(parsed.value());
  DebugLogf(kTag, "Retrieving %s", url.text().c_str());

  const LocalSite site = localSite();
  const TlsTrust configured_trust = options.trust ? *options.trust : tlsTrustFromConfiguration();
  ResponseWaitOptions wait;
  wait.limits.max_message =
      options.max_response ? *options.max_response : maxResponseSizeFromConfiguration();
  wait.read_timeout = options.timeout;
  wait.deadline = deadline;

  for (int hop = 0;; ++hop) {
    const bool local_alias = applyLocalAlias(&url, site);
    if (url.port == 0) return failed(std::move(r), "No web port configured for " + url.text());
    if (url.https && !tls::sslInitLib())
      return failed(std::move(r), "SSL/TLS is not available for " + url.text());

    Response resp;
    bool reused = false;
    LocalPageHandler handler = isOwnPhpPage(url, site) ? localHandler() : nullptr;
    if (handler) {
      std::string why;
      if (!fetchOwnPage(url, handler, wait, &resp, &why)) return failed(std::move(r), why);
    } else {
      Endpoint ep = makeEndpoint(url, proxy_host, proxy_port);
      ConnectOptions connect;
      connect.connect_timeout = options.connect_timeout;
      connect.proxy_timeout = kProxyTimeout;
      connect.deadline = deadline;
      connect.trust = configured_trust;
      if (local_alias && url.https) {
        // Our own listener: its certificate is the one to trust, whatever
        // name it carries.
        connect.trust.ca_file = tls::sslServerCertPath();
        connect.trust.check_name = false;
      }
      Status s =
          exchange(ep, buildRequest(url, ep, keep_alive), connect, wait, slot, &resp, &reused);
      if (!s.ok()) return failed(std::move(r), s.message());
      if (keep_alive && resp.connectionReusable()) {
        DebugLog(kTag, "Saving keep-alive socket");
      } else {
        slot.close();
      }
    }

    r.status = resp.status;
    int kind = resp.status / 100;
    if (kind == 3) {
      auto location = findHeader(resp.header(), "Location:");
      if (location && !platform::trim(*location).empty()) {
        DebugLog(kTag, "got redirection response");
        if (hop == kMaxRedirects)
          return failed(std::move(r),
                        platform::format("Too many redirects (more than %d)", kMaxRedirects));
        auto next = resolveReference(url, *location);
        if (!next.ok())
          return failed(std::move(r), "Invalid redirect location: " + next.status().message());
        if (url.has_credentials && !next->has_credentials) {
          if (sameOrigin(url, *next) && !(url.https && !next->https)) {
            DebugLog(kTag, "Re-using Authorization header on redirect request");
            next->has_credentials = true;
            next->user = url.user;
            next->password = url.password;
          } else {
            DebugLogf(kTag, "Old Host: %s", url.authority().c_str());
            DebugLogf(kTag, "New Host: %s", next->authority().c_str());
          }
        }
        url = std::move(next.value());
        ++r.redirects;
        DebugLogf(kTag, "Retrieving %s", url.text().c_str());
        continue;
      }
    }

    r.header_length = resp.body_offset;
    r.body_length = resp.message.size() - resp.body_offset;
    r.content_type = headerValue(resp.header(), "Content-Type:", 101);
    r.final_url = url.text();
    r.reused_connection = reused;
    r.response = std::move(resp.message);
    if (kind == 2) {
      DebugLog(kTag, "got success response");
    } else if (options.accept_error_status) {
      DebugLog(kTag, "got http error response");
    } else {
      return failed(std::move(r), "HTTP Response Error Code " + std::to_string(r.status));
    }
    r.ok = true;
    return r;
  }
}

}  // namespace vek::httpwire
