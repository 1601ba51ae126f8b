// Character set names: MIME charset names to Windows code pages and IANA
// MIBenum numbers, conversion of text in a named charset to UTF-8, and the
// ISO-2022-JP to Shift-JIS rewrite that mail and MMS text needs.
//
// Names compare without regard to ASCII case. Pure functions over
// read-only tables; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::encoding {

// IANA MIBenum numbers of the charsets WSP content types carry in binary
// form. Unknown number: "unknown"; unknown name: 0.
std::string_view MIBenumToCharset(int mib_enum);
int CharsetToMIBenum(std::string_view name);

// The Windows code page of a charset name: the built-in "[Charset]" table
// first, then the gateway's table of well-known charset names (the
// platform has no MIME database). 0 when unknown.
unsigned CharsetToCodePage(std::string_view name);

// Converts `*text`, in `*charset`, to UTF-8 in place. ISO-2022-JP text
// holding JIS escape sequences is first rewritten as Shift-JIS and
// `*charset` becomes "shift-jis". Returns false, changing nothing, for an
// empty text, an empty or "utf-8" charset, or a charset without a code
// page; true once converted (through at most 4,096 UCS-2 units).
bool CharsetToUTF8(std::string* charset, std::string* text);

// ISO-2022-JP to Shift-JIS: ESC ( B and ESC ( J switch to single-byte
// mode, ESC $ @ and ESC $ B to double-byte mode; the escape sequences are
// removed and each JIS pair in double-byte mode is mapped to its Shift-JIS
// pair. Returns whether any escape sequence was seen.
bool ISO2022JPToShiftJIS(std::string_view text, std::string* out);

}  // namespace vek::encoding
