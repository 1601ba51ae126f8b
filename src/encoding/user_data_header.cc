#include "encoding/user_data_header.h"

#include <vector>

#include "encoding/hex_text.h"
#include "platform/strings.h"

namespace vek::encoding {
namespace {

// Every character a hexadecimal digit and an even count of them.
bool wholeHexPairs(std::string_view hex) {
  if (hex.size() % 2 != 0) return false;
  for (char c : hex) {
    if (hexDigitValue(c) < 0) return false;
  }
  return true;
}

}  // namespace

void appendConcatenationElement(std::string* out, uint16_t reference, unsigned total,
                                unsigned number, bool reference_16bit) {
  if (reference_16bit) {
    appendHexOctet(out, kIeiConcat16Bit);
    appendHexOctet(out, 4);
    appendHexOctet(out, reference >> 8);
  } else {
    appendHexOctet(out, kIeiConcat8Bit);
    appendHexOctet(out, 3);
  }
  appendHexOctet(out, reference);
  appendHexOctet(out, total);
  appendHexOctet(out, number);
}

std::string concatenationElement(uint16_t reference, unsigned total, unsigned number,
                                 bool reference_16bit) {
  std::string out;
  appendConcatenationElement(&out, reference, total, number, reference_16bit);
  return out;
}

std::string concatenationHeader(uint16_t reference, unsigned total, unsigned number,
                                bool reference_16bit) {
  return (reference_16bit ? "06" : "05") +
         concatenationElement(reference, total, number, reference_16bit);
}

std::string applicationPortHeader(uint16_t destination, uint16_t source) {
  return platform::format("060504%02X%02X%02X%02X", destination >> 8, destination & 0xFF,
                          source >> 8, source & 0xFF);
}

InboundHeader parseInboundHeader(std::string_view udh_hex) {
  InboundHeader h;
  if (udh_hex.size() > 2 * kMaxInboundHeaderOctets || !wholeHexPairs(udh_hex)) {
    h.valid = false;
    return h;
  }
  const std::vector<uint8_t> o = hexToOctets(udh_hex);
  if (o.empty()) return h;
  const size_t end = std::min(o.size(), size_t{1} + o[0]);
  for (size_t i = 1; i + 1 < end;) {
    const uint8_t iei = o[i];
    const size_t len = o[i + 1];
    const size_t data = i + 2;
    if (data + len > end) break;
    if (iei == kIeiConcat8Bit && len >= 3) {
      h.segment = true;
      h.reference = o[data];
      h.total = o[data + 1];
      h.number = o[data + 2];
    } else if (iei == kIeiConcat16Bit && len >= 4) {
      h.segment = true;
      h.reference = static_cast<uint32_t>(o[data]) << 8 | o[data + 1];
      h.total = o[data + 2];
      h.number = o[data + 3];
    } else if (iei == kIeiApplicationPorts && len >= 2) {
      h.has_destination_port = true;
      h.destination_port = static_cast<uint16_t>(o[data] << 8 | o[data + 1]);
      if (len >= 4) {
        h.has_source_port = true;
        h.source_port = static_cast<uint16_t>(o[data + 2] << 8 | o[data + 3]);
      }
    }
    i = data + len;
  }
  if (h.segment && (h.total == 0 || h.number == 0 || h.number > h.total)) {
    h.segment = false;
    h.reference = 0;
    h.total = 0;
    h.number = 0;
  }
  return h;
}

platform::Result<std::string> headerElementsWithoutConcatenation(std::string_view udh_hex) {
  if (udh_hex.empty()) return std::string();
  if (!wholeHexPairs(udh_hex)) {
    return platform::Status::error("user data header is not hexadecimal octets");
  }
  const std::vector<uint8_t> o = hexToOctets(udh_hex);
  if (size_t{1} + o[0] != o.size()) {
    return platform::Status::error("user data header length octet does not match the header");
  }
  std::string kept;
  for (size_t i = 1; i < o.size();) {
    if (i + 1 >= o.size() || i + 2 + o[i + 1] > o.size()) {
      return platform::Status::error("user data header element runs past the header");
    }
    const size_t next = i + 2 + o[i + 1];
    if (o[i] != kIeiConcat8Bit && o[i] != kIeiConcat16Bit) {
      kept.append(reinterpret_cast<const char*>(&o[i]), next - i);
    }
    i = next;
  }
  return kept;
}

}  // namespace vek::encoding
