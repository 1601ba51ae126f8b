// Serving one request that has arrived whole, and checking the head of one
// whose large body has not: the steps before dispatch (keep-alive, the
// redirect to TLS, the browser mark, address admission) and then the
// dispatcher or the head check of the web front end. Runs on a worker
// thread; the event loop has done the reading.
//
// Keep-alive for a request starts as `EnableKeepAlive` and is off unless the
// request says "HTTP/1.1" and no "Connection: close".
#pragma once

#include "http/server/connection.h"
#include "http/server/connection_machine.h"
#include "http/server/request.h"

namespace vek::http {

// Fills conn's protocol, keep-alive and browser fields from `request`,
// answers the redirect to TLS and address refusals itself, and hands every
// other request to DispatchRequest.
void serveRequest(Connection& conn, const Request& request);

// The same steps for a head whose body has not been read: a request the
// steps above answer, or that PreauthorizeRequest answers, ends the
// connection after its answer (kAnswered, keep-alive off).
Verdict checkRequestHead(Connection& conn, const Request& head);

}  // namespace vek::http
