// Splitting with random settings, a random header of the message's own and
// random payload. Byte 0 picks the kind and the options, byte 1 the
// limits, byte 2 the header length; the header bytes follow (usually with
// a correct length octet), the rest is the payload. Whatever is accepted
// must give the payload back in order (minus what was dropped), fit every
// segment within its limit and never end a segment inside an escape or
// surrogate pair; the inbound header parser must accept any text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/hex_text.h"
#include "encoding/long_message.h"
#include "encoding/septet_packing.h"
#include "encoding/user_data_header.h"

namespace {

using namespace vek::encoding;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  SplitOptions o;
  o.ConcatRef16Bit = mode & 0x04;
  o.RepeatUDHAllSegments = mode & 0x08;
  o.MaxSMSSegmentLengthText = static_cast<uint16_t>(30 + data[1]);
  o.MaxSMSSegmentLengthBinary = static_cast<uint16_t>(30 + (data[1] ^ 0x5A));
  o.max_segments = 1 + (mode >> 4) * 20;
  size_t header_len = data[2] % 40;
  if (header_len > size - 3) header_len = size - 3;
  std::string header(reinterpret_cast<const char*>(data + 3), header_len);
  if (!header.empty() && (mode & 0x10)) header[0] = static_cast<char>(header.size() - 1);
  const std::string udh =
      header.empty() ? std::string()
                     : octetsToHex(reinterpret_cast<const uint8_t*>(header.data()), header.size());
  (void)parseInboundHeader(udh);
  const std::string_view rest(reinterpret_cast<const char*>(data + 3 + header_len),
                              size - 3 - header_len);

  switch (mode % 3) {
    case 0: {
      std::string septets(rest);
      for (char& c : septets) c = static_cast<char>(c & 0x7F);
      auto split = splitSeptets(septets, udh, 0x1234, o);
      if (!split.ok()) return 0;
      std::string back;
      for (const Segment& s : split->segments) {
        const size_t header_octets = s.udh.size() / 2;
        check(((header_octets * 8 + 6) / 7) + s.units <= o.textLimit());
        std::string part = UnpackHexToGSMSeptets(s.data, header_octets, s.units);
        part.resize(s.units, '\0');  // a trailing '@' may read as padding
        back += part;
      }
      check(back.size() + split->dropped == septets.size());
      check(back == septets.substr(0, back.size()));
      break;
    }
    case 1: {
      std::u16string units;
      for (size_t i = 0; i + 1 < rest.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(rest[i]) << 8 |
                                              static_cast<uint8_t>(rest[i + 1])));
      auto split = splitUcs2(units, udh, 0x1234, o);
      if (!split.ok()) return 0;
      size_t pos = 0;
      for (const Segment& s : split->segments) {
        check(s.udh.size() / 2 + 2 * s.units <= o.binaryLimit());
        check(s.data.size() == 4 * s.units);
        pos += s.units;
        if (pos < units.size()) {
          const char16_t last = units[pos - 1], next = units[pos];
          check(!(last >= 0xD800 && last <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF));
        }
      }
      check(pos + split->dropped == units.size());
      break;
    }
    default: {
      auto split = splitOctets(rest, udh, 0x1234, o);
      if (!split.ok()) return 0;
      std::string back;
      for (const Segment& s : split->segments) {
        check(s.udh.size() / 2 + s.units <= o.binaryLimit());
        const auto octets = hexToOctets(s.data);
        back.append(octets.begin(), octets.end());
      }
      check(back.size() + split->dropped == rest.size());
      check(back == rest.substr(0, back.size()));
    }
  }
  return 0;
}
