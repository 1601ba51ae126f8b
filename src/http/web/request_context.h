// What the dispatcher knows about a request by the time a handler runs:
// the web settings read for it, the authenticated user, and the temporary
// files an unpacked multipart form left (removed when the request ends).
// A plain value owned by the connection thread.
#pragma once

#include <string>
#include <vector>

#include "http/web/send_params.h"
#include "http/web/web_auth.h"

namespace vek::http {

struct RequestContext {
  WebSettings settings;
  WebUser user;
  std::vector<std::string> uploads;  // temporary files of uploaded form parts
};

}  // namespace vek::http
