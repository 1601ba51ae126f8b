// The send path of the submission interface: a request with `Phone`,
// `PhoneNumber` or `ReceiptMessageId` becomes request files in the queue
// (or an inbound message or receipt), and the client gets the result page.
//
//   1. recipients (distribution lists expanded)      recipients.h
//   2. parameters                                    send_params.h
//   3. checks, in order, each answering the error page with its text:
//      a control character in a one-line parameter, a bad DelayUntil, an
//      unknown ReceiptMessageId, no recipient, an unknown SMSCRoute, a bad
//      UDH, binary content that is not hexadecimal
//   4. content families: they come with WAP and MMS; until then a request
//      naming one ("WAPURL", "MMSText", "RingToneDataText", ...) is refused
//      with "Unsupported message content: <parameter>"
//   5. encoding and segmentation                     sms_content.h
//   6. quota and accounting pre-authorisation (authenticated users):
//      refused with "403 Forbidden" (200 to a browser)
//   7. queueing, logs, accounting reports, counters  submission.h
//   8. the result page, or "500" naming the recipients whose files could
//      not be written                                 submit_page.h
//
// Runs on the connection's thread.
#pragma once

#include <string_view>

#include "http/connection.h"
#include "http/request.h"
#include "http/request_context.h"

namespace vek::http {

void handleSendRequest(Connection& conn, const Request& request, const RequestContext& ctx);

// A route name a request may give: a link name (`Modem%u` value) or a
// link's `RouteName`, ignoring case.
bool isKnownRoute(std::string_view route);

}  // namespace vek::http
