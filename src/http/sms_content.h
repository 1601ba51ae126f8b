// The content of a submitted message: from the request's text or data, its
// user data header and coding to the parts that become request files (one
// part, or the segments of a long message).
//
// Text mode (neither `Data`, `UDH` nor a port given):
//  - GSM 7-bit text stays text (one part, plain `Data`), or is split into
//    segments of packed septets when it is longer than one message;
//  - other text is tried with each national language table of
//    `ShiftTables`; the first that carries it adds "2401%02X" and/or
//    "2501%02X" to the header and the text goes as packed septets;
//  - otherwise UCS-2, with a data coding scheme that says so.
// Binary mode: `Data` (or `Text`) as hexadecimal octets with the header;
// a plain text with a header is encoded (GSM septets after the header, or
// UCS-2) instead of refused. Over one message it is split: as septets,
// UCS-2 units or octets by its data coding scheme.
//
// Segments each carry a concatenation element with one reference for the
// whole message, drawn from `next_reference` only when splitting; at most
// 100 segments are made (more text is left out and logged).
//
// Pure apart from the debug log; thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "encoding/long_message.h"
#include "platform/status.h"

namespace vek::http {

inline constexpr size_t kMaxSubmitSegments = 100;

struct ContentInput {
  std::string text;     // UTF-8 text, or hexadecimal data
  bool binary = false;  // Data, UDH or a port was given
  std::string udh;      // hexadecimal, ports already added
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::vector<int> shift_tables;
  encoding::SplitOptions options;
  bool never_split = false;  // injected inbound messages stay whole
};

// One request file's content.
struct ContentPart {
  std::string data;  // plain text (binary false) or hexadecimal
  std::string udh;
  uint8_t dcs = 0;
  bool binary = false;
};

struct EncodedContent {
  std::vector<ContentPart> parts;
  const char* kind = "Text";  // "Text", "Binary" or "LongText", for the message logs
};

// The header given with the ports added: an application port element
// (16-bit) appended to `udh` (a header is made when there is none).
std::string withApplicationPorts(std::string_view udh, uint16_t destination, uint16_t source);

// The checks of the send path on content, in order; the error text, or
// nullopt when the content may be encoded.
std::optional<std::string> contentError(const ContentInput& in);

// Encodes checked content. The error text when it cannot be split (for
// example a header too long to leave room for text).
platform::Result<EncodedContent> encodeContent(const ContentInput& in,
                                               const std::function<uint16_t()>& next_reference);

// The data coding scheme of UCS-2 text sent with the requested `dcs`:
// bit 3 set (alphabet bits 10) where the coding group has an alphabet,
// else 0x08.
uint8_t ucs2DataCoding(uint8_t dcs);

// True when `text` is an even number of hexadecimal digits.
bool isHexOctets(std::string_view text);

}  // namespace vek::http
