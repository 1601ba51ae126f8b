#include "http/server/dispatch.h"

#include "foundation/debug_log.h"
#include "http/server/form_data.h"
#include "http/server/param_lookup.h"
#include "http/server/responses.h"
#include "http/web/dist_lists.h"
#include "http/web/menu_pages.h"
#include "http/web/request_context.h"
#include "http/web/send_path.h"
#include "http/web/web_auth.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

constexpr const char* kTag = "ThreadProcessConnection";

bool pathIs(const Request& request, std::string_view prefix) {
  return platform::startsWithNoCase(request.path(), prefix);
}

void notAvailable(Connection& conn, const Request& request) {
  foundation::DebugLogf(kTag, "No handler for %.*s", static_cast<int>(request.path().size()),
                        request.path().data());
  conn.send(errorPageResponse(conn, "Unknown request"));
}

bool hasSendParameters(std::string_view msg) {
  const ParamLookup params(msg);
  return params.get("Phone", 2).has_value() || params.get("PhoneNumber", 2).has_value() ||
         params.get("ReceiptMessageId", 2).has_value();
}

// "401": at once when no user was named, else held back by the failed-login
// delay.
void refuseLogin(Connection& conn, const AuthResult& auth) {
  std::string answer = authorizationRequiredResponse(conn, authenticationRealm());
  if (auth.delay.count() > 0) {
    conn.answerAfter(auth.delay, std::move(answer));
  } else {
    conn.send(answer);
  }
}

// Removes the temporary files of an unpacked form when the request ends.
struct UploadCleanup {
  std::vector<std::string>* files;
  ~UploadCleanup() {
    for (const std::string& f : *files) (void)platform::removeFile(f);
  }
};

void dispatchAuthenticated(Connection& conn, const Request& request, RequestContext& ctx) {
  if (pathIs(request, "/INBOX") && !ctx.user.anonymous()) {
    conn.keep_alive = false;
    notAvailable(conn, request);
    return;
  }
  if (pathIs(request, "/PAP") || pathIs(request, "/PPG")) {
    notAvailable(conn, request);
    return;
  }
  if (pathIs(request, "/DLists") || pathIs(request, "/AddrBook")) {
    handleListRequest(conn, request, ctx);
    return;
  }
  UploadCleanup cleanup{&ctx.uploads};
  Request unpacked;
  const Request* req = &request;
  if (isMultipartForm(request)) {
    auto form = unpackMultipartForm(request, &ctx.uploads);
    if (!form.ok()) {
      foundation::DebugLog(kTag, form.status().message());
      conn.send(errorPageResponse(conn, "Invalid multipart form data"));
      return;
    }
    unpacked = std::move(*form);
    req = &unpacked;
  }
  if (hasSendParameters(req->view())) {
    handleSendRequest(conn, *req, ctx);
    return;
  }
  if (ctx.settings.web_menu) {
    serveMenuPage(conn, *req, ctx);
    return;
  }
  foundation::DebugLog(kTag, "No valid parameters specified, menu not enabled");
  conn.send(errorPageResponse(conn, "Unknown request"));
}

}  // namespace

void DispatchRequest(Connection& conn, const Request& request) {
  if (pathIs(request, "/ADMIN") || pathIs(request, "/PROVISION")) {
    conn.keep_alive = false;
    notAvailable(conn, request);
    return;
  }
  RequestContext ctx;
  ctx.settings = readWebSettings();
  if (ctx.settings.php_enable && pathIs(request, "/PHP/")) {
    notAvailable(conn, request);
    return;
  }
  AuthResult auth = authenticateWebRequest(conn, request, ctx.settings.web_auth);
  if (!auth.accepted) {
    refuseLogin(conn, auth);
    return;
  }
  ctx.user = std::move(auth.user);
  dispatchAuthenticated(conn, request, ctx);
}

Verdict PreauthorizeRequest(Connection& conn, const Request& head) {
  if (!readWebSettings().web_auth) return Verdict::kFullBody;
  // The administration and provisioning pages keep their own logins.
  if (pathIs(head, "/ADMIN") || pathIs(head, "/PROVISION")) return Verdict::kSmallBody;
  if (!headCarriesCredentials(head)) return Verdict::kSmallBody;
  AuthResult auth = authenticateWebRequest(conn, head, true);
  if (auth.accepted) return Verdict::kFullBody;
  refuseLogin(conn, auth);
  return Verdict::kAnswered;
}

}  // namespace vek::http
