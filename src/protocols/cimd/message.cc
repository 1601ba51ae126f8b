#include "protocols/cimd/message.h"

#include "encoding/dcs.h"
#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "platform/byte_io.h"
#include "platform/strings.h"
#include "protocols/cimd/text.h"
#include "protocols/message_fields.h"

namespace vek::cimd {

using protocols::InboundMessage;
using protocols::OutboundMessage;
namespace flag = protocols::flag;

namespace {

constexpr size_t kMaxAddressDigits = 20;
constexpr size_t kMaxAlphanumeric = 11;
constexpr const char* kReceiptRequest = "62";      // 2 expired, 4 failed, 8 delivered, 16, 32
constexpr const char* kNonDeliveryRequest = "54";  // the same without 8

bool isNumber(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  return !s.empty() && s.size() <= kMaxAddressDigits && platform::isAllDigits(s);
}

bool hasControl(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20) return true;
  return false;
}

// A small decimal parameter (0-255); -1 when absent, -2 when it does not read.
int smallNumber(const Packet& p, int code) {
  const std::string* v = p.get(code);
  if (v == nullptr || v->empty()) return -1;
  if (v->size() > 3 || !platform::isAllDigits(*v)) return -2;
  int n = static_cast<int>(platform::parseLeadingInt(*v));
  return n <= 255 ? n : -2;
}

std::string value(const Packet& p, int code) {
  const std::string* v = p.get(code);
  return v ? *v : std::string();
}

}  // namespace

const char* errorName(uint32_t code) {
  switch (code) {
    case 0:
      return "No error";
    case 1:
      return "Unexpected operation";
    case 2:
      return "Syntax error";
    case 3:
      return "Unsupported parameter error";
    case 4:
      return "Connection to message centre lost";
    case 5:
      return "No response from message centre";
    case 6:
      return "General system error";
    case 7:
      return "Cannot find information";
    case 8:
      return "Parameter formatting error";
    case 9:
      return "Requested operation failed";
    case 10:
      return "Temporary congestion error";
    case 100:
      return "Invalid login";
    case 101:
      return "Incorrect access type";
    case 102:
      return "Too many users with this login ID";
    case 103:
      return "Login refused by message centre";
    case 104:
      return "Invalid window size";
    case 105:
      return "Windowing disabled";
    case 300:
      return "Incorrect destination address";
    case 301:
      return "Incorrect number of destination addresses";
    case 302:
      return "Syntax error in user data parameter";
    case 303:
      return "Incorrect bin/head/normal user data parameter combination";
    case 304:
      return "Incorrect dcs parameter usage";
    case 305:
      return "Incorrect validity period parameters usage";
    case 306:
      return "Incorrect originator address usage";
    case 307:
      return "Incorrect PID parameter usage";
    case 308:
      return "Incorrect first delivery parameter usage";
    case 309:
      return "Incorrect reply path usage";
    case 310:
      return "Incorrect status report request parameter usage";
    case 311:
      return "Incorrect cancel enabled parameter usage";
    case 312:
      return "Incorrect priority parameter usage";
    case 313:
      return "Incorrect tariff class parameter usage";
    case 314:
      return "Incorrect service description parameter usage";
    case 321:
      return "Incorrect alpha originator address usage";
    case 322:
      return "Invalid data for alpha numeric originator";
    case 400:
      return "Incorrect address parameter usage";
    case 401:
      return "Incorrect scts parameter usage";
    default:
      return "";
  }
}

int relativeValidityCode(int64_t minutes) {
  if (minutes <= 0) return 0;
  if (minutes <= 720) return static_cast<int>((minutes + 4) / 5 - 1);  // 5-minute steps
  if (minutes <= 1440) return static_cast<int>(143 + (minutes - 720 + 29) / 30);
  int64_t days = (minutes + 1439) / 1440;
  if (days <= 30) return static_cast<int>(166 + days);
  int64_t weeks = (minutes + 10079) / 10080;
  return static_cast<int>(std::min<int64_t>(192 + weeks, 255));
}

uint32_t buildSubmitParams(const OutboundMessage& m, Params* out, std::string* why) {
  Params& p = *out;
  p.clear();
  if (!isNumber(m.recipient)) {
    *why = "recipient is not a number of at most 20 digits";
    return ec::kDestination;
  }
  p.emplace_back(param::kDestination, m.recipient);
  if (hasControl(m.sender)) {
    *why = "sender holds control characters";
    return ec::kOriginator;
  }
  if (isNumber(m.sender)) {
    p.emplace_back(param::kOriginator, m.sender);
  } else if (!m.sender.empty()) {
    std::string septets = encoding::UTF8ToGSMString(m.sender);
    if (septets.size() > kMaxAlphanumeric) {
      *why = "alphanumeric sender longer than 11 characters";
      return ec::kAlphaOriginator;
    }
    p.emplace_back(param::kAlphaOriginator, septetsToUserData(septets));
  }
  protocols::UserData ud;
  if (!protocols::prepareUserData(m, &ud)) {
    *why = "data or header is not hexadecimal";
    return ec::kUserData;
  }
  if (m.dcs != 0) p.emplace_back(param::kDcs, std::to_string(m.dcs));
  if (!ud.udh.empty()) p.emplace_back(param::kUdh, platform::toHex(ud.udh));
  if (ud.kind == protocols::UserData::kSeptets)
    p.emplace_back(param::kUserData, septetsToUserData(ud.data));
  else
    p.emplace_back(param::kUserDataBinary, platform::toHex(ud.data));
  protocols::Validity v = protocols::parseValidity(protocols::paramValue(m.params, "Validity"));
  if (v.kind == protocols::Validity::kRelative) {
    p.emplace_back(param::kValidityRelative, std::to_string(relativeValidityCode(v.minutes)));
  } else if (v.kind == protocols::Validity::kAbsolute) {
    const platform::CalendarTime& c = v.at;
    p.emplace_back(param::kValidityAbsolute,
                   platform::format("%02d%02d%02d%02d%02d%02d", c.year % 100, c.month, c.day,
                                    c.hour, c.minute, c.second));
  }
  if (m.pid != 0) p.emplace_back(param::kPid, std::to_string(m.pid));
  if (m.flags & flag::kReplyRequested) p.emplace_back(param::kReplyPath, "1");
  if (m.flags & flag::kReceiptRequested)
    p.emplace_back(param::kStatusReportRequest, kReceiptRequest);
  else if (m.flags & flag::kNonDeliveryReceiptRequested)
    p.emplace_back(param::kStatusReportRequest, kNonDeliveryRequest);
  return 0;
}

namespace {

uint32_t readMessage(const Packet& p, InboundMessage* m, std::string* why) {
  m->recipient = value(p, param::kDestination);
  if (const std::string* alpha = p.get(param::kAlphaOriginator))
    m->sender = userDataToText(*alpha);
  else
    m->sender = value(p, param::kOriginator);
  int dcs = smallNumber(p, param::kDcs), pid = smallNumber(p, param::kPid);
  if (dcs == -2 || pid == -2) {
    *why = "DCS or PID out of range";
    return ec::kSyntax;
  }
  m->dcs = static_cast<uint8_t>(dcs < 0 ? 0 : dcs);
  m->pid = static_cast<uint8_t>(pid < 0 ? 0 : pid);
  std::string udh;
  if (!platform::fromHex(value(p, param::kUdh), &udh)) {
    *why = "user data header is not hexadecimal";
    return ec::kUserData;
  }
  m->udh = platform::toHex(udh);
  const std::string* text = p.get(param::kUserData);
  const std::string* binary = p.get(param::kUserDataBinary);
  if (text && binary) {
    *why = "both text and binary user data";
    return ec::kUserDataCombination;
  }
  if (binary) {
    std::string octets;
    if (!platform::fromHex(*binary, &octets)) {
      *why = "binary user data is not hexadecimal";
      return ec::kUserData;
    }
    if (encoding::DCSIsGSM7Bit(m->dcs)) {
      m->data = protocols::septetsToText(
          encoding::UnpackGSMSeptets(octets, udh.size(), octets.size() * 8 / 7), udh);
    } else {
      m->data = platform::toHex(octets);
      m->type = protocols::kMessageBinary;
    }
  } else if (text) {
    m->data = userDataToText(*text);
  }
  if (value(p, param::kReplyPath) == "1") m->flags |= flag::kReplyRequested;
  return 0;
}

uint32_t readReport(const Packet& p, InboundMessage* m, std::string* why) {
  std::string dest = value(p, param::kDestination), scts = value(p, param::kScts);
  int status = smallNumber(p, param::kStatusCode);
  if (dest.empty() || scts.empty() || status < 0) {
    *why = "status report without destination, time stamp or status";
    return ec::kSyntax;
  }
  uint32_t state = status == 4                  ? flag::kDelivered
                   : status == 1 || status == 5 ? flag::kInTransit
                   : status >= 2 && status <= 9 ? flag::kFailed
                                                : 0;
  m->flags = flag::kIsReceipt | state;
  m->sender = dest;
  m->recipient = value(p, param::kOriginator);
  m->smsc_message_id = dest + ":" + scts;
  int error = smallNumber(p, param::kStatusErrorCode);
  std::string done = value(p, param::kDischargeTime);
  m->data = protocols::receiptText(m->smsc_message_id, scts.substr(0, 10), done.substr(0, 10),
                                   state, error > 0 ? static_cast<unsigned>(error) : 0);
  protocols::appendItem(&m->extra, "ReceiptMsgIdOrig", m->smsc_message_id);
  return 0;
}

}  // namespace

uint32_t inboundFromPacket(const Packet& p, std::string_view link_name, InboundMessage* out,
                           std::string* why) {
  *out = InboundMessage();
  out->link_name = link_name;
  return p.op == op::kDeliverStatusReport ? readReport(p, out, why) : readMessage(p, out, why);
}

}  // namespace vek::cimd
