// Quoted-printable coding for mail and MIME parts. Pure functions;
// thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::encoding {

// Every byte that is "=", below the space (except escape, 27) or above 127
// becomes "=" and two upper-case hexadecimal digits. The result is built in
// a new string and broken into lines of at most 76 characters with soft
// line breaks ("=" CR LF); an "=XX" triplet is never split.
std::string quotedPrintableEncode(std::string_view data);

// "=" and two hexadecimal digits become that byte; "=" followed by a line
// end (CR LF, CR or LF: a soft line break) is removed with the line end;
// any other "=" stays as it is.
std::string quotedPrintableDecode(std::string_view text);

}  // namespace vek::encoding
