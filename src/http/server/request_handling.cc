#include "http/server/request_handling.h"

#include "foundation/debug_log.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "http/server/address_rules.h"
#include "http/server/dispatch.h"
#include "http/server/listeners.h"
#include "http/server/responses.h"
#include "platform/strings.h"
#include "protocols/http/message.h"

namespace vek::http {
namespace {

using foundation::DebugLogf;

const char* tagOf(const Connection& conn) {
  return conn.secure() ? "ThreadProcessSSLConnection" : "ThreadProcessConnection";
}

// The TLS port when plain requests may be sent there: TLS is available and
// a TLS port is configured. 0 otherwise.
unsigned redirectPort(const Connection& conn) {
  if (conn.secure()) return 0;
  auto facts = foundation::startupFacts();
  if (!facts.tls_available && !facts.server_certificate) return 0;
  return configuredWebPortSsl();
}

void describe(Connection& conn, const Request& req) {
  auto settings = foundation::settings();
  conn.http11 = platform::equalsNoCase(req.protocol().substr(0, 8), "HTTP/1.1");
  conn.keep_alive = settings->EnableKeepAlive && conn.http11 &&
                    !platform::equalsNoCase(platform::trim(req.header("Connection:")), "close");
}

// The redirect to TLS, the browser mark and address admission. True when
// the request has been answered here.
bool answeredBeforeDispatch(Connection& conn, const Request& req) {
  if (unsigned tls_port = redirectPort(conn); tls_port != 0) {
    std::string host = httpwire::hostHeader(req.headers());
    if (platform::startsWithNoCase(req.target(), "/ADMIN") && !host.empty()) {
      conn.send(redirectResponse(conn, host, tls_port, "/ADMIN"));
      return true;
    }
    if (foundation::settings()->SSLRedirect) {
      conn.send(host.empty()
                    ? forbiddenResponse(conn, "ERROR:  SSL must be used to access this server")
                    : redirectResponse(conn, host, tls_port, "/"));
      return true;
    }
  }
  conn.browser = httpwire::userAgent(req.headers()).find("Mozilla") != std::string::npos;
  if (!addressAdmitted(conn.remote_address)) {
    DebugLogf(tagOf(conn), "Connection not allowed from %s...", conn.remote_address.c_str());
    conn.send(forbiddenResponse(
        conn, "ERROR:  Connection not allowed from " + conn.remote_address + "."));
    return true;
  }
  return false;
}

}  // namespace

void serveRequest(Connection& conn, const Request& request) {
  describe(conn, request);
  if (!answeredBeforeDispatch(conn, request)) DispatchRequest(conn, request);
}

Verdict checkRequestHead(Connection& conn, const Request& head) {
  describe(conn, head);
  // The body stays unread: whatever answers now ends the connection.
  conn.keep_alive = false;
  if (answeredBeforeDispatch(conn, head)) return Verdict::kAnswered;
  return PreauthorizeRequest(conn, head);
}

}  // namespace vek::http
