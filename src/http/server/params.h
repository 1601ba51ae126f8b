// Request parameter readers. A parameter is written as its name, "=" and
// its value, in the query of the request line or in a form body; names
// match without regard to ASCII case. Values are decoded while copied
// ("%XX" becomes that byte, "+" a space) and lose trailing characters at or
// below the space.
//
// `msg` is the whole request (request line, headers, body). `size` follows
// the buffer sizes the request handlers are written with: at most size - 1
// characters of a value are kept.
//
// Pure functions; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vek::http {

// First occurrence: in the request line a match must follow "/", "\", "?"
// or "&", and its value ends at "?", "&" or a space; only when the request
// line has none, in the body, where a match must stand at the body's start
// or follow "?" or "&" and its value ends at "?" or "&". A parameter given
// with an empty value is found with "".
std::optional<std::string> requestParameter(std::string_view msg, std::string_view name,
                                            size_t size = 8192);
// The index-th occurrence (1-based), same rules: the request line's
// index-th, else the body's index-th.
std::optional<std::string> requestParameterAt(std::string_view msg, std::string_view name,
                                              unsigned index, size_t size = 8192);
// Searched in the body only; the value also ends at a space. Found only
// when the decoded value is not empty.
std::optional<std::string> bodyParameter(std::string_view msg, std::string_view name,
                                         size_t size = 8192);
std::optional<std::string> bodyParameterAt(std::string_view msg, std::string_view name,
                                           unsigned index, size_t size = 8192);
// The name of the index-th parameter (1-based; request line first, then
// body) whose name begins with `prefix`, cut at "=", "?" or "&": serves to
// enumerate families such as "SMPPOption_...".
std::optional<std::string> parameterNameAt(std::string_view msg, std::string_view prefix,
                                           unsigned index, size_t size = 256);

}  // namespace vek::http
