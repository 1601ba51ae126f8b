// Validation: the checks a message passes before anything is encoded or
// written, in a fixed order; the first that fails is the answer:
//
//   1. a one-line value (sender, validity, service type, billing and
//      account information, routes, local user, receipt id, SMPP options,
//      extra keys and their names) holds a control character:
//      "Invalid character in <key>" (a front end that reads named
//      parameters reports the parameter first, in its own words)
//   2. no recipient: "Invalid format for telephone number."
//   3. a route that names no link: "Unknown smscRoute=<route>"
//   4. a header that is not hexadecimal octets:
//      "Invalid format for UDH (hexadecimal digit characters only)."; one
//      whose length octet does not count the octets after it, or whose
//      elements do not end exactly there: "Invalid format for UDH (length
//      octet does not match the header)." / "... (an element runs past the
//      header)." (the same for a message of one SMS and a long one)
//   5. binary data without a header that is not hexadecimal octets:
//      "Invalid format for Text/Data parameter when binary flag is set
//      (hexadecimal digit characters only).", or, when only its length is
//      wrong, "... when binary flag is set (odd number of hexadecimal
//      digits)."
//
// A plain text in binary mode with a header (or a port) passes: it is
// encoded after the header instead.
//
// Pure apart from reading the configured links; thread-safe.
#pragma once

#include <optional>
#include <string_view>

#include "submit/error.h"
#include "submit/message.h"

namespace vek::submit {

std::optional<Error> validateMessage(const Message& m);

// A route a message may name: a link name (`Modem%u` value) or a link's
// `RouteName`, ignoring case.
bool isKnownRoute(std::string_view route);

}  // namespace vek::submit
