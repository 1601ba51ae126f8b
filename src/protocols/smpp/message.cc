#include "protocols/smpp/message.h"

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "platform/byte_io.h"
#include "platform/clock.h"
#include "platform/strings.h"
#include "protocols/message_text.h"
#include "protocols/smpp/receipt.h"

namespace vek::smpp {

namespace {

constexpr std::string_view kOptionPrefix = "SMPPOption_";
constexpr uint8_t kEsmUdhi = 0x40;
constexpr uint8_t kEsmReplyPath = 0x80;
constexpr uint8_t kEsmReceipt = 0x04;
constexpr uint8_t kEsmIntermediate = 0x20;

int parseSmallNumber(std::string_view v) {
  v = platform::trim(v);
  if (v.empty() || v.size() > 3 || !platform::isAllDigits(v)) return -1;
  int n = static_cast<int>(platform::parseLeadingInt(v));
  return n <= 255 ? n : -1;
}

// Values go into "name=value; ..." strings and later into request files:
// no separators, no control characters.
std::string cleanValue(std::string_view v) {
  std::string out(v);
  for (char& c : out)
    if (c == ';' || static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

void appendItem(std::string* extra, std::string_view name, std::string_view value) {
  if (!extra->empty()) extra->append("; ");
  extra->append(name);
  extra->push_back('=');
  extra->append(cleanValue(value));
}

bool isDigits(std::string_view s, size_t from, size_t n) {
  if (s.size() < from + n) return false;
  for (size_t i = from; i < from + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool hasNul(std::string_view s) {
  return s.find('\0') != std::string_view::npos;
}

std::string twoDigits(int v) {
  return platform::format("%02d", v % 100);
}

}  // namespace

MessageParams parseParams(std::string_view params) {
  MessageParams out;
  for (const auto& item : platform::split(params, ";")) {
    std::string_view it = platform::trim(item);
    size_t eq = it.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = platform::trim(it.substr(0, eq));
    std::string_view value = platform::trim(it.substr(eq + 1));
    if (platform::startsWithNoCase(key, kOptionPrefix)) {
      std::string_view name = key.substr(kOptionPrefix.size());
      if (!name.empty()) out.options.emplace_back(std::string(name), std::string(value));
    } else if (platform::equalsNoCase(key, "ServiceType")) {
      out.service_type = value;
    } else if (platform::equalsNoCase(key, "Validity")) {
      out.validity = value;
    } else if (platform::equalsNoCase(key, "ReceiptMessageId") ||
               platform::equalsNoCase(key, "ReceiptMsgId")) {
      out.receipt_message_id = value;
    } else if (platform::equalsNoCase(key, "SourceTON")) {
      out.source_ton = parseSmallNumber(value);
    } else if (platform::equalsNoCase(key, "SourceNPI")) {
      out.source_npi = parseSmallNumber(value);
    } else if (platform::equalsNoCase(key, "DestTON")) {
      out.dest_ton = parseSmallNumber(value);
    } else if (platform::equalsNoCase(key, "DestNPI")) {
      out.dest_npi = parseSmallNumber(value);
    }
    // "LocalUser=", "SMSCRouteInfo=" and the rest stay inside the gateway.
  }
  return out;
}

Address addressFor(std::string_view text) {
  Address a;
  if (text.empty()) return a;
  if (text.size() > 1 && text[0] == '+' && platform::isAllDigits(text.substr(1))) {
    a.ton = 1;
    a.npi = 1;
    a.addr = text.substr(1);
  } else if (platform::isAllDigits(text)) {
    a.ton = 2;
    a.npi = 1;
    a.addr = text;
  } else {
    a.ton = 5;
    a.npi = 0;
    a.addr = text;
  }
  return a;
}

std::string addressText(const Address& a) {
  return a.ton == 1 && !a.addr.empty() && platform::isAllDigits(a.addr) ? "+" + a.addr : a.addr;
}

std::string validityToSmpp(std::string_view text) {
  text = platform::trim(text);
  if (text.empty()) return std::string();
  // Already in one of the SMPP forms.
  if (isSmppTime(text)) return std::string(text);
  char unit = platform::asciiLower(text.back());
  if ((unit == 'd' || unit == 'h' || unit == 'm') && text.size() > 1 &&
      isDigits(text, 0, text.size() - 1)) {
    int64_t n = platform::parseLeadingInt(text);
    int64_t minutes = unit == 'd' ? n * 1440 : unit == 'h' ? n * 60 : n;
    if (minutes <= 0) return std::string();
    int64_t days = std::min<int64_t>(minutes / 1440, 99);
    int64_t hours = minutes >= 99 * 1440 ? 0 : (minutes % 1440) / 60;
    int64_t mins = minutes >= 99 * 1440 ? 0 : minutes % 60;
    return platform::format("0000%02d%02d%02d00000R", static_cast<int>(days),
                            static_cast<int>(hours), static_cast<int>(mins));
  }
  if ((text.size() == 14 || text.size() == 12) && platform::isAllDigits(text)) {
    size_t y = text.size() == 14 ? 4 : 2;
    platform::CalendarTime c;
    c.year = static_cast<int>(platform::parseLeadingInt(text.substr(0, y)));
    if (y == 2) c.year += 2000;
    c.month = static_cast<int>(platform::parseLeadingInt(text.substr(y, 2)));
    c.day = static_cast<int>(platform::parseLeadingInt(text.substr(y + 2, 2)));
    c.hour = static_cast<int>(platform::parseLeadingInt(text.substr(y + 4, 2)));
    c.minute = static_cast<int>(platform::parseLeadingInt(text.substr(y + 6, 2)));
    c.second = static_cast<int>(platform::parseLeadingInt(text.substr(y + 8, 2)));
    if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 || c.minute > 59 ||
        c.second > 59)
      return std::string();
    long offset = platform::toLocal(platform::fromLocal(c)).utc_offset_seconds;
    long quarters = (offset < 0 ? -offset : offset) / 900;
    return twoDigits(c.year) + twoDigits(c.month) + twoDigits(c.day) + twoDigits(c.hour) +
           twoDigits(c.minute) + twoDigits(c.second) + "0" + twoDigits(static_cast<int>(quarters)) +
           (offset < 0 ? "-" : "+");
  }
  return std::string();
}

uint32_t buildMessagePdu(uint32_t command_id, const OutboundMessage& m, uint8_t version,
                         const OptionTable& options, Pdu* p, std::string* skipped) {
  p->clear();
  p->command_id = command_id;
  MessageParams params = parseParams(m.params);
  if (params.service_type.size() >= kServiceTypeMax || hasNul(params.service_type))
    return status::kInvSerTyp;
  p->service_type = params.service_type;

  p->source = addressFor(m.sender);
  p->destination = addressFor(m.recipient);
  if (params.source_ton >= 0) p->source.ton = static_cast<uint8_t>(params.source_ton);
  if (params.source_npi >= 0) p->source.npi = static_cast<uint8_t>(params.source_npi);
  if (params.dest_ton >= 0) p->destination.ton = static_cast<uint8_t>(params.dest_ton);
  if (params.dest_npi >= 0) p->destination.npi = static_cast<uint8_t>(params.dest_npi);
  // A NUL would end the C-Octet String early and shift every later field.
  if (p->source.addr.size() >= kAddr21Max || hasNul(p->source.addr)) return status::kInvSrcAdr;
  if (p->destination.addr.empty() || p->destination.addr.size() >= kAddr21Max ||
      hasNul(p->destination.addr))
    return status::kInvDstAdr;

  p->protocol_id = m.pid;
  p->data_coding = m.dcs;

  std::string udh;
  if (!m.udh.empty()) {
    if (!platform::fromHex(m.udh, &udh)) return status::kInvMsgLen;
    p->esm_class |= kEsmUdhi;
  }
  protocols::Alphabet alphabet = protocols::alphabetOf(m.dcs);
  std::string payload;
  if (m.binary) {
    if (!platform::fromHex(m.data, &payload)) return status::kInvMsgLen;
    // The gateway keeps 7-bit segments packed; SMPP carries one septet per octet.
    if (alphabet == protocols::Alphabet::kGsm7)
      payload = encoding::UnpackGSMSeptets(payload, udh.size(), payload.size() * 8 / 7);
  } else {
    switch (alphabet) {
      case protocols::Alphabet::kGsm7:
        payload = encoding::UTF8ToGSMString(m.data);
        break;
      case protocols::Alphabet::kUcs2:
        payload = protocols::utf8ToUcs2(m.data);
        break;
      case protocols::Alphabet::kAscii:
      case protocols::Alphabet::kLatin1:
        payload = protocols::utf8ToLatin1(m.data);
        break;
      case protocols::Alphabet::kBinary:
        payload = m.data;
        break;
    }
  }
  std::string user_data = udh + payload;
  bool v34 = version != 0x33;
  if (user_data.size() <= kShortMessageMax) {
    p->short_message = std::move(user_data);
  } else if (v34 && user_data.size() <= 0xFFFF) {
    p->addTlv(tag::kMessagePayload, std::move(user_data));
  } else {
    return status::kInvMsgLen;
  }

  if (m.flags & flag::kReplyRequested) p->esm_class |= kEsmReplyPath;
  if (m.flags & flag::kReceiptRequested)
    p->registered_delivery = 1;
  else if (m.flags & flag::kNonDeliveryReceiptRequested)
    p->registered_delivery = 2;

  if (command_id == cmd::kSubmitSm) {
    p->validity_period = validityToSmpp(params.validity);
  } else if (m.flags & flag::kIsReceipt) {
    p->esm_class |= kEsmReceipt;
    p->registered_delivery = 0;
    std::string id = params.receipt_message_id;
    if (id.empty() && !m.binary) {
      ReceiptText r;
      if (parseReceiptText(m.data, &r)) id = r.id;
    }
    if (v34) {
      if (!id.empty() && id.size() < kMessageIdMax && !hasNul(id))
        p->addTlv(tag::kReceiptedMessageId, id + std::string(1, '\0'));
      p->addTlv(tag::kMessageState, std::string(1, static_cast<char>(stateForFlags(m.flags))));
    }
  }

  if (!v34) return status::kOk;
  for (const auto& [name, value] : params.options) {
    const TlvDef* def = lookupTlv(options, name);
    auto bytes = def ? tlvValueFromText(*def, value) : std::nullopt;
    if (!bytes) {
      if (skipped) {
        if (!skipped->empty()) skipped->append(", ");
        skipped->append(name);
      }
      continue;
    }
    // An option given by name replaces what the builder put there.
    std::erase_if(p->tlvs, [&](const Tlv& t) { return t.tag == def->tag; });
    p->addTlv(def->tag, std::move(*bytes));
  }
  return status::kOk;
}

InboundMessage inboundFromPdu(const Pdu& p, std::string_view link_name,
                              const OptionTable& options) {
  InboundMessage m;
  m.link_name = link_name;
  m.sender = addressText(p.source);
  const Address& dest =
      p.command_id == cmd::kSubmitMulti && !p.dests.empty() ? p.dests[0].address : p.destination;
  m.recipient = addressText(dest);
  m.pid = p.protocol_id;
  m.dcs = p.data_coding;

  std::string_view user_data = p.short_message;
  const Tlv* payload_tlv = p.findTlv(tag::kMessagePayload);
  if (user_data.empty() && payload_tlv) user_data = payload_tlv->value;
  std::string_view udh;
  if ((p.esm_class & kEsmUdhi) && !user_data.empty()) {
    size_t udh_len = static_cast<uint8_t>(user_data[0]) + size_t{1};
    if (udh_len <= user_data.size()) {
      udh = user_data.substr(0, udh_len);
      m.udh = platform::toHex(udh);
      user_data.remove_prefix(udh_len);
    }
  }
  switch (protocols::alphabetOf(p.data_coding)) {
    case protocols::Alphabet::kGsm7:
      m.data = protocols::gsmToUtf8(user_data, udh);
      break;
    case protocols::Alphabet::kAscii:
    case protocols::Alphabet::kLatin1:
      m.data = protocols::latin1ToUtf8(user_data);
      break;
    case protocols::Alphabet::kUcs2:
    case protocols::Alphabet::kBinary:
      m.data = platform::toHex(user_data);
      m.type = kMessageBinary;
      break;
  }

  if (p.esm_class & kEsmReplyPath) m.flags |= flag::kReplyRequested;
  if ((p.registered_delivery & 0x03) == 1) m.flags |= flag::kReceiptRequested;
  if ((p.registered_delivery & 0x03) == 2) m.flags |= flag::kNonDeliveryReceiptRequested;

  if (!p.service_type.empty()) appendItem(&m.extra, "ServiceType", p.service_type);
  if (!p.validity_period.empty()) appendItem(&m.extra, "Validity", p.validity_period);

  uint8_t message_type = p.esm_class & 0x3C;
  bool receipt = p.command_id != cmd::kSubmitSm && p.command_id != cmd::kSubmitMulti &&
                 (message_type == kEsmReceipt || message_type == kEsmIntermediate);
  if (receipt) {
    m.flags = (m.flags & ~(flag::kReceiptRequested | flag::kNonDeliveryReceiptRequested)) |
              flag::kIsReceipt;
    ReceiptText text;
    bool has_text = m.type == kMessageText && parseReceiptText(m.data, &text);
    std::string tlv_id;
    if (const Tlv* t = p.findTlv(tag::kReceiptedMessageId))
      tlv_id = t->value.substr(0, t->value.find('\0'));
    uint32_t status_flags = 0;
    if (const Tlv* t = p.findTlv(tag::kMessageState); t && t->value.size() == 1)
      status_flags = flagsForState(static_cast<uint8_t>(t->value[0]));
    if (status_flags == 0 && has_text) status_flags = flagsForStat(text.stat);
    if (status_flags == 0 && message_type == kEsmIntermediate) status_flags = flag::kInTransit;
    m.flags |= status_flags;
    m.smsc_message_id = !tlv_id.empty() ? tlv_id : text.id;
    if (!m.smsc_message_id.empty()) appendItem(&m.extra, "ReceiptMsgIdOrig", m.smsc_message_id);
    if (!tlv_id.empty() && !text.id.empty() && text.id != tlv_id)
      appendItem(&m.extra, "ReceiptMsgIdText", text.id);
  }

  for (const auto& t : p.tlvs) {
    if (t.tag == tag::kMessagePayload) continue;
    const TlvDef* def = lookupTlv(options, t.tag);
    if (def)
      appendItem(&m.extra, std::string(kOptionPrefix) + def->name, tlvValueToText(*def, t.value));
    else
      appendItem(&m.extra, platform::format("%s0x%04X", std::string(kOptionPrefix).c_str(), t.tag),
                 platform::toHex(t.value));
  }
  return m;
}

}  // namespace vek::smpp
