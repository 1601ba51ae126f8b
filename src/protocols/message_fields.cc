#include "protocols/message_fields.h"

#include <algorithm>

#include "encoding/dcs.h"
#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "platform/byte_io.h"
#include "platform/strings.h"
#include "protocols/message_text.h"

namespace vek::protocols {

namespace {
constexpr int64_t kMaxValidityMinutes = 63 * 7 * 1440;
}  // namespace

std::string paramValue(std::string_view params, std::string_view key) {
  for (const auto& item : platform::split(params, ";")) {
    std::string_view it = platform::trim(item);
    size_t eq = it.find('=');
    if (eq == std::string_view::npos) continue;
    if (platform::equalsNoCase(platform::trim(it.substr(0, eq)), key))
      return std::string(platform::trim(it.substr(eq + 1)));
  }
  return std::string();
}

Validity parseValidity(std::string_view text) {
  Validity v;
  text = platform::trim(text);
  if (text.size() < 2) return v;
  char unit = platform::asciiLower(text.back());
  std::string_view count = text.substr(0, text.size() - 1);
  if ((unit == 'd' || unit == 'h' || unit == 'm') && count.size() <= 6 &&
      platform::isAllDigits(count)) {
    int64_t n = platform::parseLeadingInt(count);
    // No centre keeps a message longer than the 63 weeks a relative validity
    // can say; a longer one is cut there.
    v.minutes = std::min(unit == 'd' ? n * 1440 : unit == 'h' ? n * 60 : n, kMaxValidityMinutes);
    if (v.minutes > 0) v.kind = Validity::kRelative;
    return v;
  }
  if ((text.size() == 14 || text.size() == 12) && platform::isAllDigits(text)) {
    size_t y = text.size() == 14 ? 4 : 2;
    platform::CalendarTime& c = v.at;
    auto num = [&](size_t at, size_t n) {
      return static_cast<int>(platform::parseLeadingInt(text.substr(at, n)));
    };
    c.year = num(0, y) + (y == 2 ? 2000 : 0);
    c.month = num(y, 2);
    c.day = num(y + 2, 2);
    c.hour = num(y + 4, 2);
    c.minute = num(y + 6, 2);
    c.second = num(y + 8, 2);
    if (c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31 && c.hour <= 23 &&
        c.minute <= 59 && c.second <= 59)
      v.kind = Validity::kAbsolute;
  }
  return v;
}

platform::CalendarTime validityEnd(const Validity& v) {
  if (v.kind == Validity::kAbsolute) return v.at;
  return platform::toLocal(platform::clock().now() + std::chrono::minutes(v.minutes));
}

bool prepareUserData(const OutboundMessage& m, UserData* out) {
  *out = UserData();
  if (!m.udh.empty() && !platform::fromHex(m.udh, &out->udh)) return false;
  if (encoding::DCSIsGSM7Bit(m.dcs)) {
    out->kind = UserData::kSeptets;
    if (!m.binary) {
      out->data = encoding::UTF8ToGSMString(m.data);
      return true;
    }
    std::string packed;
    if (!platform::fromHex(m.data, &packed)) return false;
    out->data = encoding::UnpackGSMSeptets(packed, out->udh.size(), packed.size() * 8 / 7);
    return true;
  }
  if (m.binary) {
    out->kind = encoding::DCSIsUCS2(m.dcs) ? UserData::kUcs2 : UserData::kOctets;
    return platform::fromHex(m.data, &out->data);
  }
  if (encoding::DCSIsUCS2(m.dcs)) {
    out->kind = UserData::kUcs2;
    out->data = protocols::utf8ToUcs2(m.data);
  } else {
    out->kind = UserData::kOctets;
    out->data = protocols::utf8ToLatin1(m.data);
  }
  return true;
}

std::string septetsToText(std::string_view septets, std::string_view udh) {
  return protocols::gsmToUtf8(septets, udh);
}

std::string receiptText(std::string_view id, std::string_view submit_date,
                        std::string_view done_date, uint32_t flags, unsigned error) {
  const char* stat = (flags & flag::kDelivered)   ? "DELIVRD"
                     : (flags & flag::kFailed)    ? "UNDELIV"
                     : (flags & flag::kInTransit) ? "ENROUTE"
                                                  : "UNKNOWN";
  return platform::format(
      "id:%.*s sub:001 dlvrd:%s submit date:%.*s done date:%.*s stat:%s "
      "err:%03u text:",
      static_cast<int>(id.size()), id.data(), (flags & flag::kDelivered) ? "001" : "000",
      static_cast<int>(submit_date.size()), submit_date.data(), static_cast<int>(done_date.size()),
      done_date.data(), stat, error % 1000);
}

void appendItem(std::string* items, std::string_view name, std::string_view value) {
  if (!items->empty()) items->append("; ");
  items->append(name);
  items->push_back('=');
  for (char c : value) items->push_back(c == ';' || static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
}

}  // namespace vek::protocols
