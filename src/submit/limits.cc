#include "submit/limits.h"

#include <algorithm>
#include <cassert>

#include "encoding/hex_text.h"
#include "submit/message.h"

namespace vek::submit {
namespace {

bool isContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool isHexDigits(std::string_view text) {
  for (char c : text)
    if (encoding::hexDigitValue(c) < 0) return false;
  return true;
}

void cut(std::string* value, size_t max) {
  const size_t keep = cutText(*value, max).size();
  if (keep < value->size()) value->resize(keep);
}

}  // namespace

std::string_view cutText(std::string_view text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  // Back over at most three continuation bytes to the sequence's lead byte:
  // the sequence starting there does not fit and goes whole.
  for (size_t back = 0; back < 3 && end > 0 && isContinuation(text[end]); ++back) --end;
  if (isContinuation(text[end])) end = max;  // not UTF-8: nothing to keep whole
  return text.substr(0, end);
}

std::string_view cutHexData(std::string_view hex, size_t max, bool ucs2) {
  if (hex.size() <= max) return hex;
  const size_t unit = ucs2 ? 4 : 2;
  size_t end = max - max % unit;
  if (ucs2 && end >= 4) {
    const int high =
        encoding::hexDigitValue(hex[end - 4]) << 4 | encoding::hexDigitValue(hex[end - 3]);
    if (high >= 0xD8 && high <= 0xDB) end -= 4;  // the pair's other half is cut off
  }
  assert(end % 2 == 0 && end <= max);
  return hex.substr(0, end);
}

std::string_view cutContent(std::string_view text, bool binary, bool ucs2, size_t max) {
  if (binary && isHexDigits(text.substr(0, std::min(text.size(), max + 1))))
    return cutHexData(text, max, ucs2);
  return cutText(text, max);
}

void fitToLimits(Message* m) {
  cut(&m->sender, kMaxSender);
  cut(&m->validity, kMaxValidity);
  cut(&m->service_type, kMaxServiceType);
  cut(&m->billing_info, kMaxBillingInfo);
  cut(&m->acct_info, kMaxAcctInfo);
  cut(&m->route, kMaxRoute);
  for (std::string& r : m->recipient_routes) cut(&r, kMaxRoute);
  cut(&m->route_to_local_user, kMaxLocalUser);
  for (auto& [name, value] : m->extra_keys) cut(&value, kMaxExtraValue);
}

}  // namespace vek::submit
