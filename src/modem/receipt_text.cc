#include "modem/receipt_text.h"

#include <cstdlib>

#include "platform/strings.h"

namespace vek::modem {
namespace {

std::string oldStamp(const PduTimestamp& t) {
  const int minutes = std::abs(t.zone_quarters) * 15;
  return platform::format("%04d-%02d-%02d %02d:%02d:%02d %s%02d%02d", 2000 + t.year, t.month, t.day,
                          t.hour, t.minute, t.second, t.zone_quarters < 0 ? "-" : "+", minutes / 60,
                          minutes % 60);
}

}  // namespace

ReceiptKind receiptKind(uint8_t status) {
  if (status <= 0x02) return ReceiptKind::kDelivered;
  if (status >= 0x20 && status <= 0x3F) return ReceiptKind::kTemporary;
  return ReceiptKind::kFailed;
}

std::string_view statusMeaning(uint8_t status) {
  switch (status) {
    case 0x00:
      return "(Delivered)";
    case 0x01:
      return "(Forwarded: Delivery unconfirmed)";
    case 0x02:
      return "(Forwarded: Message replaced)";
    case 0x20:
      return "(Temp Error: Network Congestion)";
    case 0x21:
      return "(Temp Error: Recipient Busy)";
    case 0x22:
      return "(Temp Error: Recip No Response)";
    case 0x23:
      return "(Temp Error: Service Rejected)";
    case 0x24:
      return "(Temp Error: QoS not available)";
    case 0x25:
      return "(Temp Error: Error at receipient)";
    case 0x40:
      return "(Error: Remote Procedure Error)";
    case 0x41:
      return "(Error: Incompatible Destination)";
    case 0x42:
      return "(Error: Message rejected)";
    case 0x43:
      return "(Error: Not obtainable)";
    case 0x44:
      return "(Error: QoS not available)";
    case 0x45:
      return "(Error: No interworking avail)";
    case 0x46:
      return "(Error: Message Expired)";
    case 0x47:
      return "(Error: Message del by sender)";
    case 0x48:
      return "(Error: Message deleted by admin)";
    case 0x49:
      return "(Error: Message does not exist)";
    case 0x60:
      return "(Error: Network Congestion)";
    case 0x61:
      return "(Error: Recipient Busy)";
    case 0x62:
      return "(Error: Recipient Not Responding)";
    case 0x63:
      return "(Error: Service Rejected)";
    case 0x64:
      return "(Error: QoS not available)";
    case 0x65:
      return "(Error: Error at receipient)";
    default:
      break;
  }
  if (status >= 0x26 && status <= 0x3F) return "(Temp Error: Unknown error)";
  return "(Error: Message not Delivered)";
}

std::string receiptText(const ReceivedPdu& report, std::string_view id, bool old_format) {
  const PduTimestamp& s = report.service_centre_time;
  const PduTimestamp& d = report.discharge_time;
  if (old_format) {
    return platform::format("Report: %s SMSC: %s", report.recipient.c_str(), report.smsc.c_str()) +
           " Submitted: " + oldStamp(s) + " Reported: " + oldStamp(d) +
           platform::format(" Status: %02X ", report.status) +
           std::string(statusMeaning(report.status));
  }
  const bool delivered = receiptKind(report.status) == ReceiptKind::kDelivered;
  return platform::format(
      "id:%.*s sub:001 dlvrd:%03d submit date:%02d%02d%02d%02d%02d done "
      "date:%02d%02d%02d%02d%02d stat:%s err:%03X",
      static_cast<int>(id.size()), id.data(), delivered ? 1 : 0, s.year, s.month, s.day, s.hour,
      s.minute, d.year, d.month, d.day, d.hour, d.minute, delivered ? "DELIVRD" : "REJECTD",
      report.status);
}

}  // namespace vek::modem
