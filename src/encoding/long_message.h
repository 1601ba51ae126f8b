// Long messages: splitting a text or a block of data that does not fit one
// SMS into concatenated segments, each with a user data header that names
// the long message (a reference), the number of segments and its place.
//
//   SMSText text = encodeSMSText(utf8);           // 7-bit or UCS-2, decided once
//   if (needsSplitting(text, options)) {
//     auto split = splitText(text, NextConcatReference(), options);
//     if (!split.ok()) ...                         // refused: no room per segment
//     for (const Segment& s : split->segments) ... // s.udh, s.data: hexadecimal
//   }
//
// Room per segment. A segment holds MaxSMSSegmentLengthText septets (7-bit)
// or MaxSMSSegmentLengthBinary octets (UCS-2, 8-bit data), header included;
// a limit below 40 means the default (160, 140). The header is u octets:
// 6 for the 8-bit-reference concatenation element, 7 for the 16-bit one,
// plus the message's own elements when it came with a header (those are
// kept, its own concatenation elements are dropped). 7-bit text takes the
// limit minus the septets the header covers (ceil(8u / 7): 153 septets with
// u = 6, 152 with u = 7) and is packed with the header length as fill
// offset, so each segment's text starts on a septet boundary; UCS-2 and
// 8-bit data take the limit minus u octets (67 and 66 UCS-2 characters).
// With AltLongText a 7-bit text without a header of its own goes in
// segments of the limit minus 8 septets whose data starts with the octet
// 1A: one fill bit and a carriage return, then the septets packed from a
// septet boundary. With a 16-bit reference the 7-octet header already ends
// on a septet boundary and the segments are the ordinary 152-septet ones
// (the leading octet would make a full segment one octet too long).
//
// Cuts never separate the two septets of an escape pair or the two halves
// of a surrogate pair: such a character moves whole to the next segment. A
// header that leaves no room for a character refuses the split (a Status,
// never an empty or negative segment). At most `max_segments` segments
// (255, the most a header can count) are made; what does not fit is left
// out and counted in `dropped`.
//
// With RepeatUDHAllSegments off, segments after the first carry only the
// concatenation element; the first keeps the message's own elements.
//
// Pure functions; thread-safe. The reference comes from the caller (the
// process-wide concatenation counter lives with the queue's counters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vek::encoding {

inline constexpr size_t kMaxSegments = 255;
// Octets of a message's own header elements that splitting keeps at most.
inline constexpr size_t kMaxKeptHeaderOctets = 149;
// Septets a text is measured to before it is split.
inline constexpr size_t kMaxSplitSeptets = 0x3FFF;

// The settings that govern splitting, named after their keys.
struct SplitOptions {
  uint16_t MaxSMSSegmentLengthText = 160;
  uint16_t MaxSMSSegmentLengthBinary = 140;
  bool ConcatRef16Bit = false;
  bool AltLongText = false;
  bool RepeatUDHAllSegments = true;
  bool SendLongMessagesAsIs = false;
  uint8_t LongTextDCS = 0;
  size_t max_segments = kMaxSegments;

  // The limits in force: below 40 means 160 and 140.
  unsigned textLimit() const;
  unsigned binaryLimit() const;
};
// The options from the settings in force.
SplitOptions splitOptionsFromSettings();

enum class UserDataKind { kSeptets, kUcs2, kOctets };

struct Segment {
  std::string udh;   // hexadecimal, length octet first
  std::string data;  // hexadecimal: packed septets, "%04X" per UCS-2 unit, or octets
  size_t units = 0;  // septets, UCS-2 units or octets of the message it carries
};

struct SplitMessage {
  std::vector<Segment> segments;
  size_t dropped = 0;  // units left out beyond max_segments
};

// Units of `kind` one segment has room for beside a header of
// `header_octets` octets (length octet included); 0 when the header
// leaves none.
size_t segmentRoom(UserDataKind kind, size_t header_octets, const SplitOptions& options);

// Whether a message of `units` units with a header of `header_octets`
// octets (0: none) is over one SMS and SendLongMessagesAsIs is off.
bool needsSplitting(UserDataKind kind, size_t units, size_t header_octets,
                    const SplitOptions& options);

// Splits with a concatenation element in every segment, under `reference`
// (with an 8-bit reference only its low octet is used). `udh_hex` is the
// message's own header ("" for none). Refused: a malformed header, kept
// elements above 149 octets, or no room for a character per segment.
platform::Result<SplitMessage> splitSeptets(std::string_view septets, std::string_view udh_hex,
                                            uint16_t reference, const SplitOptions& options);
platform::Result<SplitMessage> splitUcs2(std::u16string_view units, std::string_view udh_hex,
                                         uint16_t reference, const SplitOptions& options);
platform::Result<SplitMessage> splitOctets(std::string_view octets, std::string_view udh_hex,
                                           uint16_t reference, const SplitOptions& options);

// A UTF-8 text prepared for SMS: Greek capitals with Latin look-alikes
// folded, then the loss test decides; 7-bit text is converted to at most
// 0x3FFF septets, other text to UCS-2 (at most 8191 units).
struct SMSText {
  bool ucs2 = false;
  std::string utf8;      // the folded text
  std::string septets;   // 7-bit: unpacked septets
  std::u16string units;  // UCS-2
  size_t length() const { return ucs2 ? units.size() : septets.size(); }
};
SMSText encodeSMSText(std::string_view utf8);

// A text with no header of its own: over MaxSMSSegmentLengthText septets,
// or over half of MaxSMSSegmentLengthBinary UCS-2 units, and
// SendLongMessagesAsIs off.
bool needsSplitting(const SMSText& text, const SplitOptions& options);
// Splits a text with no header of its own (AltLongText applies here).
platform::Result<SplitMessage> splitText(const SMSText& text, uint16_t reference,
                                         const SplitOptions& options);

}  // namespace vek::encoding
