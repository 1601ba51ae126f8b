#include "modem/inbound_handoff.h"

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "queue/queue_tree.h"
#include "queue/request_file.h"
#include "queue/request_writer.h"

namespace vek::modem {

std::string formatInboundSms(const InboundSms& m) {
  using namespace queue;
  RequestWriter w("[SMS-IN]");
  w.textIfSet("ModemName", m.link_name);
  w.text("Sender", m.sender);
  w.textIfSet("PhoneNumber", m.recipient);
  w.textIfSet("UDH", m.udh);
  if (m.pid != 0) w.hex("pid", m.pid);
  if (m.dcs != 0) w.hex("dcs", m.dcs);
  w.data(m.data);
  if (m.binary) w.text("Binary", "1");
  w.yes("ReceiptRequested", m.flags & kFlagReceiptRequested);
  w.yes("NonDelReceiptRequested", m.flags & kFlagNonDelReceiptRequested);
  if (m.flags & kFlagIsReceipt) {
    if (m.flags & kFlagReceiptInTransit) {
      w.yes("ReceiptIntransit");
    } else if (m.flags & kFlagReceiptFailed) {
      w.yes("ReceiptFailed");
    } else if (m.flags & kFlagReceiptDelivered) {
      w.yes("ReceiptDelivered");
    }
    w.textIfSet("ReceiptMessageId", m.receipt_message_id);
  }
  w.textIfSet("RouteToLocalUser", m.route_to_local_user);
  w.textIfSet("ReceivedSMSC", m.received_smsc);
  return w.str();
}

platform::Status handInboundSms(const InboundSms& m, std::string* path) {
  const bool receipt = (m.flags & queue::kFlagIsReceipt) != 0;
  const char* extension = !receipt ? "in" : m.resolve_receipt_id ? "rct" : "rec";
  auto written =
      queue::CreateQueueFile(foundation::inboundDirectory(), extension, formatInboundSms(m));
  if (!written.ok()) {
    foundation::DebugLogf("ModemReceiveMessages", "Unable to write inbound file: %s",
                          written.status().message().c_str());
    return written.status();
  }
  foundation::DebugLogf("ModemReceiveMessages", "Created %s", written->c_str());
  if (path) *path = *written;
  return platform::Status::success();
}

}  // namespace vek::modem
