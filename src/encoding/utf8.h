// UTF-8 and UCS-2: the gateway's internal text is UTF-8; UCS-2 is what
// travels in 16-bit SMS and WSP fields (UTF-16 code units, "%04X" each in
// hexadecimal text).
//
// Decoding is strict about UTF-8 and lenient about everything else: a byte
// that does not start a well-formed sequence (stray continuation byte,
// overlong form, encoded surrogate, truncated sequence, value above
// U+10FFFF) is taken as one Windows-1252 character, so that text which
// arrived in that code page still reads right. Characters above U+FFFF
// become surrogate pairs in UCS-2 and a lone surrogate half becomes U+FFFD
// when encoded. A conversion cut at a limit never separates the two halves
// of a surrogate pair.
//
// Pure functions over their arguments; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vek::encoding {

// Default capacity of a UTF-8 decode, in UCS-2 units including the
// terminator of the original fixed buffers (so at most 8191 units).
inline constexpr size_t kMaxUcs2Units = 8192;
inline constexpr char32_t kReplacementChar = 0xFFFD;

// The character that a Windows-1252 byte stands for. The five bytes that
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the
// C1 control of the same value, as the original platform's conversion did.
char32_t windows1252ToUnicode(uint8_t byte);

// Decodes one character at `*pos` (which must be < text.size()) and
// advances past it: a well-formed sequence gives its code point; any other
// byte gives its Windows-1252 character and advances by one.
char32_t decodeUtf8Char(std::string_view text, size_t* pos);

// Appends the UTF-8 form of `cp` (one to four bytes; a surrogate value or
// one above U+10FFFF is written as U+FFFD).
void appendUtf8(std::string* out, char32_t cp);
// Bytes appendUtf8 would write for `cp`.
size_t utf8Length(char32_t cp);

// Decodes UTF-8 into UCS-2 units. Decoding stops at a NUL byte, at the end
// of the text, or when `capacity` - 1 units are written (a pair that does
// not fit whole is left out). A character above U+FFFF becomes a surrogate
// pair.
std::u16string UTF8ToUCS2(std::string_view utf8, size_t capacity = kMaxUcs2Units);

// Encodes UCS-2 units as UTF-8: one byte below 0x80, two below 0x800,
// three otherwise, four for a surrogate pair; a lone surrogate half
// becomes U+FFFD. Stops at a zero unit, and stops as soon as the output
// reaches `capacity` - 7 bytes (so that an in-place conversion into a
// buffer of that size never overruns); capacity 0 means no limit.
std::string UCS2ToUTF8(std::u16string_view ucs2, size_t capacity = 0);

// UCS-2 as hexadecimal text, "%04X" per unit (a character above U+FFFF
// gives its two surrogate units), and back. The reverse reads groups of
// four hexadecimal digits and stops at the first group that is not one.
std::string UTF8ToUCS2Hex(std::string_view utf8);
std::string UCS2HexToUTF8(std::string_view hex);
// "%04X" per unit, as is.
std::string UCS2ToHex(std::u16string_view units);

// True when any byte has its top bit set.
bool TextHas8BitBytes(std::string_view text);

// A character value given in configuration: an optional "0x" prefix, then
// two or more hexadecimal digits read as a number (kept to 16 bits);
// otherwise the code point of the first UTF-8 character (0 for empty text).
uint32_t ParseCharacterValue(std::string_view text);

}  // namespace vek::encoding
