#include "foundation/config_rules.h"

#include <limits>

#include "platform/strings.h"

namespace vek::foundation {

bool yesNo(std::string_view value) {
  if (value.empty()) return false;
  char c = value[0];
  if (c == 'Y' || c == 'y' || c == '1') return true;
  return platform::equalsNoCase(value, "TRUE") || platform::equalsNoCase(value, "On");
}

int32_t number(std::string_view value) {
  int64_t v = platform::parseLeadingInt(value);
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

namespace {
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

int hexByte(std::string_view value, int def) {
  if (value.empty()) return def;
  int first = hexDigit(value[0]);
  if (first < 0) return def;
  if (value.size() >= 2) {
    int second = hexDigit(value[1]);
    if (second >= 0) return first * 16 + second;
  }
  return first;
}

}  // namespace vek::foundation
