#include "http/server/responses.h"

#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::http {

using platform::format;

std::string errorPageResponse(const Connection& conn, std::string_view text) {
  std::string body = "<HTML><HEAD><TITLE>\r\nInvalid Parameter\r\n</TITLE></HEAD><BODY><H1>\r\n";
  body += "Error:  Invalid Parameter\r\n</H1>\r\n";
  body += platform::htmlEscape(text);
  body += "\r\n</BODY></HTML>\r\n";
  std::string out = format("%s %s\r\n%sContent-Type: text/html\r\n", conn.protocol(),
                           conn.browser ? "200 OK" : "400 Bad Request", conn.connectionLine());
  out.append(kNoCacheLines).append("\r\n");
  out += format("Content-Length: %zu\r\n\r\n", body.size());
  out += body;
  return out;
}

std::string forbiddenResponse(const Connection& conn, std::string_view error_line) {
  std::string body = "<HTML><HEAD><TITLE>\r\nConnection not allowed\r\n</TITLE></HEAD><BODY>\r\n";
  body.append(error_line).append("\r\n</BODY></HTML>\r\n");
  std::string out = format("%s 403 Forbidden\r\n%sContent-Type: text/html\r\n", conn.protocol(),
                           conn.connectionLine());
  out += format("Content-Length: %zu\r\n\r\n", body.size());
  out += body;
  return out;
}

std::string redirectResponse(const Connection& conn, std::string_view host, unsigned tls_port,
                             std::string_view path) {
  // "[v6]:port" keeps its brackets; "name:port" loses the port.
  bool bracketed = !host.empty() && host.front() == '[';
  size_t cut = bracketed ? host.find(']') : host.find(':');
  if (cut != std::string_view::npos) host = host.substr(0, bracketed ? cut + 1 : cut);
  std::string out =
      format("%s 302 Redirect\r\n%sContent-length: 0\r\nLocation: https://%.*s", conn.protocol(),
             conn.connectionLine(), static_cast<int>(host.size()), host.data());
  if (tls_port != 443) out += format(":%u", tls_port);
  out.append(path).append("\r\n\r\n");
  return out;
}

std::string closingStatusResponse(std::string_view status, std::string_view text,
                                  std::string_view headers) {
  std::string body =
      format("<HTML><HEAD><TITLE>%.*s</TITLE></HEAD><BODY>\r\n%s\r\n</BODY></HTML>\r\n",
             static_cast<int>(status.size()), status.data(), platform::htmlEscape(text).c_str());
  std::string out = format("HTTP/1.1 %.*s\r\nConnection: close\r\nContent-Type: text/html\r\n",
                           static_cast<int>(status.size()), status.data());
  out.append(headers);
  out += format("Content-Length: %zu\r\n\r\n", body.size());
  out += body;
  return out;
}

}  // namespace vek::http
