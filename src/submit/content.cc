#include "submit/content.h"

#include <algorithm>

#include "encoding/dcs.h"
#include "encoding/hex_text.h"
#include "encoding/septet_packing.h"
#include "encoding/shift_tables.h"
#include "encoding/user_data_header.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "platform/strings.h"

namespace vek::submit {
namespace {

using encoding::SplitMessage;
using encoding::UserDataKind;
using Reference = std::function<uint16_t()>;

constexpr uint8_t kUcs2Coding = 0x08;

std::string ucs2Hex(std::u16string_view units) {
  std::string hex;
  hex.reserve(4 * units.size());
  for (char16_t u : units) hex += platform::format("%04X", static_cast<unsigned>(u));
  return hex;
}

std::string upperHex(std::string_view hex) {
  std::string out(hex);
  for (char& c : out) c = platform::asciiUpper(c);
  return out;
}

size_t headerOctets(std::string_view udh) {
  return udh.size() / 2;
}

// An unsplit UCS-2 text of a reply: at most `max` units, a surrogate pair
// kept whole.
std::u16string_view cutUnits(std::u16string_view units, size_t max) {
  if (units.size() <= max) return units;
  size_t end = max;
  if (end > 0 && units[end - 1] >= 0xD800 && units[end - 1] <= 0xDBFF) --end;
  return units.substr(0, end);
}

// How one message's content is being encoded.
class Encoder {
 public:
  Encoder(const Message& m, const EncodeOptions& options, const Reference& next_reference)
      : c_(m.content),
        options_(options),
        next_reference_(next_reference),
        never_split_(m.target != Target::kOutbound) {
    options_.split.max_segments = std::min(options_.split.max_segments, options_.max_segments);
  }

  Checked<EncodedMessage> encode() {
    if (!c_.binary && !c_.hasPorts()) return text();
    udh_ = upperHex(headerWithPorts(c_));
    if (isHexOctets(c_.text)) return hex();
    return textWithHeader();
  }

 private:
  uint8_t requested() const { return c_.dcs.value_or(0); }

  // The coding of 7-bit segments: the requested one when it says 7-bit,
  // else LongTextDCS.
  uint8_t septetCoding() const {
    return requested() != 0 && encoding::DCSIsGSM7Bit(requested()) ? requested()
                                                                   : options_.split.LongTextDCS;
  }

  bool needsSplitting(UserDataKind kind, size_t units, size_t header) const {
    return !never_split_ && encoding::needsSplitting(kind, units, header, options_.split);
  }

  Checked<EncodedMessage> fromSplit(platform::Result<SplitMessage> split, uint8_t dcs) const {
    if (!split.ok())
      return Error{ErrorKind::kCannotEncode,
                   "Unable to split message: " + split.status().message()};
    if (split->dropped != 0) {
      foundation::DebugLogf(options_.log_tag,
                            "Message cut to %zu segments, %zu characters left out",
                            split->segments.size(), split->dropped);
    }
    EncodedMessage out;
    out.kind = "LongText";
    out.ucs2 = ucs2_;
    out.parts.reserve(split->segments.size());
    for (encoding::Segment& s : split->segments)
      out.parts.push_back(Part{std::move(s.data), std::move(s.udh), dcs, true});
    return out;
  }

  EncodedMessage single(std::string data, std::string udh, uint8_t dcs, bool binary) const {
    EncodedMessage out;
    out.kind = binary ? "Binary" : "Text";
    out.ucs2 = ucs2_;
    out.parts.push_back(Part{std::move(data), std::move(udh), dcs, binary});
    return out;
  }

  // Septets after a header: packed whole, or split when too long.
  Checked<EncodedMessage> septets(const std::string& septets, const std::string& udh,
                                  uint8_t dcs) const {
    if (needsSplitting(UserDataKind::kSeptets, septets.size(), headerOctets(udh)))
      return fromSplit(encoding::splitSeptets(septets, udh, next_reference_(), options_.split),
                       dcs);
    return single(encoding::PackGSMSeptetsToHex(septets, headerOctets(udh)), udh, dcs, true);
  }

  Checked<EncodedMessage> ucs2(const std::u16string& units, const std::string& udh) {
    foundation::DebugLog(options_.log_tag, "SMS message must be submitted with Unicode");
    ucs2_ = true;
    const uint8_t dcs = ucs2Coding(requested());
    if (needsSplitting(UserDataKind::kUcs2, units.size(), headerOctets(udh)))
      return fromSplit(encoding::splitUcs2(units, udh, next_reference_(), options_.split), dcs);
    std::u16string_view kept = units;
    if (options_.cut_unsplit_ucs2) kept = cutUnits(units, options_.split.binaryLimit() / 2);
    return single(ucs2Hex(kept), udh, dcs, true);
  }

  // The first `ShiftTables` language that carries the text: its septets
  // and the header announcing the tables.
  bool shiftTableText(const std::string& utf8, std::string* septets, std::string* udh) const {
    for (int language : options_.shift_tables) {
      std::string out;
      int used = encoding::UTF8ToShiftTableString(language, utf8, &out);
      if (used == 0) continue;
      std::string elements;
      if (used & encoding::kSingleShiftUsed) {
        foundation::DebugLog(options_.log_tag, "Using single shift table");
        elements += platform::format("2401%02X", language);
      }
      if (used & encoding::kLockingShiftUsed) {
        foundation::DebugLog(options_.log_tag, "Using locking shift table");
        elements += platform::format("2501%02X", language);
      }
      *udh = platform::format("%02X", static_cast<unsigned>(elements.size() / 2)) + elements;
      *septets = std::move(out);
      return true;
    }
    return false;
  }

  Checked<EncodedMessage> text() {
    encoding::SMSText text = encoding::encodeSMSText(c_.text);
    if (!text.ucs2) {
      if (!never_split_ && encoding::needsSplitting(text, options_.split))
        return fromSplit(encoding::splitText(text, next_reference_(), options_.split),
                         septetCoding());
      return single(std::move(text.utf8), {}, requested(), false);
    }
    std::string septet_text, udh;
    if (shiftTableText(text.utf8, &septet_text, &udh)) {
      // Every segment needs the shift elements to be read right.
      options_.split.RepeatUDHAllSegments = true;
      return septets(septet_text, udh, septetCoding());
    }
    return ucs2(text.units, {});
  }

  Checked<EncodedMessage> hex() {
    const std::string data = upperHex(c_.text);
    const size_t header = headerOctets(udh_);
    // Octets without a coding asked for would read as 7-bit text (0).
    const uint8_t dcs = c_.dcs.value_or(options_.binary_dcs);
    if (dcs != 0 && encoding::DCSIsGSM7Bit(dcs)) {
      std::string septets = encoding::UnpackHexToGSMSeptets(data, header);
      if (needsSplitting(UserDataKind::kSeptets, septets.size(), header))
        return fromSplit(encoding::splitSeptets(septets, udh_, next_reference_(), options_.split),
                         dcs);
    } else if (encoding::DCSIsUCS2(dcs)) {
      std::vector<uint8_t> octets = encoding::hexToOctets(data);
      if (needsSplitting(UserDataKind::kUcs2, octets.size() / 2, header)) {
        std::u16string units;
        for (size_t i = 0; i + 1 < octets.size(); i += 2)
          units.push_back(static_cast<char16_t>((octets[i] << 8) | octets[i + 1]));
        return fromSplit(encoding::splitUcs2(units, udh_, next_reference_(), options_.split), dcs);
      }
    } else {
      std::vector<uint8_t> octets = encoding::hexToOctets(data);
      if (needsSplitting(UserDataKind::kOctets, octets.size(), header)) {
        std::string raw(octets.begin(), octets.end());
        return fromSplit(encoding::splitOctets(raw, udh_, next_reference_(), options_.split), dcs);
      }
    }
    return single(data, udh_, dcs, true);
  }

  // A plain text sent with a header: GSM septets after it, or UCS-2.
  Checked<EncodedMessage> textWithHeader() {
    encoding::SMSText text = encoding::encodeSMSText(c_.text);
    if (!text.ucs2) return septets(text.septets, udh_, requested());
    return ucs2(text.units, udh_);
  }

  const Content& c_;
  EncodeOptions options_;
  const Reference& next_reference_;
  const bool never_split_;
  std::string udh_;
  bool ucs2_ = false;
};

}  // namespace

std::vector<int> parseShiftTables(std::string_view list) {
  std::vector<int> out;
  for (const std::string& item : platform::split(list, ",")) {
    std::string_view t = platform::trim(item);
    if (t.empty() || t.size() > 3 || !platform::isAllDigits(t)) continue;
    int v = static_cast<int>(platform::parseLeadingInt(t));
    if (v >= 1 && v <= 255) out.push_back(v);
  }
  return out;
}

EncodeOptions encodeOptionsFromSettings() {
  EncodeOptions o;
  o.split = encoding::splitOptionsFromSettings();
  o.binary_dcs = static_cast<uint8_t>(foundation::settings()->BinaryDCS);
  auto ini = hostlib::smsIni().current();
  if (auto v = ini->get("SMSGW", "ShiftTables")) o.shift_tables = parseShiftTables(*v);
  return o;
}

bool isHexOctets(std::string_view text) {
  if (text.size() % 2 != 0) return false;
  for (char c : text)
    if (encoding::hexDigitValue(c) < 0) return false;
  return true;
}

uint8_t ucs2Coding(uint8_t dcs) {
  // The F0 group (data coding and message class) knows only 7-bit and
  // 8-bit data: bit 3 would make F8, still 7-bit. UCS-2 with the same class
  // is the general group's 0x18 plus the class.
  if ((dcs & 0xF0) == 0xF0) return static_cast<uint8_t>(0x18 | (dcs & 0x03));
  const bool alphabet_group = dcs < 0x40 || dcs > 0xBF || (dcs >= 0x40 && dcs <= 0x4F);
  const uint8_t candidate = alphabet_group ? static_cast<uint8_t>(dcs | 0x08) : kUcs2Coding;
  if (encoding::DCSIsUCS2(candidate)) return candidate;
  // Bit 3 alone leaves an 8-bit request (alphabet bits 01) at 11, which
  // reads as 7-bit: the alphabet bits must say 10.
  if (dcs < 0x80) {
    const uint8_t fixed = static_cast<uint8_t>((dcs & ~0x04) | 0x08);
    if (encoding::DCSIsUCS2(fixed)) return fixed;
  }
  return kUcs2Coding;
}

std::string headerWithPorts(const Content& c) {
  if (!c.hasPorts()) return c.udh;
  const uint16_t destination = c.destination_port.value_or(0);
  const uint16_t source = c.source_port.value_or(0);
  if (c.udh.empty()) return encoding::applicationPortHeader(destination, source);
  std::string element = platform::format("0504%04X%04X", destination, source);
  if (!isHexOctets(c.udh)) return c.udh + element;  // refused by validateMessage
  unsigned length = static_cast<unsigned>(encoding::hexToOctets(c.udh.substr(0, 2)).front());
  if (length + 6 > 255) return c.udh;
  return platform::format("%02X", length + 6) + upperHex(c.udh.substr(2)) + element;
}

Checked<EncodedMessage> encodeMessage(const Message& m, const EncodeOptions& options,
                                      const std::function<uint16_t()>& next_reference) {
  return Encoder(m, options, next_reference).encode();
}

}  // namespace vek::submit
