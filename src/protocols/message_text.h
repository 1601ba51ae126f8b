// What short_message holds for a data_coding value, and the two conversions
// whose wire form is SMPP's own. The characters themselves follow the
// gateway's rules in encoding/ (a character the GSM alphabet lacks is
// approximated or becomes '-', malformed UTF-8 reads as Windows-1252), so
// a text reads the same whichever link carried it.
//
// SMPP carries the GSM default alphabet one septet per octet (the gateway
// keeps 7-bit segments packed, encoding::UnpackGSMSeptets turns them into
// that form), UCS-2 as big-endian UTF-16 and data_coding 1 and 3 as
// ISO-8859-1. Text for the default alphabet goes through
// encoding::UTF8ToGSMString, which reads at most 8,191 characters: more
// than a request file's Data holds. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vek::protocols {

// What a data_coding value means for the octets of short_message.
enum class Alphabet { kGsm7, kAscii, kLatin1, kUcs2, kBinary };
Alphabet alphabetOf(uint8_t data_coding);

// UTF-8 as big-endian UCS-2 octets (UTF-16 for characters outside the BMP).
std::string utf8ToUcs2(std::string_view utf8);

// UTF-8 as ISO-8859-1; a character outside it becomes '?' (the euro too:
// 0x80 is a control character in ISO-8859-1, not the euro).
std::string utf8ToLatin1(std::string_view utf8);
std::string latin1ToUtf8(std::string_view latin1);

// Received default-alphabet octets (header removed) as UTF-8. `udh` is the
// message's user data header as octets (may be empty): the national
// language shift tables it announces apply. An octet with its top bit set
// is not a septet: some centres send Latin-1 under data_coding 0, so it
// reads as Latin-1 rather than being lost.
std::string gsmToUtf8(std::string_view octets, std::string_view udh);

}  // namespace vek::protocols
