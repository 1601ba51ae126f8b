#include "protocols/message_text.h"

#include "encoding/dcs.h"
#include "encoding/shift_tables.h"
#include "encoding/utf8.h"

namespace vek::protocols {

Alphabet alphabetOf(uint8_t dcs) {
  // SMPP's own values for the low group (bits 7-4 zero).
  switch (dcs) {
    case 0x00:
      return Alphabet::kGsm7;
    case 0x01:
      return Alphabet::kAscii;
    case 0x03:
      return Alphabet::kLatin1;
    case 0x08:
      return Alphabet::kUcs2;
    default:
      break;
  }
  if (dcs < 0x10) return Alphabet::kBinary;  // octet data and national character sets
  // Above it, the GSM coding groups.
  if (encoding::DCSIsGSM7Bit(dcs)) return Alphabet::kGsm7;
  if (encoding::DCSIsUCS2(dcs)) return Alphabet::kUcs2;
  return Alphabet::kBinary;
}

std::string utf8ToUcs2(std::string_view utf8) {
  // Every character takes at least one byte of UTF-8 and at most two units,
  // four bytes for two: the capacity never cuts.
  const std::u16string units = encoding::UTF8ToUCS2(utf8, utf8.size() + 1);
  std::string out(units.size() * 2, '\0');
  for (size_t k = 0; k < units.size(); ++k) {
    out[2 * k] = static_cast<char>(units[k] >> 8);
    out[2 * k + 1] = static_cast<char>(units[k] & 0xFF);
  }
  return out;
}

std::string utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const char32_t cp = encoding::decodeUtf8Char(utf8, &i);
    out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
  }
  return out;
}

std::string latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() * 2);
  for (char c : latin1) encoding::appendUtf8(&out, static_cast<uint8_t>(c));
  return out;
}

std::string gsmToUtf8(std::string_view octets, std::string_view udh) {
  const encoding::ShiftLanguages languages = encoding::shiftLanguagesOf(udh);
  if (!encoding::TextHas8BitBytes(octets))
    return encoding::nationalSeptetsToUTF8(octets, languages);
  std::string out;
  // Runs of septets go to the alphabet as a whole (an escape and its code
  // stay together); each octet between them is one Latin-1 character.
  size_t start = 0;
  for (size_t i = 0; i <= octets.size(); ++i) {
    if (i < octets.size() && (static_cast<uint8_t>(octets[i]) & 0x80) == 0) continue;
    if (i > start)
      out += encoding::nationalSeptetsToUTF8(octets.substr(start, i - start), languages);
    if (i < octets.size()) encoding::appendUtf8(&out, static_cast<uint8_t>(octets[i]));
    start = i + 1;
  }
  return out;
}

}  // namespace vek::protocols
