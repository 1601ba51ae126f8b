#include "http/sms_content.h"

#include "encoding/dcs.h"
#include "encoding/hex_text.h"
#include "encoding/septet_packing.h"
#include "encoding/shift_tables.h"
#include "encoding/user_data_header.h"
#include "foundation/debug_log.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

using encoding::SplitMessage;
using encoding::SplitOptions;
using encoding::UserDataKind;

constexpr const char* kTag = "ThreadProcessConnection";
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

// The coding of 7-bit segments: the requested one when it says 7-bit,
// else LongTextDCS.
uint8_t septetCoding(uint8_t dcs, const SplitOptions& options) {
  return dcs != 0 && encoding::DCSIsGSM7Bit(dcs) ? dcs : options.LongTextDCS;
}

EncodedContent fromSplit(SplitMessage split, uint8_t dcs) {
  if (split.dropped != 0) {
    foundation::DebugLogf(kTag, "Message cut to %zu segments, %zu characters left out",
                          split.segments.size(), split.dropped);
  }
  EncodedContent out;
  out.kind = "LongText";
  out.parts.reserve(split.segments.size());
  for (encoding::Segment& s : split.segments) {
    ContentPart p;
    p.data = std::move(s.data);
    p.udh = std::move(s.udh);
    p.dcs = dcs;
    p.binary = true;
    out.parts.push_back(std::move(p));
  }
  return out;
}

platform::Result<EncodedContent> splitResult(platform::Result<SplitMessage> split, uint8_t dcs) {
  if (!split.ok())
    return platform::Status::error("Unable to split message: " + split.status().message());
  return fromSplit(std::move(*split), dcs);
}

EncodedContent single(std::string data, std::string udh, uint8_t dcs, bool binary) {
  EncodedContent out;
  out.kind = binary ? "Binary" : "Text";
  out.parts.push_back(ContentPart{std::move(data), std::move(udh), dcs, binary});
  return out;
}

// Septets after a header: packed whole, or split when too long.
platform::Result<EncodedContent> septetContent(const std::string& septets, const std::string& udh,
                                               uint8_t dcs, const ContentInput& in,
                                               const std::function<uint16_t()>& next_reference) {
  if (!in.never_split && encoding::needsSplitting(UserDataKind::kSeptets, septets.size(),
                                                  headerOctets(udh), in.options))
    return splitResult(encoding::splitSeptets(septets, udh, next_reference(), in.options), dcs);
  return single(encoding::PackGSMSeptetsToHex(septets, headerOctets(udh)), udh, dcs, true);
}

platform::Result<EncodedContent> ucs2Content(const std::u16string& units, const std::string& udh,
                                             uint8_t dcs, const ContentInput& in,
                                             const std::function<uint16_t()>& next_reference) {
  if (!in.never_split &&
      encoding::needsSplitting(UserDataKind::kUcs2, units.size(), headerOctets(udh), in.options))
    return splitResult(encoding::splitUcs2(units, udh, next_reference(), in.options), dcs);
  return single(ucs2Hex(units), udh, dcs, true);
}

// The first `ShiftTables` language that carries the text: its septets and
// the header announcing the tables.
bool shiftTableText(const std::string& utf8, const std::vector<int>& languages,
                    std::string* septets, std::string* udh) {
  for (int language : languages) {
    std::string out;
    int used = encoding::UTF8ToShiftTableString(language, utf8, &out);
    if (used == 0) continue;
    std::string elements;
    if (used & encoding::kSingleShiftUsed) {
      foundation::DebugLog(kTag, "Using single shift table");
      elements += platform::format("2401%02X", language);
    }
    if (used & encoding::kLockingShiftUsed) {
      foundation::DebugLog(kTag, "Using locking shift table");
      elements += platform::format("2501%02X", language);
    }
    *udh = platform::format("%02X", static_cast<unsigned>(elements.size() / 2)) + elements;
    *septets = std::move(out);
    return true;
  }
  return false;
}

platform::Result<EncodedContent> textContent(const ContentInput& in,
                                             const std::function<uint16_t()>& next_reference) {
  encoding::SMSText text = encoding::encodeSMSText(in.text);
  if (!text.ucs2) {
    if (!in.never_split && encoding::needsSplitting(text, in.options)) {
      return splitResult(encoding::splitText(text, next_reference(), in.options),
                         septetCoding(in.dcs, in.options));
    }
    return single(std::move(text.utf8), {}, in.dcs, false);
  }
  std::string septets, udh;
  if (shiftTableText(text.utf8, in.shift_tables, &septets, &udh)) {
    // Every segment needs the shift elements to be read right.
    ContentInput shifted = in;
    shifted.options.RepeatUDHAllSegments = true;
    return septetContent(septets, udh, septetCoding(in.dcs, in.options), shifted, next_reference);
  }
  foundation::DebugLog(kTag, "SMS message must be submitted with Unicode");
  return ucs2Content(text.units, {}, ucs2DataCoding(in.dcs), in, next_reference);
}

platform::Result<EncodedContent> hexContent(const ContentInput& in,
                                            const std::function<uint16_t()>& next_reference) {
  const std::string udh = upperHex(in.udh);
  const std::string data = upperHex(in.text);
  const size_t header = headerOctets(udh);
  if (in.dcs != 0 && encoding::DCSIsGSM7Bit(in.dcs)) {
    std::string septets = encoding::UnpackHexToGSMSeptets(data, header);
    if (!in.never_split &&
        encoding::needsSplitting(UserDataKind::kSeptets, septets.size(), header, in.options))
      return splitResult(encoding::splitSeptets(septets, udh, next_reference(), in.options),
                         in.dcs);
  } else if (encoding::DCSIsUCS2(in.dcs)) {
    std::vector<uint8_t> octets = encoding::hexToOctets(data);
    if (!in.never_split &&
        encoding::needsSplitting(UserDataKind::kUcs2, octets.size() / 2, header, in.options)) {
      std::u16string units;
      for (size_t i = 0; i + 1 < octets.size(); i += 2)
        units.push_back(static_cast<char16_t>((octets[i] << 8) | octets[i + 1]));
      return splitResult(encoding::splitUcs2(units, udh, next_reference(), in.options), in.dcs);
    }
  } else {
    std::vector<uint8_t> octets = encoding::hexToOctets(data);
    if (!in.never_split &&
        encoding::needsSplitting(UserDataKind::kOctets, octets.size(), header, in.options)) {
      std::string raw(octets.begin(), octets.end());
      return splitResult(encoding::splitOctets(raw, udh, next_reference(), in.options), in.dcs);
    }
  }
  return single(data, udh, in.dcs, true);
}

// A plain text sent with a header: GSM septets after it, or UCS-2.
platform::Result<EncodedContent> textWithHeader(const ContentInput& in,
                                                const std::function<uint16_t()>& next_reference) {
  const std::string udh = upperHex(in.udh);
  encoding::SMSText text = encoding::encodeSMSText(in.text);
  if (!text.ucs2) return septetContent(text.septets, udh, in.dcs, in, next_reference);
  foundation::DebugLog(kTag, "SMS message must be submitted with Unicode");
  return ucs2Content(text.units, udh, ucs2DataCoding(in.dcs), in, next_reference);
}

}  // namespace

bool isHexOctets(std::string_view text) {
  if (text.size() % 2 != 0) return false;
  for (char c : text)
    if (encoding::hexDigitValue(c) < 0) return false;
  return true;
}

uint8_t ucs2DataCoding(uint8_t dcs) {
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

std::string withApplicationPorts(std::string_view udh, uint16_t destination, uint16_t source) {
  if (udh.empty()) return encoding::applicationPortHeader(destination, source);
  std::string element = platform::format("0504%04X%04X", destination, source);
  if (!isHexOctets(udh)) return std::string(udh) + element;  // refused by contentError
  unsigned length = static_cast<unsigned>(encoding::hexToOctets(udh.substr(0, 2)).front());
  if (length + 6 > 255) return std::string(udh);
  return platform::format("%02X", length + 6) + upperHex(udh.substr(2)) + element;
}

std::optional<std::string> contentError(const ContentInput& in) {
  if (!in.udh.empty() && !isHexOctets(in.udh))
    return std::string("Invalid format for UDH (hexadecimal digit characters only).");
  if (in.binary && !isHexOctets(in.text) && in.udh.empty())
    return std::string(
        "Invalid format for Text/Data parameter when binary flag is set (hexadecimal digit "
        "characters only).");
  return std::nullopt;
}

platform::Result<EncodedContent> encodeContent(const ContentInput& in,
                                               const std::function<uint16_t()>& next_reference) {
  ContentInput bounded = in;
  bounded.options.max_segments = std::min(bounded.options.max_segments, kMaxSubmitSegments);
  if (!bounded.binary) return textContent(bounded, next_reference);
  if (isHexOctets(bounded.text)) return hexContent(bounded, next_reference);
  return textWithHeader(bounded, next_reference);
}

}  // namespace vek::http
