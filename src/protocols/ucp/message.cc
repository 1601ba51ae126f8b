#include "protocols/ucp/message.h"

#include "encoding/dcs.h"
#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "encoding/utf8.h"
#include "platform/byte_io.h"
#include "platform/strings.h"
#include "protocols/message_fields.h"
#include "protocols/message_text.h"
#include "protocols/ucp/frame.h"

namespace vek::ucp {

using protocols::InboundMessage;
using protocols::OutboundMessage;
namespace flag = protocols::flag;

namespace {

constexpr size_t kMaxAlphanumeric = 11;  // GSM characters of an alphanumeric sender
constexpr size_t kMaxAddressDigits = 16;
constexpr uint8_t kXSerUdh = 0x01;
constexpr uint8_t kXSerDcs = 0x02;
constexpr uint8_t kXSerBilling = 0x0C;

// Septets packed from the first bit, exactly `count` of them.
std::string unpackSeptets(std::string_view octets, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    size_t bit = i * 7, byte = bit / 8, shift = bit % 8;
    if (byte >= octets.size()) break;
    unsigned v = static_cast<unsigned char>(octets[byte]) >> shift;
    if (shift > 1 && byte + 1 < octets.size())
      v |= static_cast<unsigned>(static_cast<unsigned char>(octets[byte + 1])) << (8 - shift);
    out.push_back(static_cast<char>(v & 0x7F));
  }
  return out;
}

bool allLatin1(std::string_view utf8) {
  size_t i = 0;
  while (i < utf8.size())
    if (encoding::decodeUtf8Char(utf8, &i) > 0xFF) return false;
  return true;
}

// Octets of an MT 3 message that are GSM codes rather than ISO 8859-1:
// an escape or a control code other than CR and LF gives them away.
bool looksLikeGsmCodes(std::string_view octets) {
  for (char c : octets) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 && b != '\r' && b != '\n') return true;
  }
  return false;
}

// DDMMYYhhmmss (or DDMMYYhhmm) as yymmddhhmm; "" when not that form.
std::string receiptDate(std::string_view scts) {
  if ((scts.size() != 12 && scts.size() != 10) || !platform::isAllDigits(scts)) return {};
  return std::string(scts.substr(4, 2)) + std::string(scts.substr(2, 2)) +
         std::string(scts.substr(0, 2)) + std::string(scts.substr(6, 4));
}

bool hasControl(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20) return true;
  return false;
}

}  // namespace

const char* errorName(uint32_t code) {
  switch (code) {
    case 1:
      return "Checksum error";
    case 2:
      return "Syntax error";
    case 3:
      return "Operation not supported by system";
    case 4:
      return "Operation not allowed";
    case 5:
      return "Call barring active";
    case 6:
      return "AdC invalid";
    case 7:
      return "Authentication failure";
    case 8:
      return "Legitimisation code for all calls, failure";
    case 9:
      return "GA not valid";
    case 10:
      return "Repetition not allowed";
    case 11:
      return "Legitimisation code for repetition, failure";
    case 12:
      return "Priority call not allowed";
    case 13:
      return "Legitimisation code for priority call, failure";
    case 14:
      return "Urgent message not allowed";
    case 15:
      return "Legitimisation code for urgent message, failure";
    case 16:
      return "Reverse charging not allowed";
    case 17:
      return "Legitimisation code for reverse charging, failure";
    case 18:
      return "Deferred delivery not allowed";
    case 19:
      return "New AC not valid";
    case 20:
      return "New legitimisation code not valid";
    case 21:
      return "Standard text not valid";
    case 22:
      return "Time period not valid";
    case 23:
      return "Message type not supported by system";
    case 24:
      return "Message too long";
    case 25:
      return "Requested standard text not valid";
    case 26:
      return "Message type not valid for the pager type";
    case 27:
      return "Message not found in SMSC";
    case 30:
      return "Subscriber hang-up";
    case 31:
      return "Fax group not supported";
    case 32:
      return "Fax message type not supported";
    case 33:
      return "Address already in list";
    case 34:
      return "Address not in list";
    case 35:
      return "List full, cannot add address to list";
    case 36:
      return "RPID already in use";
    case 37:
      return "Delivery in progress";
    case 38:
      return "Message forwarded";
    default:
      return "";
  }
}

std::string packAlphanumeric(std::string_view utf8) {
  std::string septets = encoding::UTF8ToGSMString(utf8);
  if (septets.empty() || septets.size() > kMaxAlphanumeric) return {};
  size_t semi_octets = (septets.size() * 7 + 3) / 4;
  return platform::format("%02zX", semi_octets) + encoding::PackGSMSeptetsToHex(septets, 0);
}

bool unpackAlphanumeric(std::string_view oadc, std::string* utf8) {
  std::string bytes;
  if (oadc.size() < 4 || !platform::fromHex(oadc, &bytes)) return false;
  size_t semi_octets = static_cast<unsigned char>(bytes[0]);
  std::string_view packed = std::string_view(bytes).substr(1);
  if ((semi_octets + 1) / 2 != packed.size()) return false;
  *utf8 = encoding::GSMToUTF8String(unpackSeptets(packed, semi_octets * 4 / 7));
  return true;
}

std::string buildXSer(const std::vector<XSerItem>& items) {
  std::string out;
  for (const auto& it : items) {
    std::string_view data = std::string_view(it.data).substr(0, 255);
    out += platform::format("%02X%02zX", it.type, data.size());
    out += platform::toHex(data);
  }
  return out;
}

bool parseXSer(std::string_view xser, std::vector<XSerItem>* items) {
  items->clear();
  std::string bytes;
  if (!platform::fromHex(xser, &bytes)) return false;
  platform::ByteReader r(bytes);
  while (!r.empty()) {
    XSerItem it;
    uint8_t len = 0;
    if (!r.u8(&it.type) || !r.u8(&len) || !r.bytes(len, &it.data)) return false;
    items->push_back(std::move(it));
  }
  return true;
}

std::string validityToVp(std::string_view text) {
  text = platform::trim(text);
  if (text.size() == 10 && platform::isAllDigits(text)) return std::string(text);  // DDMMYYhhmm
  protocols::Validity v = protocols::parseValidity(text);
  if (v.kind == protocols::Validity::kNone) return {};
  platform::CalendarTime c = protocols::validityEnd(v);
  return platform::format("%02d%02d%02d%02d%02d", c.day, c.month, c.year % 100, c.hour, c.minute);
}

uint32_t buildSubmitFields(const OutboundMessage& m, std::vector<std::string>* fields,
                           std::string* why) {
  std::vector<std::string>& f = *fields;
  f.assign(kFields5x, std::string());
  // Recipient: digits, the international "+" written as its prefix.
  std::string adc = m.recipient;
  if (!adc.empty() && adc[0] == '+') adc = "00" + adc.substr(1);
  if (adc.empty() || adc.size() > kMaxAddressDigits || !platform::isAllDigits(adc)) {
    *why = "recipient is not a number of at most 16 digits";
    return ec::kAdCInvalid;
  }
  f[kAdC] = adc;
  // Sender: digits, or an alphanumeric address packed as septets.
  const std::string& s = m.sender;
  if (hasControl(s)) {
    *why = "sender holds control characters";
    return ec::kSyntax;
  }
  if (s.size() > 1 && s[0] == '+' && s.size() <= kMaxAddressDigits + 1 &&
      platform::isAllDigits(std::string_view(s).substr(1))) {
    f[kOAdC] = s.substr(1);
    f[kOTOA].assign("1139");
  } else if (!s.empty() && s.size() <= kMaxAddressDigits && platform::isAllDigits(s)) {
    f[kOAdC] = s;
  } else if (!s.empty()) {
    f[kOAdC] = packAlphanumeric(s);
    if (f[kOAdC].empty()) {
      *why = "alphanumeric sender longer than 11 characters";
      return ec::kSyntax;
    }
    f[kOTOA].assign("5039");
  }
  if (m.flags & (flag::kReceiptRequested | flag::kNonDeliveryReceiptRequested)) {
    f[kNRq].assign(1, '1');
    // 1 delivered, 2 not delivered.
    f[kNT].assign(1, (m.flags & flag::kReceiptRequested) ? '3' : '2');
    f[kNPID].assign("0539");
  }
  f[kVP] = validityToVp(protocols::paramValue(m.params, "Validity"));
  if (m.pid != 0) f[kRPID] = platform::format("%04u", m.pid);
  if (m.flags & flag::kReplyRequested) f[kRPLy].assign(1, '1');

  protocols::UserData ud;
  if (!protocols::prepareUserData(m, &ud)) {
    *why = "data or header is not hexadecimal";
    return ec::kSyntax;
  }
  std::vector<XSerItem> xser;
  if (!ud.udh.empty()) xser.push_back({kXSerUdh, ud.udh});
  if (m.dcs != 0) xser.push_back({kXSerDcs, std::string(1, static_cast<char>(m.dcs))});
  std::string billing = protocols::paramValue(m.params, "BillingInfo");
  if (!billing.empty()) xser.push_back({kXSerBilling, billing});
  f[kXSer] = buildXSer(xser);

  std::string text = ud.kind == protocols::UserData::kSeptets
                         ? protocols::septetsToText(ud.data, ud.udh)
                         : std::string();
  if (ud.kind == protocols::UserData::kSeptets && allLatin1(text)) {
    f[kMT].assign(1, '3');
    f[kMsg] = ira(protocols::utf8ToLatin1(text));
  } else if (ud.kind == protocols::UserData::kSeptets) {
    f[kMT].assign(1, '4');
    f[kNB] = std::to_string(ud.data.size() * 7);
    f[kMsg] = encoding::PackGSMSeptetsToHex(ud.data, 0);
  } else {
    f[kMT].assign(1, '4');
    f[kNB] = std::to_string(ud.data.size() * 8);
    f[kMsg] = platform::toHex(ud.data);
    if (ud.kind == protocols::UserData::kOctets) f[kDCs].assign(1, '1');
  }
  size_t length = 0;
  for (const auto& field : f) length += field.size() + 1;
  if (length + 16 > kMaxLen) {
    *why = "message too long for one operation";
    return ec::kTooLong;
  }
  return 0;
}

bool inboundFromFields(int op, const std::vector<std::string>& f, std::string_view link_name,
                       InboundMessage* out, std::string* why) {
  *out = InboundMessage();
  out->link_name = link_name;
  out->recipient = f[kAdC];
  if (f[kOTOA] == "5039") {
    if (!unpackAlphanumeric(f[kOAdC], &out->sender)) {
      *why = "alphanumeric OAdC does not read";
      return false;
    }
  } else {
    out->sender = f[kOTOA] == "1139" && !f[kOAdC].empty() ? "+" + f[kOAdC] : f[kOAdC];
  }
  std::vector<XSerItem> xser;
  if (!parseXSer(f[kXSer], &xser)) {
    *why = "XSer does not read";
    return false;
  }
  std::string udh;
  int dcs = -1;
  for (const auto& it : xser) {
    if (it.type == kXSerUdh) udh = it.data;
    if (it.type == kXSerDcs && it.data.size() == 1) dcs = static_cast<unsigned char>(it.data[0]);
  }
  if (dcs < 0) dcs = f[kDCs] == "1" ? 0x04 : 0x00;
  out->dcs = static_cast<uint8_t>(dcs);
  out->udh = platform::toHex(udh);
  if (!f[kRPID].empty()) {
    if (f[kRPID].size() > 4 || !platform::isAllDigits(f[kRPID]) ||
        platform::parseLeadingInt(f[kRPID]) > 255) {
      *why = "RPID out of range";
      return false;
    }
    out->pid = static_cast<uint8_t>(platform::parseLeadingInt(f[kRPID]));
  }
  if (f[kRPLy] == "1") out->flags |= flag::kReplyRequested;

  const std::string& mt = f[kMT];
  std::string octets;
  if (mt == "2") {
    if (!platform::isAllDigits(f[kMsg]) && !f[kMsg].empty()) {
      *why = "NMsg is not numeric";
      return false;
    }
    out->data = f[kMsg];
  } else if (mt == "3" || mt == "4") {
    if (!fromIra(f[kMsg], &octets)) {
      *why = "message is not hexadecimal";
      return false;
    }
    if (mt == "3") {
      out->data = looksLikeGsmCodes(octets) ? protocols::septetsToText(octets, udh)
                                            : protocols::latin1ToUtf8(octets);
    } else if (encoding::DCSIsGSM7Bit(out->dcs)) {
      size_t septets = octets.size() * 8 / 7;
      if (!f[kNB].empty() && platform::isAllDigits(f[kNB]) && f[kNB].size() <= 6)
        septets = std::min<size_t>(septets, platform::parseLeadingInt(f[kNB]) / 7);
      out->data = protocols::septetsToText(unpackSeptets(octets, septets), udh);
    } else {
      out->data = platform::toHex(octets);
      out->type = protocols::kMessageBinary;
    }
  } else if (op == ot::kDeliver || !mt.empty()) {
    *why = "message type " + mt + " not supported";
    return false;
  }

  if (op == ot::kNotification) {
    uint32_t status = f[kDst] == "0"   ? flag::kDelivered
                      : f[kDst] == "1" ? flag::kInTransit
                      : f[kDst] == "2" ? flag::kFailed
                                       : 0;
    out->flags = flag::kIsReceipt | status;
    out->smsc_message_id = f[kOAdC] + ":" + f[kSCTS];
    unsigned reason = platform::isAllDigits(f[kRsn]) && f[kRsn].size() <= 3
                          ? static_cast<unsigned>(platform::parseLeadingInt(f[kRsn]))
                          : 0;
    out->sender = f[kOAdC];
    out->data = protocols::receiptText(out->smsc_message_id, receiptDate(f[kSCTS]),
                                       receiptDate(f[kDSCTS]), status, reason);
    out->type = protocols::kMessageText;
    out->dcs = 0;
    out->udh.clear();
    protocols::appendItem(&out->extra, "ReceiptMsgIdOrig", out->smsc_message_id);
  }
  return true;
}

std::vector<std::string> loginFields(std::string_view user, std::string_view password) {
  // OTON 6 (abbreviated number), ONPI 5 (private), STYP 1 (open session), VERS 0100.
  return {std::string(user), "6", "5", "1", ira(password), "", "0100", "", "", "", "", ""};
}

std::vector<std::string> alertFields(std::string_view user) {
  // PID 0539: an application on a TCP/IP connection.
  return {std::string(user), "0539"};
}

}  // namespace vek::ucp
