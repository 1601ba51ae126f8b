// Small text helpers shared by every folder: ASCII case folding, trimming,
// splitting and the file-name pattern match used by directory walks.
// All functions are pure and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek::platform {

inline char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline char asciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
std::string toLower(std::string_view s);
std::string toUpper(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view s, std::string_view prefix);
bool endsWithNoCase(std::string_view s, std::string_view suffix);
// Position of `needle` in `hay` ignoring ASCII case, or npos.
size_t findNoCase(std::string_view hay, std::string_view needle, size_t from = 0);
// <0, 0, >0 like strcasecmp.
int compareNoCase(std::string_view a, std::string_view b);

// Blanks are space and tab (and CR/LF for trimLine).
std::string_view trim(std::string_view s);
std::vector<std::string> split(std::string_view s, std::string_view separators,
                               bool keep_empty = false);

// File-name pattern: '*' any run, '?' one character, ASCII case ignored.
bool globMatchNoCase(std::string_view pattern, std::string_view name);

// Decimal with optional leading blanks and sign, read up to the first
// non-digit; empty or non-numeric gives 0. Saturates instead of overflowing.
int64_t parseLeadingInt(std::string_view s);
// True when `s` is one or more decimal digits and nothing else.
bool isAllDigits(std::string_view s);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vek::platform
