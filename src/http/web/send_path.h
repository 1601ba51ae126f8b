// The send path of the submission interface: a request with `Phone`,
// `PhoneNumber` or `ReceiptMessageId` is mapped onto a submit::Message,
// which the submission layer turns into request files in the queue (or an
// inbound message or receipt); the client gets the result page.
//
//   1. recipients (distribution lists expanded)      submit/recipients.h
//   2. parameters onto the message                   send_params.h
//   3. checks, in order, each answering the error page with its text:
//      too many recipients, a control character in a one-line parameter,
//      a bad DelayUntil, an unknown ReceiptMessageId, then the message's
//      own checks (submit/validation.h: no recipient, an unknown
//      SMSCRoute, a bad UDH, binary content that is not hexadecimal)
//   4. content families: they come with WAP and MMS; until then a request
//      naming one ("WAPURL", "MMSText", "RingToneDataText", ...) is refused
//      with "Unsupported message content: <parameter>"
//   5. submit::submitMessage: encoding and segmentation, quota and
//      accounting (refused with "403 Forbidden", 200 to a browser),
//      queueing, logs, accounting reports, counters; the web log and the
//      result lines as each file is written
//   6. the result page, or "500" naming the recipients whose files could
//      not be written                                 submit_page.h
//
// Runs on the connection's thread.
#pragma once

#include "http/server/connection.h"
#include "http/server/request.h"
#include "http/web/request_context.h"

namespace vek::http {

void handleSendRequest(Connection& conn, const Request& request, const RequestContext& ctx);

}  // namespace vek::http
