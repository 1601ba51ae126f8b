#include "encoding/long_message.h"

#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"
#include "encoding/septet_packing.h"
#include "encoding/user_data_header.h"
#include "encoding/utf8.h"
#include "foundation/settings.h"

namespace vek::encoding {
namespace {

constexpr unsigned kMinimumLimit = 40;
constexpr unsigned kDefaultTextLimit = 160;
constexpr unsigned kDefaultBinaryLimit = 140;
// The octet that opens an AltLongText segment: one fill bit, then the
// septet 0x0D (carriage return).
constexpr std::string_view kAltLongTextLead = "1A";

void appendHexOctets(std::string* out, std::string_view octets) {
  for (char c : octets) appendHexOctet(out, static_cast<uint8_t>(c));
}

// Septets the header octets cover, fill bits included: ceil(8u / 7).
size_t headerSeptets(size_t header_octets) {
  return (header_octets * 8 + 6) / 7;
}

// The header every segment of one split is built from.
struct HeaderPlan {
  std::string kept;  // the message's own elements (raw octets), concatenation removed
  bool reference_16bit = false;
  uint16_t reference = 0;

  size_t concatOctets() const {
    return reference_16bit ? kConcatHeaderOctets16Bit : kConcatHeaderOctets8Bit;
  }
  // u: the longest header of the split (the first segment's).
  size_t fullOctets() const { return concatOctets() + kept.size(); }

  // Appends one segment's header; returns its length in octets.
  size_t append(std::string* out, unsigned total, unsigned number, bool with_kept) const {
    const size_t octets = concatOctets() + (with_kept ? kept.size() : 0);
    appendHexOctet(out, static_cast<unsigned>(octets - 1));
    appendConcatenationElement(out, reference, total, number, reference_16bit);
    if (with_kept) appendHexOctets(out, kept);
    return octets;
  }
};

platform::Result<HeaderPlan> planHeader(std::string_view udh_hex, uint16_t reference,
                                        const SplitOptions& options) {
  auto kept = headerElementsWithoutConcatenation(udh_hex);
  if (!kept.ok()) return kept.status();
  if (kept->size() > kMaxKeptHeaderOctets) {
    return platform::Status::error("user data header elements exceed 149 octets");
  }
  HeaderPlan plan;
  plan.kept = std::move(kept).value();
  plan.reference_16bit = options.ConcatRef16Bit;
  plan.reference = reference;
  return plan;
}

platform::Status noRoom() {
  return platform::Status::error("user data header leaves no room for a character in a segment");
}

// The end of each segment: at most `room` units from its start, moved back
// by `keepWhole(start, end)` so that a character is never cut in two.
template <typename KeepWhole>
platform::Result<std::vector<size_t>> cutPoints(size_t length, size_t room, size_t max_segments,
                                                KeepWhole keepWhole, size_t* dropped) {
  std::vector<size_t> ends;
  if (room == 0) return noRoom();
  if (max_segments == 0 || max_segments > kMaxSegments) max_segments = kMaxSegments;
  ends.reserve(length / room + 1);
  size_t start = 0;
  while (start < length && ends.size() < max_segments) {
    size_t end = start + room < length ? start + room : length;
    if (end < length) end = keepWhole(start, end);
    if (end == start) return noRoom();
    ends.push_back(end);
    start = end;
  }
  if (ends.empty()) ends.push_back(0);  // an empty message is one empty segment
  *dropped = length - start;
  return ends;
}

// Builds the segments: headers from `plan`, data by `appendData(segment,
// begin, end, header_octets)`.
template <typename AppendData>
SplitMessage buildSegments(const HeaderPlan& plan, const std::vector<size_t>& ends, size_t dropped,
                           bool repeat_header, AppendData appendData) {
  SplitMessage out;
  out.dropped = dropped;
  out.segments.resize(ends.size());
  const unsigned total = static_cast<unsigned>(ends.size());
  size_t begin = 0;
  for (size_t i = 0; i < ends.size(); ++i) {
    Segment& s = out.segments[i];
    s.udh.reserve(2 * plan.fullOctets());
    const size_t header_octets =
        plan.append(&s.udh, total, static_cast<unsigned>(i + 1), i == 0 || repeat_header);
    s.units = ends[i] - begin;
    appendData(&s, begin, ends[i], header_octets);
    begin = ends[i];
  }
  return out;
}

// `end` moved back by one when the septet before it opens an escape pair:
// an odd run of escapes ending there (counted from `start`, a character
// boundary) ends in an escape whose partner lies beyond `end`.
size_t keepEscapePairs(std::string_view septets, size_t start, size_t end) {
  size_t run = 0;
  for (size_t i = end; i > start && static_cast<uint8_t>(septets[i - 1]) == kGsmEscape; --i) ++run;
  return run % 2 == 1 ? end - 1 : end;
}

size_t keepSurrogatePairs(std::u16string_view units, size_t end) {
  const char16_t last = units[end - 1];
  const char16_t next = units[end];
  const bool high = last >= 0xD800 && last <= 0xDBFF;
  const bool low = next >= 0xDC00 && next <= 0xDFFF;
  return high && low ? end - 1 : end;
}

// Splits `length` units of 8-bit or UCS-2 data under the header planned
// from `udh_hex`, cut where `keepWhole` says; `fill(segment, begin, end)`
// writes each segment's data.
template <typename KeepWhole, typename Fill>
platform::Result<SplitMessage> splitUnits(UserDataKind kind, size_t length,
                                          std::string_view udh_hex, uint16_t reference,
                                          const SplitOptions& options, KeepWhole keepWhole,
                                          Fill fill) {
  auto plan = planHeader(udh_hex, reference, options);
  if (!plan.ok()) return plan.status();
  size_t dropped = 0;
  auto ends = cutPoints(length, segmentRoom(kind, plan->fullOctets(), options),
                        options.max_segments, keepWhole, &dropped);
  if (!ends.ok()) return ends.status();
  return buildSegments(*plan, *ends, dropped, options.RepeatUDHAllSegments,
                       [&](Segment* s, size_t begin, size_t end, size_t) { fill(s, begin, end); });
}

platform::Result<SplitMessage> splitSeptetsWith(std::string_view septets, const HeaderPlan& plan,
                                                bool alt_long_text, const SplitOptions& options) {
  // AltLongText's leading octet makes the header one octet longer.
  const size_t header_octets = plan.fullOctets() + (alt_long_text ? 1 : 0);
  size_t dropped = 0;
  auto ends = cutPoints(
      septets.size(), segmentRoom(UserDataKind::kSeptets, header_octets, options),
      options.max_segments,
      [&](size_t start, size_t end) { return keepEscapePairs(septets, start, end); }, &dropped);
  if (!ends.ok()) return ends.status();
  return buildSegments(plan, *ends, dropped, options.RepeatUDHAllSegments,
                       [&](Segment* s, size_t begin, size_t end, size_t own_header) {
                         const std::string_view part = septets.substr(begin, end - begin);
                         if (alt_long_text) {
                           s->data = std::string(kAltLongTextLead) + PackGSMSeptetsToHex(part, 0);
                         } else {
                           s->data = PackGSMSeptetsToHex(part, own_header);
                         }
                       });
}

}  // namespace

unsigned SplitOptions::textLimit() const {
  return MaxSMSSegmentLengthText < kMinimumLimit ? kDefaultTextLimit : MaxSMSSegmentLengthText;
}

unsigned SplitOptions::binaryLimit() const {
  return MaxSMSSegmentLengthBinary < kMinimumLimit ? kDefaultBinaryLimit
                                                   : MaxSMSSegmentLengthBinary;
}

SplitOptions splitOptionsFromSettings() {
  const auto s = foundation::settings();
  SplitOptions o;
  o.MaxSMSSegmentLengthText = s->MaxSMSSegmentLengthText;
  o.MaxSMSSegmentLengthBinary = s->MaxSMSSegmentLengthBinary;
  o.ConcatRef16Bit = s->ConcatRef16Bit;
  o.AltLongText = s->AltLongText;
  o.RepeatUDHAllSegments = s->RepeatUDHAllSegments;
  o.SendLongMessagesAsIs = s->SendLongMessagesAsIs;
  o.LongTextDCS = static_cast<uint8_t>(s->LongTextDCS);
  return o;
}

size_t segmentRoom(UserDataKind kind, size_t header_octets, const SplitOptions& options) {
  if (kind == UserDataKind::kSeptets) {
    const size_t taken = headerSeptets(header_octets);
    return options.textLimit() > taken ? options.textLimit() - taken : 0;
  }
  const size_t octets =
      options.binaryLimit() > header_octets ? options.binaryLimit() - header_octets : 0;
  return kind == UserDataKind::kUcs2 ? octets / 2 : octets;
}

bool needsSplitting(UserDataKind kind, size_t units, size_t header_octets,
                    const SplitOptions& options) {
  if (options.SendLongMessagesAsIs) return false;
  switch (kind) {
    case UserDataKind::kSeptets:
      return headerSeptets(header_octets) + units > options.textLimit();
    case UserDataKind::kUcs2:
      return header_octets + 2 * units > options.binaryLimit();
    case UserDataKind::kOctets:
      return header_octets + units > options.binaryLimit();
  }
  return false;
}

platform::Result<SplitMessage> splitSeptets(std::string_view septets, std::string_view udh_hex,
                                            uint16_t reference, const SplitOptions& options) {
  auto plan = planHeader(udh_hex, reference, options);
  if (!plan.ok()) return plan.status();
  return splitSeptetsWith(septets, *plan, false, options);
}

platform::Result<SplitMessage> splitUcs2(std::u16string_view units, std::string_view udh_hex,
                                         uint16_t reference, const SplitOptions& options) {
  return splitUnits(
      UserDataKind::kUcs2, units.size(), udh_hex, reference, options,
      [&](size_t, size_t end) { return keepSurrogatePairs(units, end); },
      [&](Segment* s, size_t begin, size_t end) {
        s->data = UCS2ToHex(units.substr(begin, end - begin));
      });
}

platform::Result<SplitMessage> splitOctets(std::string_view octets, std::string_view udh_hex,
                                           uint16_t reference, const SplitOptions& options) {
  return splitUnits(
      UserDataKind::kOctets, octets.size(), udh_hex, reference, options,
      [](size_t, size_t end) { return end; },
      [&](Segment* s, size_t begin, size_t end) {
        s->data.reserve(2 * (end - begin));
        appendHexOctets(&s->data, octets.substr(begin, end - begin));
      });
}

SMSText encodeSMSText(std::string_view utf8) {
  SMSText t;
  t.utf8 = std::string(utf8);
  FoldGreekLookalikes(&t.utf8);
  t.ucs2 = UTF8StringRequiresUnicodeEncoding(t.utf8);
  if (t.ucs2) {
    t.units = UTF8ToUCS2(t.utf8);
  } else {
    t.septets = UTF8ToGSMString(t.utf8, kMaxSplitSeptets);
  }
  return t;
}

bool needsSplitting(const SMSText& text, const SplitOptions& options) {
  return needsSplitting(text.ucs2 ? UserDataKind::kUcs2 : UserDataKind::kSeptets, text.length(), 0,
                        options);
}

platform::Result<SplitMessage> splitText(const SMSText& text, uint16_t reference,
                                         const SplitOptions& options) {
  if (text.ucs2) return splitUcs2(text.units, {}, reference, options);
  auto plan = planHeader({}, reference, options);
  if (!plan.ok()) return plan.status();
  // With a 16-bit reference the header already ends on a septet boundary.
  const bool alt = options.AltLongText && !options.ConcatRef16Bit;
  return splitSeptetsWith(text.septets, *plan, alt, options);
}

}  // namespace vek::encoding
