// The request dispatcher: the one entry point between the connection loop
// and the request handlers. It answers every request completely (a
// response with a Content-Length, or keep_alive switched off) and may
// switch keep-alive off. Called on the connection's thread.
//
// The server declares it and the web front end defines it
// (http/web/dispatch.cc), so the server never includes the web front end:
// web/ uses server/, not the other way round.
//
// Order (paths compared at their start, ignoring case):
//   1 "/ADMIN"      keep-alive off; the administration pages
//   2 "/PROVISION"  keep-alive off; account provisioning
//   3 "/PHP/"       with PHPEnable: the PHP bridge
//   4               authentication (web/web_auth.h): a refusal answers 401
//   5 "/INBOX"      for an authenticated user, keep-alive off: the web inbox
//   6 "/PAP", "/PPG"  the Push Access Protocol
//   7 "/DLists", "/AddrBook"  distribution lists and address book
//   8 multipart/form-data: unpacked into plain parameters first
//   9 `Phone`, `PhoneNumber` or `ReceiptMessageId`: the send path
//  10 WebMenu on: a menu page or file
//  11 otherwise the error page "Unknown request"
// The administration, provisioning, PHP, inbox and push handlers are not
// part of this server yet: those paths answer the error page.
#pragma once

#include "http/server/connection.h"
#include "http/server/connection_machine.h"
#include "http/server/request.h"

namespace vek::http {

void DispatchRequest(Connection& conn, const Request& request);

// Who sent a request whose body may be large, from its head alone (the
// request line and headers; the body is empty and unread): kFullBody when
// the body may be read up to the request limit (valid credentials in the
// head, or none needed), kSmallBody when the head carries no credentials
// (the body may still carry them, within the unauthenticated allowance),
// kAnswered when the credentials failed and the answer went out through
// `conn` (keep_alive is off: the connection ends after it). Defined by the
// web front end, like DispatchRequest.
Verdict PreauthorizeRequest(Connection& conn, const Request& head);

}  // namespace vek::http
