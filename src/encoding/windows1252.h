// Windows-1252, the gateway's own table rather than the platform's: glibc
// refuses the five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D), while the original platform passed them through as the C1
// controls of the same value, and text stored by it relies on that.
//
// Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vek::encoding {

// Windows-1252 text to UTF-8, through at most `max_units` UCS-2 units
// (the terminator of the original buffer included, so 8191 characters).
std::string Windows1252ToUTF8(std::string_view text, size_t max_units = 8192);

// UTF-8 to Windows-1252; a character the code page lacks becomes '?'.
std::string UTF8ToWindows1252(std::string_view utf8);

// The Windows-1252 byte for a code point, or -1.
int unicodeToWindows1252(char32_t cp);

}  // namespace vek::encoding
