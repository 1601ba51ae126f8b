// Content encoding: from a message's text or data, header and coding to
// the parts that become request files (one part, or the segments of a long
// message), through encoding/.
//
// Text mode (not binary):
//  - GSM 7-bit text stays text (one part, plain `Data`), or is split into
//    segments of packed septets when it is longer than one message;
//  - other text is tried with each national language table of
//    `shift_tables`; the first that carries it adds "2401%02X" and/or
//    "2501%02X" to the header and the text goes as packed septets;
//  - otherwise UCS-2, with a data coding scheme that says so (ucs2Coding).
// Binary mode: the text as hexadecimal octets after the header, coded as
// asked or, when no coding was asked for, with BinaryDCS; a plain text
// with a header is encoded (GSM septets after the header, or UCS-2)
// instead of refused. Over one message it is split: as septets, UCS-2
// units or octets by its data coding scheme.
//
// Segments each carry a concatenation element with one reference for the
// whole message, drawn from `next_reference` only when splitting; at most
// `max_segments` are made (more text is left out and logged). Messages for
// the inbound directory (injected inbound messages, receipts) stay whole.
//
// Pure apart from the debug log and the ShiftTables read; thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/long_message.h"
#include "submit/error.h"
#include "submit/message.h"

namespace vek::submit {

// Segments a submission makes at most.
inline constexpr size_t kMaxSubmitSegments = 100;

struct EncodeOptions {
  std::vector<int> shift_tables;  // ShiftTables: national languages, in order
  encoding::SplitOptions split;   // the long-message settings
  size_t max_segments = kMaxSubmitSegments;
  uint8_t binary_dcs = 0xF5;  // BinaryDCS: hexadecimal octets without a coding asked for
  // Automatic replies: an unsplit UCS-2 text (SendLongMessagesAsIs) is
  // cut to one message's worth of units.
  bool cut_unsplit_ucs2 = false;
  const char* log_tag = "ThreadProcessConnection";
};
// The options from the settings in force (ShiftTables read from
// "SMSGW.INI" now: it takes effect without a reload).
EncodeOptions encodeOptionsFromSettings();

// "1, 13,x,300" -> {1, 13}.
std::vector<int> parseShiftTables(std::string_view list);

// Encodes `m`'s content (checked by validateMessage). Refused (kind
// kCannotEncode, "Unable to split message: ...") when it cannot be split,
// for example a header too long to leave room for text.
Checked<EncodedMessage> encodeMessage(const Message& m, const EncodeOptions& options,
                                      const std::function<uint16_t()>& next_reference);

// The header the message's content carries: `udh` with the application
// port element (16-bit) when a port is given (a header is made when there
// is none).
std::string headerWithPorts(const Content& c);

// The data coding scheme of UCS-2 text sent with the requested `dcs`: the
// requested one with bit 3 set (alphabet bits 10) where its coding group
// has an alphabet; for the group F0-FF, 0x18 plus the message class (F0
// gives 18); else 0x08.
uint8_t ucs2Coding(uint8_t dcs);

// True when `text` is an even number of hexadecimal digits.
bool isHexOctets(std::string_view text);

}  // namespace vek::submit
