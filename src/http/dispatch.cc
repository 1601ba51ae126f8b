#include "http/dispatch.h"

#include "foundation/debug_log.h"
#include "http/responses.h"

namespace vek::http {

void DispatchRequest(Connection& conn, const Request& request) {
  (void)request;
  foundation::DebugLog("ThreadProcessConnection",
                       "No valid parameters specified, menu not enabled");
  conn.send(errorPageResponse(conn, "Unknown request"));
}

}  // namespace vek::http
