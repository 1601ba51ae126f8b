#include "modem/pdu_submit.h"

#include "encoding/dcs.h"
#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"
#include "encoding/septet_packing.h"
#include "encoding/utf8.h"
#include "platform/strings.h"

namespace vek::modem {
namespace {

using encoding::appendHexOctet;
using platform::Status;

bool isHexOctets(std::string_view s) {
  if (s.size() % 2 != 0) return false;
  for (char c : s)
    if (encoding::hexDigitValue(c) < 0) return false;
  return true;
}

std::string upper(std::string_view hex) {
  return platform::toUpper(hex);
}

// Septets that a header of `octets` octets (length octet included)
// occupies, fill bits included.
size_t headerSeptets(size_t octets) {
  return (octets * 8 + 6) / 7;
}

void appendAddressType(std::string* out, std::string_view number) {
  appendHexOctet(out, !number.empty() && number[0] == '+' ? 0x91 : 0x81);
}

struct UserData {
  std::string hex;
  size_t length = 0;  // TP-UDL: septets or octets
};

platform::Result<UserData> sevenBitText(const SubmitInput& in, size_t header_octets) {
  const std::string septets = encoding::UTF8ToGSMString(in.data);
  UserData ud;
  ud.length = headerSeptets(header_octets) * (header_octets > 0 ? 1 : 0) + septets.size();
  if (ud.length > kMaxUserDataSeptets)
    return Status::error("Message too long for one SMS (" + std::to_string(ud.length) +
                         " septets)");
  ud.hex = upper(in.udh) + encoding::PackGSMSeptetsToHex(septets, header_octets);
  return ud;
}

platform::Result<UserData> textUserData(const SubmitInput& in, size_t header_octets) {
  if (encoding::DCSIsGSM7Bit(in.dcs)) return sevenBitText(in, header_octets);
  UserData ud;
  ud.hex = upper(in.udh);
  if (encoding::DCSIsUCS2(in.dcs)) {
    // UTF-8 labelled UCS-2 would arrive as garbage: send it as UCS-2.
    ud.hex += encoding::UTF8ToUCS2Hex(in.data);
  } else {
    ud.hex +=
        encoding::octetsToHex(reinterpret_cast<const uint8_t*>(in.data.data()), in.data.size());
  }
  ud.length = ud.hex.size() / 2;
  return ud;
}

platform::Result<UserData> binaryUserData(const SubmitInput& in, size_t header_octets) {
  UserData ud;
  ud.hex = upper(in.udh) + upper(in.data);
  const size_t octets = ud.hex.size() / 2;
  if (!encoding::DCSIsGSM7Bit(in.dcs)) {
    ud.length = octets;
    return ud;
  }
  if (in.data.empty()) {
    // The header alone: its septets, padded to whole octets.
    ud.length = headerSeptets(header_octets);
    while (ud.hex.size() / 2 < (ud.length * 7 + 7) / 8) ud.hex += "00";
    return ud;
  }
  ud.length = octets * 8 / 7;
  if (ud.length % 8 == 0 && ud.length > 0) {
    const int last = encoding::hexDigitValue(ud.hex[ud.hex.size() - 2]) * 16 +
                     encoding::hexDigitValue(ud.hex.back());
    if (last <= 1) --ud.length;  // the top seven bits are fill, not a septet
  }
  return ud;
}

}  // namespace

bool isPhoneNumber(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  return !s.empty() && s.size() <= kMaxAddressDigits && platform::isAllDigits(s);
}

std::string swappedDigits(std::string_view digits) {
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  std::string out;
  out.reserve(digits.size() + 1);
  for (size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(i + 1 < digits.size() ? digits[i + 1] : 'F');
    out.push_back(digits[i]);
  }
  return out;
}

std::optional<uint8_t> relativeValidity(std::string_view text) {
  text = platform::trim(text);
  if (text.size() < 2) return std::nullopt;
  const char unit = platform::asciiLower(text.back());
  std::string_view digits = platform::trim(text.substr(0, text.size() - 1));
  if (!platform::isAllDigits(digits)) return std::nullopt;
  const int64_t n = platform::parseLeadingInt(digits);
  if (n <= 0) return std::nullopt;
  int64_t minutes = 0;
  constexpr int64_t kCap = int64_t{1} << 40;  // far beyond 63 weeks; no overflow below
  const int64_t v = n > kCap ? kCap : n;
  switch (unit) {
    case 'd':
      minutes = v * 1440;
      break;
    case 'h':
      minutes = v * 60;
      break;
    case 'm':
      minutes = v;
      break;
    default:
      return std::nullopt;
  }
  auto ceilDiv = [](int64_t a, int64_t b) { return (a + b - 1) / b; };
  int64_t vp;
  if (minutes <= 720) {
    vp = ceilDiv(minutes, 5) - 1;
  } else if (minutes <= 1440) {
    vp = 143 + ceilDiv(minutes - 720, 30);
  } else if (minutes <= 30 * 1440) {
    vp = 166 + ceilDiv(minutes, 1440);
  } else if (minutes <= 63 * 10080) {
    vp = 192 + ceilDiv(minutes, 10080);
  } else {
    vp = 255;
  }
  return static_cast<uint8_t>(vp);
}

platform::Result<SubmitPdu> buildSubmitPdu(const SubmitInput& in) {
  if (!isPhoneNumber(in.recipient))
    return Status::error("Invalid recipient address: " +
                         platform::format("%.60s", in.recipient.c_str()));
  if (!in.smsc.empty() && !isPhoneNumber(in.smsc))
    return Status::error("Invalid SMSC address: " + in.smsc);
  if (!in.udh.empty() && (!isHexOctets(in.udh) || in.udh.size() < 2))
    return Status::error("Invalid format for UDH (hexadecimal digit characters only)");
  const size_t header_octets = in.udh.size() / 2;
  if (header_octets > 0) {
    const size_t declared = static_cast<size_t>(encoding::hexDigitValue(in.udh[0]) * 16 +
                                                encoding::hexDigitValue(in.udh[1]));
    if (declared + 1 != header_octets)
      return Status::error("UDH length octet does not match the header");
  }
  if (in.binary && !isHexOctets(in.data))
    return Status::error("Invalid format for binary data (hexadecimal digit characters only)");

  auto ud = in.binary ? binaryUserData(in, header_octets) : textUserData(in, header_octets);
  if (!ud.ok()) return ud.status();
  if (ud->hex.size() / 2 > kMaxUserDataOctets)
    return Status::error("Message too long for one SMS (" + std::to_string(ud->hex.size() / 2) +
                         " octets)");

  SubmitPdu pdu;
  std::string& out = pdu.hex;
  out.reserve(64 + ud->hex.size());
  if (!in.exclude_smsc) {
    if (in.smsc.empty()) {
      out += "00";
    } else {
      const std::string digits = swappedDigits(in.smsc);
      appendHexOctet(&out, static_cast<unsigned>(1 + digits.size() / 2));
      appendAddressType(&out, in.smsc);
      out += digits;
    }
  }
  const size_t smsc_hex = out.size();

  unsigned first = 0x01;
  if (header_octets > 0) first |= 0x40;
  if (in.status_report) first |= 0x20;
  if (in.validity) first |= 0x10;
  if (in.reply_path) first |= 0x80;
  appendHexOctet(&out, first);
  appendHexOctet(&out, in.message_reference);
  const std::string_view rdigits =
      in.recipient[0] == '+' ? std::string_view(in.recipient).substr(1) : in.recipient;
  appendHexOctet(&out, static_cast<unsigned>(rdigits.size()));
  appendAddressType(&out, in.recipient);
  out += swappedDigits(in.recipient);
  appendHexOctet(&out, in.pid);
  appendHexOctet(&out, in.dcs);
  if (in.validity) appendHexOctet(&out, *in.validity);
  appendHexOctet(&out, static_cast<unsigned>(ud->length));
  out += ud->hex;
  pdu.tpdu_octets = static_cast<unsigned>((out.size() - smsc_hex) / 2);
  return pdu;
}

}  // namespace vek::modem
