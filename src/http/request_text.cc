#include "http/request_text.h"

#include "platform/sanitize.h"
#include "queue/request_writer.h"

namespace vek::http {

std::string requestFileHead(const RequestKeys& k, const ContentPart& part, std::string_view route) {
  queue::RequestWriter w(k.inbound ? "[SMS-IN]" : "[SMS]");
  w.textIfSet("SubmitUser", k.submit_user);
  w.textIfSet("SubmittedBy", k.submitted_by);
  w.textIfSet("Sender", k.sender);
  w.yes("ReplyRequested", k.reply_requested);
  w.yes("ReceiptRequested", k.receipt_requested);
  w.yes("ReceiptDelivered", k.receipt_delivered);
  w.yes("ReceiptFailed", k.receipt_failed);
  w.yes("ReceiptIntransit", k.receipt_intransit);
  w.textIfSet("ReceiptMessageID", k.receipt_message_id);
  w.textIfSet("RouteToLocalUser", k.route_to_local_user);
  w.textIfSet("Validity", k.validity);
  w.textIfSet("ServiceType", k.service_type);
  w.textIfSet("BillingInfo", k.billing_info);
  w.textIfSet("AcctInfo", k.acct_info);
  w.textIfSet(k.inbound ? "ModemName" : "SMSCRoute", route);
  w.textIfSet("SMPPOptions", k.smpp_options);
  if (!part.data.empty()) w.data(part.data);
  w.textIfSet("UDH", part.udh);
  w.hex2("pid", k.pid);
  w.hex2("dcs", part.dcs);
  if (part.binary) w.text("Binary", "1");
  for (const auto& [name, value] : k.extra_args) w.text(platform::singleLine(name), value);
  return w.str();
}

std::string requestFileText(std::string_view head, std::string_view recipient) {
  std::string text;
  text.reserve(head.size() + recipient.size() + 16);
  text.append(head);
  text.append("PhoneNumber=");
  text.append(platform::singleLine(recipient));
  text.append("\r\n");
  return text;
}

}  // namespace vek::http
