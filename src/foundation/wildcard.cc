#include "foundation/wildcard.h"

namespace vek::foundation {
namespace {

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool wildcardMatch(std::string_view pattern, std::string_view text) {
  // Greedy scan with one backtrack point: the last asterisk seen and the
  // text position it has swallowed up to. On a mismatch the asterisk takes
  // one more character and matching resumes after it. Each asterisk moves
  // the backtrack point forward only, which bounds the work.
  size_t p = 0, t = 0;
  size_t star = std::string_view::npos, star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(text[t]))) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

size_t wildcardSpecificity(std::string_view pattern) {
  size_t n = 0;
  for (char c : pattern)
    if (c != '*') ++n;
  return n;
}

}  // namespace vek::foundation
