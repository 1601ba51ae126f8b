// The answers of the send path: the result page of a submission, the page
// for a submission whose files could not all be written, and the error
// page with a status of the caller's choosing. Everything put into a page
// from the request or the queue is HTML-escaped.
//
// Result page: the template "HTML/SUBMITOK.HTM" of the program directory
// when there is one, copied line by line with "@@ContinueURL@@" replaced
// by the continue link and each line holding "@@SubmitInfo@@" repeated
// once per result line; otherwise a built-in page. "200 OK", no-cache.
//
// Pure apart from reading the template; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "http/server/connection.h"

namespace vek::http {

inline constexpr std::string_view kSubmitTemplate = "SUBMITOK.HTM";

// "MessageID=%s, Recipient=%s".
std::string resultLine(std::string_view message_id, std::string_view recipient);

std::string submitResultBody(std::string_view continue_url, const std::vector<std::string>& lines);
std::string submitResultResponse(const Connection& conn, std::string_view continue_url,
                                 const std::vector<std::string>& lines);

// "500 Internal Server Error": names the recipients whose files could not
// be written and lists the result lines of those that were.
std::string submitFailureResponse(const Connection& conn, std::string_view continue_url,
                                  const std::vector<std::string>& failed,
                                  const std::vector<std::string>& lines);

// The "Invalid Parameter" error page with `status` ("403 Forbidden" ...),
// "200 OK" to a browser.
std::string errorPageWithStatus(const Connection& conn, std::string_view status,
                                std::string_view text);

}  // namespace vek::http
