#include "submit/receipts.h"

#include "platform/strings.h"

namespace vek::submit {

ReceiptStatus receiptStatus(bool delivered, bool intransit, bool failed) {
  if (delivered || (!intransit && !failed)) return ReceiptStatus::kDelivered;
  if (intransit) return ReceiptStatus::kEnroute;
  return ReceiptStatus::kRejected;
}

const char* receiptStatusText(ReceiptStatus status) {
  switch (status) {
    case ReceiptStatus::kDelivered:
      return "DELIVRD";
    case ReceiptStatus::kEnroute:
      return "ENROUTE";
    case ReceiptStatus::kRejected:
      return "REJECTD";
  }
  return "REJECTD";
}

std::string receiptText(std::string_view message_id, ReceiptStatus status,
                        const platform::CalendarTime& s, const platform::CalendarTime& d) {
  const int delivered = status == ReceiptStatus::kDelivered ? 1 : 0;
  const unsigned err = status == ReceiptStatus::kRejected ? 999 : 0;
  return platform::format(
      "id:%.*s sub:001 dlvrd:%03d submit date:%02d%02d%02d%02d%02d done "
      "date:%02d%02d%02d%02d%02d stat:%s err:%03X",
      static_cast<int>(message_id.size()), message_id.data(), delivered, s.year % 100, s.month,
      s.day, s.hour, s.minute, d.year % 100, d.month, d.day, d.hour, d.minute,
      receiptStatusText(status), err);
}

void makeReceipt(Message* m, const hostlib::MessageIdRecord& original, ReceiptStatus status,
                 const platform::CalendarTime& now) {
  m->target = Target::kReceipt;
  const uint8_t pid = m->content.pid;
  m->content = Content{};
  m->content.pid = pid;
  m->content.text = receiptText(original.local_id, status, now, now);
  m->recipients = {original.recipient.empty() ? std::string("unknown") : original.recipient};
  m->sender = original.sender;
  m->route_to_local_user = original.account;
  m->receipt_message_id = original.local_id;
  m->receipt_delivered = status == ReceiptStatus::kDelivered;
  m->receipt_intransit = status == ReceiptStatus::kEnroute;
  m->receipt_failed = status == ReceiptStatus::kRejected;
}

std::optional<hostlib::MessageIdRecord> findReceiptOriginal(std::string_view receipt_message_id) {
  return hostlib::SMSCMessageIdGet2(kReceiptLinkName, receipt_message_id);
}

}  // namespace vek::submit
