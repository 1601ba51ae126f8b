// Wildcard patterns of routes, inbound routing and two-way commands: a
// question mark matches any one character, an asterisk any run of
// characters (none included), every other character itself without regard
// to case (ASCII). The whole text must match the whole pattern.
//
// The match backtracks ("*1234" matches "+4412341234") and runs in
// O(pattern x text) steps at worst, never reading past either end, so a
// hostile pattern such as "*a*a*a*a*b" costs no more than a few passes over
// the text. Pure function; thread-safe.
#pragma once

#include <string_view>

namespace vek::foundation {

bool wildcardMatch(std::string_view pattern, std::string_view text);

// The number of literal characters and question marks of a pattern: how
// specific it is when two patterns match the same text (asterisks do not
// count).
size_t wildcardSpecificity(std::string_view pattern);

}  // namespace vek::foundation
