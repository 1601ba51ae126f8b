// The request dispatcher: the one entry point between the connection loop
// and the request handlers. It answers every request completely (a
// response with a Content-Length, or keep_alive switched off) and may
// switch keep-alive off. Called on the connection's thread.
#pragma once

#include "http/connection.h"
#include "http/request.h"

namespace vek::http {

void DispatchRequest(Connection& conn, const Request& request);

}  // namespace vek::http
