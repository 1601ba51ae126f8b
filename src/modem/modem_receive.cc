// Receiving: reports set aside by the response reader (+CMT, +CDS, +CMTI,
// +CDSI), storage polling (AT+CPMS / AT+CMGL / AT+CMGD), decoding and the
// hand-over to inbound processing. A message leaves the modem (AT+CNMA,
// AT+CMGD) only after the hand-over succeeded; one that cannot be read is
// kept in the set-aside directory before it is removed.
#include <algorithm>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "modem/message_reference.h"
#include "modem/modem.h"
#include "modem/receipt_text.h"
#include "platform/strings.h"
#include "queue/naming_counters.h"
#include "queue/request_file.h"

namespace vek::modem {
namespace {

constexpr char kTag[] = "ModemReceiveMessages";

// The comma-separated fields of a report or listing line after its
// "+XXX:" tag; quotes removed, quoted commas kept.
std::vector<std::string> fields(std::string_view line) {
  std::vector<std::string> out;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return out;
  std::string cur;
  bool quoted = false;
  for (char c : line.substr(colon + 1)) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      out.emplace_back(platform::trim(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  out.emplace_back(platform::trim(cur));
  return out;
}

// The quoted values of a line, in order.
std::vector<std::string> quoted(std::string_view line) {
  std::vector<std::string> out;
  size_t pos = 0;
  while ((pos = line.find('"', pos)) != std::string_view::npos) {
    const size_t end = line.find('"', pos + 1);
    if (end == std::string_view::npos) break;
    out.emplace_back(line.substr(pos + 1, end - pos - 1));
    pos = end + 1;
  }
  return out;
}

int intField(const std::string& s) {
  if (s.empty() || !platform::isAllDigits(s) || s.size() > 6) return -1;
  return static_cast<int>(platform::parseLeadingInt(s));
}

// "yy/MM/dd,hh:mm:ss+zz" (text mode time stamps).
PduTimestamp textTimestamp(std::string_view s) {
  PduTimestamp t;
  int v[6] = {0, 0, 0, 0, 0, 0};
  size_t k = 0;
  size_t i = 0;
  while (i < s.size() && k < 6) {
    if (s[i] >= '0' && s[i] <= '9') {
      int n = 0;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < 1000) n = n * 10 + (s[i++] - '0');
      v[k++] = n;
    } else {
      ++i;
    }
  }
  t.year = v[0] % 100;
  t.month = v[1];
  t.day = v[2];
  t.hour = v[3];
  t.minute = v[4];
  t.second = v[5];
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    const int q = static_cast<int>(platform::parseLeadingInt(s.substr(i + 1, 3)));
    t.zone_quarters = s[i] == '-' ? -q : q;
  }
  return t;
}

// The last number of a report header ("+CMT: ,47" -> 47), or -1.
int declaredLength(std::string_view header) {
  const auto f = fields(header);
  return f.empty() ? -1 : intField(f.back());
}

}  // namespace

bool Modem::takeNewMessageFlag() {
  if (channel_ && channel_->reader().takeNewMessageFlag()) new_message_ = true;
  return std::exchange(new_message_, false);
}

void Modem::listen(double seconds) {
  if (!channel_) return;
  channel_->listen(seconds);
  handleReports();
}

size_t Modem::handleReports() {
  if (!channel_ || handling_reports_) return 0;
  handling_reports_ = true;
  size_t handed = 0;
  auto& queue = channel_->reader().setAside();
  // Bounded: each round removes one report or stops.
  for (size_t round = 0; round < 2 * kMaxSetAside && !queue.empty(); ++round) {
    const Unsolicited u = queue.front();
    if (!handleReport(u)) break;  // kept for the next round of reports
    queue.pop_front();
    ++handed;
  }
  handling_reports_ = false;
  if (channel_->reader().takeNewMessageFlag()) new_message_ = true;
  return handed;
}

bool Modem::handleReport(const Unsolicited& u) {
  using Kind = Unsolicited::Kind;
  switch (u.kind) {
    case Kind::kCmti:
    case Kind::kCdsi:
      new_message_ = true;
      return true;
    case Kind::kCmt:
    case Kind::kCds: {
      bool ok;
      if (u.kind == Kind::kCds && facts_.text_mode && u.body.empty()) {
        ok = deliverTextStatusReport(u.header);
      } else if (facts_.text_mode) {
        ok = deliverText(u.header, u.body, false);
      } else {
        ok = deliverPdu(u.body, declaredLength(u.header), u.kind == Kind::kCmt ? "+CMT" : "+CDS");
      }
      if (!ok) return false;
      if (facts_.phase2plus) acknowledge();
      return true;
    }
  }
  return true;
}

void Modem::acknowledge() {
  Response r = exchange("AT+CNMA", 5);
  if (!r.ok()) log("AT+CNMA not accepted: " + printable(r.text, 200));
}

bool Modem::deliverPdu(std::string_view pdu_hex, int declared_length, std::string_view source) {
  pdu_hex = platform::trim(pdu_hex);
  DecodeOptions o;
  o.alpha_sender_address_bug = options_.alpha_sender_address_bug;
  o.check_status_report_smsc = !options_.disable_invalid_sr_check;
  if (declared_length >= 0) {
    // A report without the service centre part announces every octet.
    const bool whole = pdu_hex.size() == static_cast<size_t>(declared_length) * 2;
    o.has_smsc = !whole;
    const int tpdu = whole ? declared_length : tpduOctets(pdu_hex);
    if (tpdu != declared_length) {
      const std::string why = platform::format(
          "PDU length %d does not match the announced length %d", tpdu, declared_length);
      foundation::DebugLog(kTag, why);
      return setAsideUnreadable(why, pdu_hex);
    }
  }
  auto decoded = decodeReceivedPdu(pdu_hex, o);
  if (!decoded.ok()) {
    foundation::DebugLogf(kTag, "%.*s: %s", static_cast<int>(source.size()), source.data(),
                          decoded.status().message().c_str());
    return setAsideUnreadable(decoded.status().message(), pdu_hex);
  }
  return deliver(*decoded);
}

bool Modem::deliver(const ReceivedPdu& pdu) {
  const std::string& own = options_.own_number.empty() ? facts_.own_number : options_.own_number;
  InboundSms m;
  m.link_name = options_.link_name;
  m.received_smsc = pdu.smsc;
  if (pdu.type == ReceivedPdu::Type::kDeliver) {
    m.sender = pdu.sender;
    m.recipient = own;
    m.udh = pdu.udh;
    m.data = pdu.data;
    m.binary = pdu.binary;
    m.pid = pdu.pid;
    m.dcs = pdu.dcs;
    if (pdu.first_octet & 0x80) m.flags |= queue::kFlagReplyRequested;
    return handler_(m).ok();
  }

  const ReceiptKind kind = receiptKind(pdu.status);
  if (kind == ReceiptKind::kTemporary) {
    foundation::DebugLog(
        kTag, "Delivery report indicates temporary delivery error.  Delivery report suppressed.");
    return true;
  }
  const auto found =
      inbound::FindModemMessageId(options_.link_name, {}, pdu.message_reference, pdu.recipient);
  m.sender = pdu.recipient;
  m.recipient = found && !found->sender.empty() ? found->sender : own;
  m.data = receiptText(pdu, found ? std::string_view(found->local_id) : "unknown",
                       options_.old_receipt_format);
  m.flags = queue::kFlagIsReceipt | (kind == ReceiptKind::kDelivered ? queue::kFlagReceiptDelivered
                                                                     : queue::kFlagReceiptFailed);
  if (found) {
    m.receipt_message_id = found->local_id;
    m.route_to_local_user = found->account;
  } else {
    // Not known yet: the receipt thread tries the key again later.
    m.receipt_message_id = modemMessageKey(pdu.message_reference, pdu.recipient);
    m.resolve_receipt_id = true;
  }
  return handler_(m).ok();
}

bool Modem::deliverText(std::string_view header, std::string_view body, bool listing) {
  // A listing line is +CMGL: <index>,"<status>","<sender>",...; a +CMT
  // report is +CMT: "<sender>",...
  const auto q = quoted(header);
  const size_t sender_at = listing ? 1 : 0;
  InboundSms m;
  m.link_name = options_.link_name;
  m.sender = q.size() > sender_at ? q[sender_at] : std::string();
  m.recipient = options_.own_number.empty() ? facts_.own_number : options_.own_number;
  m.data = std::string(body);
  foundation::DebugLogf(kTag, "Message = %s", m.data.c_str());
  return handler_(m).ok();
}

bool Modem::deliverTextStatusReport(std::string_view line) {
  // +CDS: <fo>,<mr>,"<ra>",<tora>,"<scts>","<dt>",<st>
  const auto f = fields(line);
  if (f.size() < 7 || intField(f[1]) < 0 || intField(f[6]) < 0) {
    return setAsideUnreadable("text-mode status report", line);
  }
  ReceivedPdu p;
  p.type = ReceivedPdu::Type::kStatusReport;
  p.message_reference = static_cast<uint8_t>(intField(f[1]) & 0xFF);
  p.recipient = f[2];
  p.service_centre_time = textTimestamp(f[4]);
  p.discharge_time = textTimestamp(f[5]);
  p.status = static_cast<uint8_t>(intField(f[6]) & 0xFF);
  return deliver(p);
}

bool Modem::setAsideUnreadable(std::string_view what, std::string_view text) {
  std::string content = "ModemName=" + options_.link_name + "\r\nReason=" + printable(what, 200) +
                        "\r\nPDU=" + printable(text, 1024) + "\r\n";
  auto written = queue::CreateTemporaryFile(foundation::setAsideDirectory(), "PDU", content);
  if (!written.ok()) {
    foundation::DebugLogf(kTag, "Unable to set aside an unreadable message: %s",
                          written.status().message().c_str());
    return false;
  }
  foundation::DebugLogf(kTag, "Unreadable message set aside as %s", written->c_str());
  return true;
}

PollResult Modem::pollStorage() {
  PollResult result;
  if (!isOpen()) return result;
  Response r = exchange("AT+CPMS?", 10);
  const std::string_view line = findLineStarting(r.text, "+CPMS:");
  if (line.empty()) {
    log("Modem does not support polling for received messages");
    result.supported = false;
    return result;
  }
  std::vector<std::string> storages;
  for (auto& s : quoted(line)) {
    if (platform::equalsNoCase(s, "SR") && !facts_.poll_status_reports) continue;
    if (std::find(storages.begin(), storages.end(), s) == storages.end()) storages.push_back(s);
  }
  if (facts_.poll_status_reports &&
      std::find(storages.begin(), storages.end(), "SR") == storages.end())
    storages.push_back("SR");
  for (const auto& s : storages) {
    if (!isOpen() || stopRequested()) break;
    pollOneStorage(s, &result);
  }
  if (!facts_.receive_storage.empty() && storages.size() > 1)
    exchange("AT+CPMS=\"" + facts_.receive_storage + "\"", 10);
  handleReports();
  return result;
}

size_t Modem::pollOneStorage(const std::string& storage, PollResult* result) {
  if (options_.debug_poll) log("Polling message storage " + storage);
  if (!exchange("AT+CPMS=\"" + storage + "\"", 10).ok()) {
    if (options_.debug_poll) log("Unable to select message storage " + storage);
    return 0;
  }
  std::vector<int> done;
  const size_t before = result->handed_over;
  if (!facts_.text_mode) {
    listAndDeliver("AT+CMGL=0", storage, &done, result);
    if (options_.process_read_messages) listAndDeliver("AT+CMGL=1", storage, &done, result);
  } else {
    if (!listAndDeliver("AT+CMGL=\"REC UNREAD\"", storage, &done, result))
      listAndDeliver("AT+CMGL=\"UREAD\"", storage, &done, result);
    if (options_.process_read_messages)
      listAndDeliver("AT+CMGL=\"REC READ\"", storage, &done, result);
  }
  return result->handed_over - before;
}

// Lists with `list_command` and hands over each entry, deleting it after.
// False when the listing answered ERROR (other than 321, "invalid index").
bool Modem::listAndDeliver(std::string_view list_command, const std::string& storage,
                           std::vector<int>* done, PollResult* result) {
  const Response r = exchange(list_command, 30);
  if (!r.ok()) {
    if (options_.debug_poll) log(std::string(list_command) + ": " + printable(r.text, 200));
    return !(r.error() && cmsErrorCode(r.text) != 321);
  }
  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < r.text.size();) {
    size_t end = r.text.find("\r\n", pos);
    if (end == std::string::npos) end = r.text.size();
    lines.push_back(std::string_view(r.text).substr(pos, end - pos));
    pos = end + 2;
  }
  for (size_t i = 0; i < lines.size() && isOpen(); ++i) {
    if (lines[i].substr(0, 6) != "+CMGL:") continue;
    const auto f = fields(lines[i]);
    const int index = f.empty() ? -1 : intField(f[0]);
    const std::string_view header = lines[i];
    const bool has_body = i + 1 < lines.size() && lines[i + 1].substr(0, 6) != "+CMGL:";
    const std::string_view body = has_body ? lines[i + 1] : std::string_view();
    if (has_body) ++i;
    if (index < 0 || std::find(done->begin(), done->end(), index) != done->end()) continue;
    foundation::DebugLogf(kTag, "Decoding received message index %d from message storage %s", index,
                          storage.c_str());
    bool ok;
    if (facts_.text_mode) {
      ok = deliverText(header, body, true);
    } else if (!has_body) {
      ok = setAsideUnreadable("listing entry without a PDU", header);
      if (ok) ++result->set_aside;
    } else {
      ok = deliverPdu(body, f.size() >= 2 ? intField(f.back()) : -1, storage);
    }
    if (!ok) {
      ++result->failed;
      log(platform::format("Message %d in %s not handed over; left in the storage", index,
                           storage.c_str()));
      continue;
    }
    ++result->handed_over;
    done->push_back(index);
    exchange(platform::format("AT+CMGD=%d", index), 10);
  }
  return true;
}

}  // namespace vek::modem
