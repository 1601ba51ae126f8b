#include "inbound/inbound_file.h"

#include "encoding/dcs.h"
#include "encoding/utf8.h"
#include "queue/request_writer.h"

namespace vek::inbound {
namespace {

using queue::RequestWriter;

size_t escapedSize(char c) {
  return c == '\r' || c == '\n' ? 2 : 1;
}

// `text` cut to at most `limit` bytes, never inside a UTF-8 character (the
// loader would cut there too, at any byte).
std::string_view cutText(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = 0;
  for (size_t pos = 0; pos < text.size();) {
    size_t next = pos;
    encoding::decodeUtf8Char(text, &next);
    if (next <= pos) next = pos + 1;
    if (next > limit) break;
    end = pos = next;
  }
  return text.substr(0, end);
}

// The bytes at the end of `text` that begin a UTF-8 character without
// finishing it (what a cut at a byte count leaves behind), or 0.
size_t incompleteUtf8Tail(std::string_view text) {
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const size_t needed = c >= 0xF0 && c <= 0xF4   ? 4
                          : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xC2 && c <= 0xDF ? 2
                                                   : 1;
    return needed > back ? back : 0;
  }
  return 0;
}

void writeRequestFlags(RequestWriter& w, uint32_t flags, bool reply) {
  if (reply) w.yes("ReplyRequested", (flags & queue::kFlagReplyRequested) != 0);
  w.yes("ReceiptRequested", (flags & queue::kFlagReceiptRequested) != 0);
  w.yes("NonDelReceiptRequested", (flags & queue::kFlagNonDelReceiptRequested) != 0);
}

void writeReceipt(RequestWriter& w, uint32_t flags, std::string_view receipt_id) {
  std::string_view status = receiptStatusKey(flags);
  if (status.empty()) return;
  w.yes(status);
  w.textIfSet("ReceiptMessageId", receipt_id);
}

}  // namespace

std::string_view extensionOf(InboundKind kind) {
  switch (kind) {
    case InboundKind::kReceipt:
      return "rec";
    case InboundKind::kReceiptToResolve:
      return "rct";
    case InboundKind::kMessage:
      break;
  }
  return "in";
}

std::string cutData(std::string_view data, bool binary, uint8_t dcs) {
  size_t escaped = 0;
  size_t end = 0;
  while (end < data.size()) {
    size_t next = end;
    if (binary) {
      ++next;
    } else {
      encoding::decodeUtf8Char(data, &next);
      if (next <= end) next = end + 1;
    }
    size_t cost = 0;
    for (size_t i = end; i < next; ++i) cost += escapedSize(data[i]);
    if (escaped + cost > queue::kLimitData) break;
    escaped += cost;
    end = next;
  }
  // A text the loader already cut at its byte limit may end inside a
  // character: that fragment goes too.
  // (Only there: elsewhere such a byte is a Windows-1252 character.)
  if (!binary && end == data.size() && escaped + 3 >= queue::kLimitData)
    end -= incompleteUtf8Tail(data.substr(0, end));
  if (binary && end < data.size()) {
    const size_t unit = encoding::DCSIsUCS2(dcs) ? 4 : 2;
    end -= end % unit;
  }
  return std::string(data.substr(0, end));
}

std::string_view receiptStatusKey(uint32_t flags) {
  if ((flags & queue::kFlagIsReceipt) == 0) return {};
  if (flags & queue::kFlagReceiptInTransit) return "ReceiptIntransit";
  if (flags & queue::kFlagReceiptFailed) return "ReceiptFailed";
  if (flags & queue::kFlagReceiptDelivered) return "ReceiptDelivered";
  return {};
}

std::string formatReceivedFile(const ReceivedFile& f) {
  RequestWriter w(f.inbound_section ? "[SMS-IN]" : "[SMS]");
  if (!f.modem_name.empty()) {
    w.text("ModemName", cutText(f.modem_name, queue::kLimitModemName));
  } else {
    w.textIfSet("SMSCRoute", cutText(f.smsc_route, queue::kLimitSMSCRoute));
  }
  w.text("Sender", cutText(f.sender, queue::kLimitSender));
  w.textIfSet("PhoneNumber", cutText(f.recipient, queue::kLimitPhoneNumber));
  w.textIfSet("UDH", cutText(f.udh, queue::kLimitUDH));
  if (f.pid != 0) w.hex("pid", f.pid);
  if (f.dcs != 0) w.hex("dcs", f.dcs);
  w.data(cutData(f.data, f.binary, f.dcs));
  if (f.binary) w.text("Binary", "1");
  writeRequestFlags(w, f.flags, true);
  writeReceipt(w, f.flags, cutText(f.receipt_message_id, queue::kLimitReceiptMessageId));
  w.textIfSet("ServiceType", cutText(f.service_type, queue::kLimitServiceType));
  w.textIfSet("SMPPOptions", cutText(f.smpp_options, queue::kLimitSMPPOptions));
  w.textIfSet("RouteToLocalUser", cutText(f.local_user, queue::kLimitRouteToLocalUser));
  w.textIfSet("ReceivedSMSC", cutText(f.received_smsc, queue::kLimitReceivedSMSC));
  w.yes("DuplicateMessageFor2Way", f.duplicate_for_two_way);
  return w.str();
}

std::string formatRoutedCopy(const queue::SMSMessage& m, bool inbound_section) {
  RequestWriter w(inbound_section ? "[SMS-IN]" : "[SMS]");
  w.text("Sender", m.Sender);
  w.text("PhoneNumber", m.PhoneNumber);
  w.data(cutData(m.Data, m.Binary, m.dcs));
  w.textIfSet("UDH", m.UDH);
  w.hex2("pid", m.pid);
  w.hex2("dcs", m.dcs);
  w.text("Binary", m.Binary ? "1" : "0");
  writeRequestFlags(w, m.MessageFlags, true);
  writeReceipt(w, m.MessageFlags, m.ReceiptMessageId);
  w.textIfSet("ServiceType", m.ServiceType);
  w.textIfSet("ModemName", m.ModemName);
  w.textIfSet("ReceivedSMSC", m.ReceivedSMSC);
  w.textIfSet("BillingInfo", m.BillingInfo);
  w.textIfSet("AcctInfo", m.AcctInfo);
  w.textIfSet("SMPPOptions", m.SMPPOptions);
  w.yes("DuplicateMessageFor2Way", m.DuplicateMessageFor2Way);
  return w.str();
}

std::string messageIdOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const size_t dot = path.find('.');
  return std::string(path.substr(0, dot));
}

}  // namespace vek::inbound
