#include "protocols/smpp/pdu.h"

#include "protocols/smpp/tlv.h"

namespace vek::smpp {

using platform::ByteReader;
using platform::ByteWriter;

const Tlv* Pdu::findTlv(uint16_t t) const {
  for (const auto& tlv : tlvs)
    if (tlv.tag == t) return &tlv;
  return nullptr;
}

void Pdu::clear() {
  command_id = command_status = sequence = 0;
  system_id.clear();
  password.clear();
  system_type.clear();
  interface_version = 0;
  service_type.clear();
  for (Address* a : {&address_range, &source, &destination, &esme}) {
    a->ton = a->npi = 0;
    a->addr.clear();
  }
  esm_class = protocol_id = priority_flag = 0;
  schedule_delivery_time.clear();
  validity_period.clear();
  registered_delivery = replace_if_present = data_coding = sm_default_msg_id = 0;
  short_message.clear();
  dests.clear();
  message_id.clear();
  final_date.clear();
  message_state = error_code = 0;
  unsuccess.clear();
  tlvs.clear();
}

bool readHeader(std::span<const uint8_t> bytes, Header* h) {
  ByteReader r(bytes);
  return r.u32(&h->command_length) && r.u32(&h->command_id) && r.u32(&h->command_status) &&
         r.u32(&h->sequence);
}

namespace {

bool digitsAt(std::string_view s, size_t from, size_t n) {
  for (size_t i = from; i < from + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int twoDigitsAt(std::string_view s, size_t at) {
  return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

}  // namespace

bool isSmppTime(std::string_view t) {
  if (t.size() != kTimeMax - 1 || !digitsAt(t, 0, 15)) return false;
  // Relative: years, months, days, hours, minutes and seconds as counts.
  if (t[15] == 'R') return true;
  if (t[15] != '+' && t[15] != '-') return false;
  int month = twoDigitsAt(t, 2), day = twoDigitsAt(t, 4), hour = twoDigitsAt(t, 6),
      minute = twoDigitsAt(t, 8), second = twoDigitsAt(t, 10), quarters = twoDigitsAt(t, 13);
  return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
         second <= 59 && quarters <= 48;
}

namespace {

// Reads the body of one command. Each helper returns the status that
// answers the first fault it meets, or kOk.
class BodyReader {
 public:
  explicit BodyReader(ByteReader r) : r_(r) {}

  uint32_t u8(uint8_t* v) { return r_.u8(v) ? status::kOk : status::kInvCmdLen; }
  uint32_t u32(uint32_t* v) { return r_.u32(v) ? status::kOk : status::kInvCmdLen; }

  // A C-Octet String of at most `max` octets with its NUL.
  uint32_t cstr(std::string* out, size_t max, uint32_t fault) {
    if (r_.empty()) return status::kInvCmdLen;
    return r_.cstring(out, max) ? status::kOk : fault;
  }
  // A time field: NUL alone, or one of the two 16-character forms and the NUL.
  uint32_t time(std::string* out, uint32_t fault) {
    uint32_t st = cstr(out, kTimeMax, fault);
    if (st != status::kOk) return st;
    return out->empty() || isSmppTime(*out) ? status::kOk : fault;
  }
  uint32_t address(Address* a, size_t max, uint32_t fault) {
    if (r_.remaining() < 2) return status::kInvCmdLen;
    uint8_t ton = 0, npi = 0;
    (void)r_.u8(&ton);
    (void)r_.u8(&npi);
    a->ton = ton;
    a->npi = npi;
    return cstr(&a->addr, max, fault);
  }
  uint32_t shortMessage(std::string* out) {
    uint8_t len = 0;
    if (!r_.u8(&len)) return status::kInvCmdLen;
    if (len > kShortMessageMax) return status::kInvMsgLen;
    if (!r_.bytes(len, out)) return status::kInvMsgLen;
    return status::kOk;
  }
  uint32_t tlvs(std::vector<Tlv>* out) {
    while (!r_.empty()) {
      uint16_t t = 0, len = 0;
      if (!r_.u16(&t) || !r_.u16(&len)) return status::kInvOptParStream;
      Tlv tlv;
      tlv.tag = t;
      if (!r_.bytes(len, &tlv.value)) return status::kInvOptParStream;
      if (const TlvDef* def = standardTlv(t); def != nullptr && !tlvLengthValid(*def, len))
        return status::kInvParLen;
      out->push_back(std::move(tlv));
    }
    return status::kOk;
  }
  bool empty() const { return r_.empty(); }

 private:
  ByteReader r_;
};

#define VEK_TRY(expr)                   \
  do {                                  \
    uint32_t st_ = (expr);              \
    if (st_ != status::kOk) return st_; \
  } while (0)

uint32_t decodeMessageBody(BodyReader& b, Pdu* p, bool multi) {
  VEK_TRY(b.cstr(&p->service_type, kServiceTypeMax, status::kInvSerTyp));
  VEK_TRY(b.address(&p->source, kAddr21Max, status::kInvSrcAdr));
  if (multi) {
    uint8_t n = 0;
    VEK_TRY(b.u8(&n));
    if (n == 0 || n > kMaxDests) return status::kInvNumDests;
    for (uint8_t i = 0; i < n; ++i) {
      MultiDest d;
      VEK_TRY(b.u8(&d.dest_flag));
      if (d.dest_flag == 1) {
        VEK_TRY(b.address(&d.address, kAddr21Max, status::kInvDstAdr));
      } else if (d.dest_flag == 2) {
        VEK_TRY(b.cstr(&d.dl_name, kDlNameMax, status::kInvDlName));
      } else {
        return status::kInvDestFlag;
      }
      p->dests.push_back(std::move(d));
    }
  } else {
    VEK_TRY(b.address(&p->destination, kAddr21Max, status::kInvDstAdr));
  }
  VEK_TRY(b.u8(&p->esm_class));
  VEK_TRY(b.u8(&p->protocol_id));
  VEK_TRY(b.u8(&p->priority_flag));
  VEK_TRY(b.time(&p->schedule_delivery_time, status::kInvSched));
  VEK_TRY(b.time(&p->validity_period, status::kInvExpiry));
  VEK_TRY(b.u8(&p->registered_delivery));
  VEK_TRY(b.u8(&p->replace_if_present));
  VEK_TRY(b.u8(&p->data_coding));
  VEK_TRY(b.u8(&p->sm_default_msg_id));
  return b.shortMessage(&p->short_message);
}

uint32_t decodeBody(BodyReader& b, Pdu* p) {
  switch (p->command_id) {
    case cmd::kBindReceiver:
    case cmd::kBindTransmitter:
    case cmd::kBindTransceiver:
      VEK_TRY(b.cstr(&p->system_id, kSystemIdMax, status::kInvSysId));
      VEK_TRY(b.cstr(&p->password, kPasswordMax, status::kInvPaswd));
      VEK_TRY(b.cstr(&p->system_type, kSystemTypeMax, status::kInvSysTyp));
      VEK_TRY(b.u8(&p->interface_version));
      return b.address(&p->address_range, kAddressRangeMax, status::kInvCmdLen);
    case cmd::kBindReceiverResp:
    case cmd::kBindTransmitterResp:
    case cmd::kBindTransceiverResp:
      return b.cstr(&p->system_id, kSystemIdMax, status::kInvSysId);
    case cmd::kOutbind:
      VEK_TRY(b.cstr(&p->system_id, kSystemIdMax, status::kInvSysId));
      return b.cstr(&p->password, kPasswordMax, status::kInvPaswd);
    case cmd::kSubmitSm:
    case cmd::kDeliverSm:
      return decodeMessageBody(b, p, false);
    case cmd::kSubmitMulti:
      return decodeMessageBody(b, p, true);
    case cmd::kSubmitSmResp:
    case cmd::kDeliverSmResp:
    case cmd::kDataSmResp:
      return b.cstr(&p->message_id, kMessageIdMax, status::kInvMsgId);
    case cmd::kSubmitMultiResp: {
      VEK_TRY(b.cstr(&p->message_id, kMessageIdMax, status::kInvMsgId));
      uint8_t n = 0;
      VEK_TRY(b.u8(&n));
      for (uint8_t i = 0; i < n; ++i) {
        UnsuccessSme u;
        VEK_TRY(b.address(&u.address, kAddr21Max, status::kInvDstAdr));
        VEK_TRY(b.u32(&u.error_status));
        p->unsuccess.push_back(std::move(u));
      }
      return status::kOk;
    }
    case cmd::kDataSm:
      VEK_TRY(b.cstr(&p->service_type, kServiceTypeMax, status::kInvSerTyp));
      VEK_TRY(b.address(&p->source, kAddr65Max, status::kInvSrcAdr));
      VEK_TRY(b.address(&p->destination, kAddr65Max, status::kInvDstAdr));
      VEK_TRY(b.u8(&p->esm_class));
      VEK_TRY(b.u8(&p->registered_delivery));
      return b.u8(&p->data_coding);
    case cmd::kQuerySm:
      VEK_TRY(b.cstr(&p->message_id, kMessageIdMax, status::kInvMsgId));
      return b.address(&p->source, kAddr21Max, status::kInvSrcAdr);
    case cmd::kQuerySmResp:
      VEK_TRY(b.cstr(&p->message_id, kMessageIdMax, status::kInvMsgId));
      VEK_TRY(b.time(&p->final_date, status::kInvMsgLen));
      VEK_TRY(b.u8(&p->message_state));
      return b.u8(&p->error_code);
    case cmd::kCancelSm:
      VEK_TRY(b.cstr(&p->service_type, kServiceTypeMax, status::kInvSerTyp));
      VEK_TRY(b.cstr(&p->message_id, kMessageIdMax, status::kInvMsgId));
      VEK_TRY(b.address(&p->source, kAddr21Max, status::kInvSrcAdr));
      return b.address(&p->destination, kAddr21Max, status::kInvDstAdr);
    case cmd::kReplaceSm:
      VEK_TRY(b.cstr(&p->message_id, kMessageIdMax, status::kInvMsgId));
      VEK_TRY(b.address(&p->source, kAddr21Max, status::kInvSrcAdr));
      VEK_TRY(b.time(&p->schedule_delivery_time, status::kInvSched));
      VEK_TRY(b.time(&p->validity_period, status::kInvExpiry));
      VEK_TRY(b.u8(&p->registered_delivery));
      VEK_TRY(b.u8(&p->sm_default_msg_id));
      return b.shortMessage(&p->short_message);
    case cmd::kAlertNotification:
      VEK_TRY(b.address(&p->source, kAddr65Max, status::kInvSrcAdr));
      return b.address(&p->esme, kAddr65Max, status::kInvDstAdr);
    case cmd::kGenericNack:
    case cmd::kUnbind:
    case cmd::kUnbindResp:
    case cmd::kEnquireLink:
    case cmd::kEnquireLinkResp:
    case cmd::kCancelSmResp:
    case cmd::kReplaceSmResp:
      return status::kOk;
    default:
      return status::kInvCmdId;
  }
}

}  // namespace

uint32_t decodePdu(std::span<const uint8_t> bytes, Pdu* p) {
  p->clear();
  Header h;
  if (!readHeader(bytes, &h)) return status::kInvCmdLen;
  p->command_id = h.command_id;
  p->command_status = h.command_status;
  p->sequence = h.sequence;
  if (h.command_length != bytes.size() || h.command_length < kHeaderLength ||
      h.command_length > kMaxCommandLength)
    return status::kInvCmdLen;
  if (!isKnownCommand(h.command_id)) return status::kInvCmdId;
  BodyReader b(ByteReader(bytes.subspan(kHeaderLength)));
  // An error answer may come without its body.
  if (cmd::isResponse(h.command_id) && h.command_status != status::kOk && b.empty())
    return status::kOk;
  // Some centres accept a message with a bare header: no message_id at all.
  // That is still an acceptance (resending it would deliver it twice).
  if (b.empty() && (h.command_id == cmd::kSubmitSmResp || h.command_id == cmd::kDataSmResp ||
                    h.command_id == cmd::kDeliverSmResp))
    return status::kOk;
  VEK_TRY(decodeBody(b, p));
  // Optional parameters follow any body; SMPP 5 peers add them to more
  // responses than 3.4 lists, so every command accepts them.
  VEK_TRY(b.tlvs(&p->tlvs));
  // The text is in one place or the other: with both, which one the sender
  // meant is unknown, and dropping either loses part of the message.
  if (!p->short_message.empty() && p->findTlv(tag::kMessagePayload) != nullptr &&
      (h.command_id == cmd::kSubmitSm || h.command_id == cmd::kDeliverSm ||
       h.command_id == cmd::kSubmitMulti))
    return status::kOptParNotAllwd;
  return status::kOk;
}

#undef VEK_TRY

namespace {

// A C-Octet String ends at its first NUL: a value with a NUL inside is cut
// there rather than shifting every field after it.
void cstr(ByteWriter* w, std::string_view s, size_t max) {
  w->cstring(s.substr(0, s.find('\0')), max);
}

void writeAddress(ByteWriter* w, const Address& a, size_t max) {
  w->u8(a.ton);
  w->u8(a.npi);
  cstr(w, a.addr, max);
}

// A time field is either empty or one of the two SMPP forms.
void writeTime(ByteWriter* w, const std::string& t) {
  w->cstring(isSmppTime(t) ? std::string_view(t) : std::string_view(), kTimeMax);
}

void writeShortMessage(ByteWriter* w, const std::string& sm) {
  size_t len = std::min(sm.size(), kShortMessageMax);
  w->u8(static_cast<uint8_t>(len));
  w->bytes(std::string_view(sm).substr(0, len));
}

void writeMessageBody(ByteWriter* w, const Pdu& p, bool multi) {
  cstr(w, p.service_type, kServiceTypeMax);
  writeAddress(w, p.source, kAddr21Max);
  if (multi) {
    size_t n = std::min(p.dests.size(), kMaxDests);
    w->u8(static_cast<uint8_t>(n));
    for (size_t i = 0; i < n; ++i) {
      const MultiDest& d = p.dests[i];
      w->u8(d.dest_flag == 2 ? 2 : 1);
      if (d.dest_flag == 2)
        cstr(w, d.dl_name, kDlNameMax);
      else
        writeAddress(w, d.address, kAddr21Max);
    }
  } else {
    writeAddress(w, p.destination, kAddr21Max);
  }
  w->u8(p.esm_class);
  w->u8(p.protocol_id);
  w->u8(p.priority_flag);
  writeTime(w, p.schedule_delivery_time);
  writeTime(w, p.validity_period);
  w->u8(p.registered_delivery);
  w->u8(p.replace_if_present);
  w->u8(p.data_coding);
  w->u8(p.sm_default_msg_id);
  writeShortMessage(w, p.short_message);
}

void writeBody(ByteWriter* w, const Pdu& p) {
  switch (p.command_id) {
    case cmd::kBindReceiver:
    case cmd::kBindTransmitter:
    case cmd::kBindTransceiver:
      cstr(w, p.system_id, kSystemIdMax);
      cstr(w, p.password, kPasswordMax);
      cstr(w, p.system_type, kSystemTypeMax);
      w->u8(p.interface_version);
      writeAddress(w, p.address_range, kAddressRangeMax);
      return;
    case cmd::kBindReceiverResp:
    case cmd::kBindTransmitterResp:
    case cmd::kBindTransceiverResp:
      cstr(w, p.system_id, kSystemIdMax);
      return;
    case cmd::kOutbind:
      cstr(w, p.system_id, kSystemIdMax);
      cstr(w, p.password, kPasswordMax);
      return;
    case cmd::kSubmitSm:
    case cmd::kDeliverSm:
      writeMessageBody(w, p, false);
      return;
    case cmd::kSubmitMulti:
      writeMessageBody(w, p, true);
      return;
    case cmd::kSubmitSmResp:
    case cmd::kDeliverSmResp:
    case cmd::kDataSmResp:
      cstr(w, p.message_id, kMessageIdMax);
      return;
    case cmd::kSubmitMultiResp: {
      cstr(w, p.message_id, kMessageIdMax);
      size_t n = std::min<size_t>(p.unsuccess.size(), 255);
      w->u8(static_cast<uint8_t>(n));
      for (size_t i = 0; i < n; ++i) {
        writeAddress(w, p.unsuccess[i].address, kAddr21Max);
        w->u32(p.unsuccess[i].error_status);
      }
      return;
    }
    case cmd::kDataSm:
      cstr(w, p.service_type, kServiceTypeMax);
      writeAddress(w, p.source, kAddr65Max);
      writeAddress(w, p.destination, kAddr65Max);
      w->u8(p.esm_class);
      w->u8(p.registered_delivery);
      w->u8(p.data_coding);
      return;
    case cmd::kQuerySm:
      cstr(w, p.message_id, kMessageIdMax);
      writeAddress(w, p.source, kAddr21Max);
      return;
    case cmd::kQuerySmResp:
      cstr(w, p.message_id, kMessageIdMax);
      writeTime(w, p.final_date);
      w->u8(p.message_state);
      w->u8(p.error_code);
      return;
    case cmd::kCancelSm:
      cstr(w, p.service_type, kServiceTypeMax);
      cstr(w, p.message_id, kMessageIdMax);
      writeAddress(w, p.source, kAddr21Max);
      writeAddress(w, p.destination, kAddr21Max);
      return;
    case cmd::kReplaceSm:
      cstr(w, p.message_id, kMessageIdMax);
      writeAddress(w, p.source, kAddr21Max);
      writeTime(w, p.schedule_delivery_time);
      writeTime(w, p.validity_period);
      w->u8(p.registered_delivery);
      w->u8(p.sm_default_msg_id);
      writeShortMessage(w, p.short_message);
      return;
    case cmd::kAlertNotification:
      writeAddress(w, p.source, kAddr65Max);
      writeAddress(w, p.esme, kAddr65Max);
      return;
    default:
      return;
  }
}

}  // namespace

void encodePdu(const Pdu& p, ByteWriter* w, bool with_tlvs) {
  size_t start = w->size();
  w->u32(0);  // command_length, patched below
  w->u32(p.command_id);
  w->u32(p.command_status);
  w->u32(p.sequence);
  // An error answer carries no body (except generic_nack, which never has one).
  bool body = !(cmd::isResponse(p.command_id) && p.command_status != status::kOk);
  if (body) {
    writeBody(w, p);
    if (with_tlvs) {
      for (const auto& t : p.tlvs) {
        size_t len = std::min<size_t>(t.value.size(), 0xFFFF);
        w->u16(t.tag);
        w->u16(static_cast<uint16_t>(len));
        w->bytes(std::string_view(t.value).substr(0, len));
      }
    }
  }
  w->patchU32(start, static_cast<uint32_t>(w->size() - start));
}

Pdu makeResponse(const Pdu& request, uint32_t command_status) {
  Pdu r;
  r.command_id = isKnownCommand(request.command_id | cmd::kResponseBit)
                     ? (request.command_id | cmd::kResponseBit)
                     : cmd::kGenericNack;
  r.command_status = command_status;
  r.sequence = request.sequence;
  return r;
}

}  // namespace vek::smpp
