// Sanitising: one place that decides how text from outside may enter a
// path, a one-line record, an XML or HTML document or an SMTP body.
// Every writer in the gateway uses these instead of its own rules.
// Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::platform {

// The gateway's hyphen rule: every ':', '/' and '\' becomes '-'.
std::string hyphenate(std::string_view name);

// A name from outside (account, route, list, source, uploaded file, MMS
// part) made safe as one path component: the hyphen rule, control
// characters and NUL dropped, a leading '.' (hidden files, "." and "..")
// replaced by '_', cut to `max_len` bytes; empty becomes "_".
std::string safePathComponent(std::string_view name, size_t max_len = 200);
// True when `name` can be used as a path component unchanged: not empty,
// no '/', '\', ':' or control character, not starting with '.'.
bool isSafePathComponent(std::string_view name);
// True when a relative path (components joined by '/' or '\') never climbs
// out of its base: no ".." component (also not in %2e%2e form), no leading
// '/', no control characters.
bool isContainedRelativePath(std::string_view path);

// True when `s` holds a byte below 0x20 or 0x7F.
bool hasControlCharacters(std::string_view s);
// One-line value: every byte below 0x20 (and 0x7F) becomes a blank.
std::string singleLine(std::string_view s);

// &, <, >, " and ' as entities.
std::string xmlEscape(std::string_view s);
std::string htmlEscape(std::string_view s);
// SMTP body transparency: a line that starts with '.' gets another '.';
// bare LF becomes CR LF.
std::string smtpDotStuff(std::string_view body);

}  // namespace vek::platform
