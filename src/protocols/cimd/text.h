// The CIMD2 character conversion of user data (parameter 033) and of the
// alphanumeric originator (027).
//
// The GSM default alphabet travels as printable ASCII where a character is
// the same in both (letters, digits, space, most punctuation, '@', '$', CR,
// LF) and as "special combination characters" otherwise: an underscore and
// two characters ("_L-" pound sign, "_e'" e acute, "_--" underscore, "_gd"
// Delta, ...). "_XX" escapes to the extension table, followed by the
// element of the base character in the same position: "_XXe" is the euro
// sign, "_XX<" '[', "_XX_gl" '^', "_XX_!!" '|'. Raw '[' and the like are
// never written (their meaning depends on the centre's conversion table).
//
// Reading also takes "_a0" for '@' and raw ISO 8859-1 octets (what centres
// send on 8-bit links), which read as those characters.
// Pure functions over constant tables; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::cimd {

// Unpacked septets (one GSM code per byte) as a 033 value. A lone escape
// at the end is dropped.
std::string septetsToUserData(std::string_view septets);

// A 033 value as UTF-8 text.
std::string userDataToText(std::string_view value);

}  // namespace vek::cimd
