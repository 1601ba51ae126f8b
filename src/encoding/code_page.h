// Windows code pages on Linux: conversions between UTF-8 and a numbered
// code page through glibc iconv ("CP%u" names; 65001 UTF-8, 1200/1201
// UTF-16LE/BE, 2859x ISO-8859-x and a few other well-known numbers).
// Windows-1252 never goes through iconv: the gateway's own table keeps the
// bytes glibc refuses.
//
// IconvConverter owns one iconv descriptor; it is movable, not copyable,
// and used by one thread at a time. The free functions open their own
// converter per call and are thread-safe.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vek::encoding {

class IconvConverter {
 public:
  // Fails (nullopt, errno set) when iconv knows neither name.
  static std::optional<IconvConverter> open(const std::string& to, const std::string& from);
  ~IconvConverter();
  IconvConverter(IconvConverter&& other) noexcept;
  IconvConverter& operator=(IconvConverter&& other) noexcept;
  IconvConverter(const IconvConverter&) = delete;
  IconvConverter& operator=(const IconvConverter&) = delete;

  // Converts all of `in`, appending to `*out` at most `max_out` bytes (0:
  // no limit); a character that does not fit whole stops the conversion.
  // Input the target cannot represent, or that is malformed, is skipped
  // (one character when the source is UTF-8, else one byte) and
  // `substitute` (in the target encoding) is written in its place.
  // Returns false when anything had to be substituted or cut.
  bool convert(std::string_view in, std::string* out, std::string_view substitute,
               size_t max_out = 0);

 private:
  IconvConverter(iconv_t cd, bool source_is_utf8) : cd_(cd), source_is_utf8_(source_is_utf8) {}
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);  // (iconv_t)-1: none
  bool source_is_utf8_ = false;
};

// The iconv name of a Windows code page ("CP%u" unless it has a better one).
std::string codePageName(unsigned code_page);

// UTF-8 text to the code page, in place, cut to `capacity` - 1 bytes
// (0: no limit) without splitting a character. For code page 1256 the
// Arabic-Indic digits become ASCII digits first. A code page the platform
// cannot convert to leaves the text unchanged, writes "Error %u from
// WideCharToMultiByte" (the error number) to the debug log and returns
// false. Characters the code page lacks become '?'.
bool UTF8ToLocalString(std::string* text, unsigned code_page, size_t capacity = 0);

// Code-page text to UTF-8, in place, through at most 8,192 (Windows-1252)
// or 16,384 (other code pages) UCS-2 units and cut as UCS2ToUTF8 cuts to
// `capacity` bytes (0: no limit). Malformed input becomes U+FFFD. A code
// page the platform does not know leaves the text unchanged and returns
// false.
bool CodePageToUTF8(std::string* text, unsigned code_page, size_t capacity = 0);

// `utf8` cut after at most `max_units` - 1 UCS-2 units and, with `capacity`
// non-zero, as soon as `capacity` - 7 bytes are reached, on character
// boundaries.
std::string limitUtf8(std::string_view utf8, size_t max_units, size_t capacity);

}  // namespace vek::encoding
