// "multipart/form-data" request bodies (browser forms with file fields)
// unpacked into the plain form the parameter readers understand.
//
// The result is the same request with its body replaced by
// "name=value&..." (every value percent-encoded) and its Content-Type by
// "application/x-www-form-urlencoded"; parameters in the request line still
// come first. A part with a file name is written to a temporary file in
// the private data directory's "TEMP" folder, and its parameter's value is
// that file's path; the paths are added to `uploads` for the caller to
// remove when the request ends. Parts may be sent raw, quoted-printable or
// Base64 ("Content-Transfer-Encoding"). At most 1000 parts.
//
// Pure apart from the temporary files; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "http/server/request.h"
#include "platform/status.h"

namespace vek::http {

inline constexpr size_t kMaxFormParts = 1000;

// The request's Content-Type says "multipart/form-data".
bool isMultipartForm(const Request& request);

platform::Result<Request> unpackMultipartForm(const Request& request,
                                              std::vector<std::string>* uploads);

// Every byte but letters, digits and "-_.~" as "%XX".
std::string percentEncode(std::string_view value);

// A parameter of a header value: `name`="value" or `name`=value (up to ';'
// or a blank), name matched without regard to case; "" when absent.
std::string headerParameter(std::string_view header, std::string_view name);

}  // namespace vek::http
