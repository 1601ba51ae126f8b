#include "http/web/submit_page.h"

#include "http/server/responses.h"
#include "http/web/templates.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

constexpr std::string_view kContinueMarker = "@@ContinueURL@@";
constexpr std::string_view kInfoMarker = "@@SubmitInfo@@";

std::string response(const Connection& conn, std::string_view status, std::string_view body) {
  std::string out =
      platform::format("%s %.*s\r\n%sContent-Type: text/html\r\n", conn.protocol(),
                       static_cast<int>(status.size()), status.data(), conn.connectionLine());
  out.append(kNoCacheLines).append("\r\n");
  out += platform::format("Content-Length: %zu\r\n\r\n", body.size());
  out.append(body);
  return out;
}

std::string fromTemplate(std::string_view text, const std::string& link,
                         const std::vector<std::string>& lines) {
  std::string body;
  body.reserve(text.size() + 64 * lines.size());
  for (std::string_view line : templateLines(text)) {
    if (line.find(kInfoMarker) != std::string_view::npos) {
      for (const std::string& l : lines) {
        body += replaceAll(replaceAll(line, kInfoMarker, platform::htmlEscape(l)), kContinueMarker,
                           link);
        body += "\r\n";
      }
      continue;
    }
    body += replaceAll(line, kContinueMarker, link);
    body += "\r\n";
  }
  return body;
}

}  // namespace

std::string resultLine(std::string_view message_id, std::string_view recipient) {
  std::string line = "MessageID=";
  line.append(message_id).append(", Recipient=").append(recipient);
  return line;
}

std::string submitResultBody(std::string_view continue_url, const std::vector<std::string>& lines) {
  const std::string link = platform::htmlEscape(continue_url);
  if (auto tmpl = programTemplate(kSubmitTemplate)) return fromTemplate(*tmpl, link, lines);
  std::string body =
      "<HTML>\r\n<HEAD><TITLE>Message Submitted</TITLE></HEAD>\r\n<BODY>\r\n<p>Message "
      "Submitted<p>\r\n<a href=\"" +
      link + "\">Continue</a>\r\n";
  for (const std::string& l : lines) body += platform::htmlEscape(l) + "\r\n";
  body += "<p>\r\n</BODY></HTML>\r\n";
  return body;
}

std::string submitResultResponse(const Connection& conn, std::string_view continue_url,
                                 const std::vector<std::string>& lines) {
  return response(conn, "200 OK", submitResultBody(continue_url, lines));
}

std::string submitFailureResponse(const Connection& conn, std::string_view continue_url,
                                  const std::vector<std::string>& failed,
                                  const std::vector<std::string>& lines) {
  std::string body =
      "<HTML>\r\n<HEAD><TITLE>Message Not Submitted</TITLE></HEAD>\r\n<BODY>\r\n<p>Message Not "
      "Submitted<p>\r\nThe message could not be queued for:";
  for (size_t i = 0; i < failed.size(); ++i) {
    body += (i == 0 ? " " : ", ") + platform::htmlEscape(failed[i]);
  }
  body += "\r\n<p>\r\n";
  if (!lines.empty()) {
    body += "Queued:\r\n";
    for (const std::string& l : lines) body += platform::htmlEscape(l) + "\r\n";
    body += "<p>\r\n";
  }
  body +=
      "<a href=\"" + platform::htmlEscape(continue_url) + "\">Continue</a>\r\n</BODY></HTML>\r\n";
  return response(conn, "500 Internal Server Error", body);
}

std::string errorPageWithStatus(const Connection& conn, std::string_view status,
                                std::string_view text) {
  std::string body = "<HTML><HEAD><TITLE>\r\nInvalid Parameter\r\n</TITLE></HEAD><BODY><H1>\r\n";
  body += "Error:  Invalid Parameter\r\n</H1>\r\n";
  body += platform::htmlEscape(text);
  body += "\r\n</BODY></HTML>\r\n";
  return response(conn, conn.browser ? "200 OK" : status, body);
}

}  // namespace vek::http
