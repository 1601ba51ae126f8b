#include "modem/pdu_decode.h"

#include <vector>

#include "encoding/dcs.h"
#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"
#include "encoding/shift_tables.h"
#include "encoding/utf8.h"
#include "foundation/debug_log.h"
#include "platform/byte_io.h"
#include "platform/strings.h"

namespace vek::modem {
namespace {

using platform::ByteReader;
using platform::Status;

constexpr char kTag[] = "ModemReceiveMessages";
constexpr size_t kMaxAddressSemiOctets = 20;
constexpr size_t kMaxSmscOctets = 11;  // type octet and 10 octets of digits

Status corrupt(const std::string& what) {
  return Status::error("Invalid PDU: " + what);
}

// Octets of `hex` (whole pairs only; anything else refuses the PDU).
bool hexOctets(std::string_view hex, std::string* out) {
  if (hex.size() % 2 != 0 || hex.size() > kMaxPduHex) return false;
  out->clear();
  out->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = encoding::hexDigitValue(hex[i]);
    const int lo = encoding::hexDigitValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

char semiOctetChar(unsigned v) {
  static constexpr char kChars[] = "0123456789*#abc";
  return v < 15 ? kChars[v] : '\0';
}

std::string bcdDigits(std::string_view octets, size_t count) {
  std::string out;
  for (size_t i = 0; i < octets.size() && out.size() < count; ++i) {
    const auto o = static_cast<uint8_t>(octets[i]);
    for (unsigned nibble : {o & 0x0Fu, static_cast<unsigned>(o >> 4)}) {
      if (out.size() >= count) break;
      if (char c = semiOctetChar(nibble)) out.push_back(c);
    }
  }
  return out;
}

// Septet i of packed user data: bits 7i .. 7i+6, least significant first.
std::string unpackSeptets(std::string_view octets, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t bit = i * 7;
    const size_t at = bit / 8;
    const unsigned shift = bit % 8;
    unsigned v = static_cast<uint8_t>(octets[at]) >> shift;
    if (shift > 1 && at + 1 < octets.size())
      v |= static_cast<unsigned>(static_cast<uint8_t>(octets[at + 1])) << (8 - shift);
    out.push_back(static_cast<char>(v & 0x7F));
  }
  return out;
}

unsigned swappedValue(uint8_t o) {
  return (o & 0x0F) * 10 + (o >> 4);
}

bool readTimestamp(ByteReader& r, PduTimestamp* t) {
  std::string b;
  if (!r.bytes(7, &b)) return false;
  auto v = [&](int i) { return static_cast<int>(swappedValue(static_cast<uint8_t>(b[i]))); };
  t->year = v(0);
  t->month = v(1);
  t->day = v(2);
  t->hour = v(3);
  t->minute = v(4);
  t->second = v(5);
  const auto z = static_cast<uint8_t>(b[6]);
  const int quarters = (z & 0x07) * 10 + (z >> 4);
  t->zone_quarters = (z & 0x08) ? -quarters : quarters;
  return true;
}

std::string timestampText(const PduTimestamp& t) {
  return platform::format("%02d/%02d/%02d %02d:%02d:%02d %+d", t.year, t.month, t.day, t.hour,
                          t.minute, t.second, t.zone_quarters);
}

// An originator or recipient address: its length counts semi-octets
// (digits), or for an alphanumeric address the semi-octets of its packed
// septets.
bool readAddress(ByteReader& r, bool alpha_bug, std::string* out, uint8_t* type, const char* label,
                 std::string* why) {
  uint8_t len = 0;
  if (!r.u8(&len) || !r.u8(type)) {
    *why = std::string(label) + " address missing";
    return false;
  }
  foundation::DebugLogf(kTag, "%s address len = %u", label, len);
  const bool alpha = (*type & 0xD0) == 0xD0;
  size_t semi = len;
  if (alpha && alpha_bug) {
    foundation::DebugLog(kTag,
                         "Compensating for AlphaSenderAddressBug (address length bug on messages "
                         "with Alpha Sender noticed first on Sierra Wireless AirCard 750)");
    semi = len >= 1 ? 2u * len - 2u : 0;
  }
  if (semi > kMaxAddressSemiOctets + 2) {
    *why = std::string(label) + " address length " + std::to_string(len) + " is too long";
    return false;
  }
  std::string octets;
  if (!r.bytes((semi + 1) / 2, &octets)) {
    *why = std::string(label) + " address length " + std::to_string(len) + " exceeds the PDU";
    return false;
  }
  if (alpha) {
    *out = encoding::GSMToUTF8String(unpackSeptets(octets, semi * 4 / 7));
  } else {
    *out = bcdDigits(octets, semi);
    if ((*type & 0x70) == 0x10 && !out->empty()) out->insert(out->begin(), '+');
  }
  return true;
}

bool readUserData(ByteReader& r, ReceivedPdu* p, std::string* why) {
  uint8_t udl = 0;
  if (!r.u8(&udl)) {
    *why = "user data length missing";
    return false;
  }
  foundation::DebugLogf(kTag, "Anticipated user data length = %u", udl);
  const bool septets = encoding::DCSIsGSM7Bit(p->dcs);
  if (septets ? udl > 160 : udl > 140) {
    *why = "user data length " + std::to_string(udl) + " is too long";
    return false;
  }
  const size_t need = septets ? (udl * 7u + 7u) / 8u : udl;
  std::string ud;
  if (!r.bytes(need, &ud)) {
    *why = "user data length " + std::to_string(udl) + " exceeds the PDU (" +
           std::to_string(r.remaining()) + " octets left)";
    return false;
  }
  if (!r.empty())
    foundation::DebugLogf(kTag, "%zu octets after the user data ignored", r.remaining());

  size_t header_octets = 0;
  if (p->first_octet & 0x40) {
    foundation::DebugLog(kTag, "User Data Header is present");
    header_octets = ud.empty() ? 0 : static_cast<uint8_t>(ud[0]) + size_t{1};
    const size_t room = septets ? udl * 7u / 8u : ud.size();
    if (ud.empty() || header_octets > room) {
      *why = "user data header length exceeds the user data";
      return false;
    }
    p->udh = encoding::octetsToHex(reinterpret_cast<const uint8_t*>(ud.data()), header_octets);
  }
  if (septets) {
    const size_t skip = (header_octets * 8 + 6) / 7;
    std::string all = unpackSeptets(ud, udl);
    std::string_view text = std::string_view(all).substr(skip < all.size() ? skip : all.size());
    const std::string header(ud.data(), header_octets);
    p->data = encoding::nationalSeptetsToUTF8(text, encoding::shiftLanguagesOf(header));
    foundation::DebugLogf(kTag, "Message = %s", p->data.c_str());
  } else {
    p->binary = true;
    p->data = encoding::octetsToHex(reinterpret_cast<const uint8_t*>(ud.data()) + header_octets,
                                    ud.size() - header_octets);
    if (encoding::DCSIsUCS2(p->dcs))
      foundation::DebugLogf(kTag, "Message = %s", encoding::UCS2HexToUTF8(p->data).c_str());
    else
      foundation::DebugLogf(kTag, "Binary message = %s %s", p->udh.c_str(), p->data.c_str());
  }
  return true;
}

// The service centre address; false when it cannot be one.
bool readSmsc(ByteReader& r, std::string* smsc, bool* implausible) {
  uint8_t len = 0;
  if (!r.u8(&len)) return false;
  foundation::DebugLogf(kTag, "SMSC address len = %u", len);
  if (len == 0) return true;
  uint8_t type = 0;
  if (len > kMaxSmscOctets || !r.peek(&type) || (type & 0x80) == 0) {
    *implausible = true;
    return false;
  }
  std::string octets;
  if (!r.skip(1) || !r.bytes(len - 1u, &octets)) {
    *implausible = true;
    return false;
  }
  *smsc = bcdDigits(octets, octets.size() * 2);
  if ((type & 0x70) == 0x10 && !smsc->empty()) smsc->insert(smsc->begin(), '+');
  foundation::DebugLogf(kTag, "SMSC Address = %s", smsc->c_str());
  return true;
}

platform::Result<ReceivedPdu> decodeTpdu(ByteReader& r, ReceivedPdu p,
                                         const DecodeOptions& options) {
  std::string why;
  if (!r.u8(&p.first_octet)) return corrupt("first octet missing");
  const unsigned mti = p.first_octet & 0x03;
  if (mti == 0) {
    p.type = ReceivedPdu::Type::kDeliver;
    if (!readAddress(r, options.alpha_sender_address_bug, &p.sender, &p.sender_type, "Sender",
                     &why))
      return corrupt(why);
    if (!r.u8(&p.pid) || !r.u8(&p.dcs)) return corrupt("PID or DCS missing");
    foundation::DebugLogf(kTag, "PID = %02X", p.pid);
    foundation::DebugLogf(kTag, "DCS = %02X", p.dcs);
    if (!readTimestamp(r, &p.service_centre_time)) return corrupt("time stamp missing");
    if (!readUserData(r, &p, &why)) return corrupt(why);
    return p;
  }
  if (mti == 2) {
    p.type = ReceivedPdu::Type::kStatusReport;
    if (!r.u8(&p.message_reference)) return corrupt("message reference missing");
    uint8_t type = 0;
    if (!readAddress(r, false, &p.recipient, &type, "Recipient", &why)) return corrupt(why);
    foundation::DebugLogf(kTag, "Receipient Address = %s", p.recipient.c_str());
    if (!readTimestamp(r, &p.service_centre_time) || !readTimestamp(r, &p.discharge_time))
      return corrupt("time stamps missing");
    if (!r.u8(&p.status)) return corrupt("status missing");
    foundation::DebugLogf(kTag, "Status report: reference %u, submitted %s, done %s, status %02X",
                          p.message_reference, timestampText(p.service_centre_time).c_str(),
                          timestampText(p.discharge_time).c_str(), p.status);
    return p;
  }
  foundation::DebugLogf(kTag, "SMS Message type = %02X", p.first_octet);
  return Status::error(platform::format("SMS Message type = %02X", p.first_octet));
}

}  // namespace

int tpduOctets(std::string_view hex) {
  std::string octets;
  hex = platform::trim(hex);
  if (!hexOctets(hex, &octets) || octets.empty()) return -1;
  const size_t sca = static_cast<uint8_t>(octets[0]) + size_t{1};
  return sca <= octets.size() ? static_cast<int>(octets.size() - sca) : -1;
}

platform::Result<ReceivedPdu> decodeReceivedPdu(std::string_view hex,
                                                const DecodeOptions& options) {
  std::string octets;
  hex = platform::trim(hex);
  if (!hexOctets(hex, &octets)) return corrupt("not hexadecimal octets (or too long)");
  if (!options.has_smsc) {
    ByteReader r(octets);
    return decodeTpdu(r, ReceivedPdu{}, options);
  }
  ByteReader r(octets);
  ReceivedPdu p;
  bool implausible = false;
  if (!readSmsc(r, &p.smsc, &implausible)) {
    const bool looks_like_report = !octets.empty() && (static_cast<uint8_t>(octets[0]) & 0x03) == 2;
    if (implausible && looks_like_report && options.check_status_report_smsc) {
      foundation::DebugLog(kTag, "SMSC address missing/invalid in SMS-STATUS-REPORT PDU");
      ByteReader again(octets);
      return decodeTpdu(again, ReceivedPdu{}, options);
    }
    return corrupt("service centre address");
  }
  return decodeTpdu(r, std::move(p), options);
}

}  // namespace vek::modem
