#include "submit/request_file.h"

#include "platform/sanitize.h"
#include "queue/request_writer.h"

namespace vek::submit {
namespace {

std::string replyText(const Message& m, const Part& part, std::string_view route,
                      std::string_view recipient) {
  queue::RequestWriter w("[SMS]");
  w.text("SubmittedBy", m.submitted_by);
  w.text("SubmitUser", m.submit_user);
  w.textIfSet("Sender", m.sender);
  w.text("PhoneNumber", recipient);
  w.data(part.data);
  w.textIfSet("UDH", part.udh);
  w.hex2("pid", m.content.pid);
  w.hex2("dcs", part.dcs);
  if (part.binary) w.text("Binary", "1");
  w.textIfSet("SMSCRoute", route);
  w.textIfSet("SMPPOptions", m.smpp_options);
  return w.str();
}

std::string smppServerText(const Message& m, const Part& part, std::string_view route,
                           std::string_view recipient) {
  queue::RequestWriter w("[SMS]");
  w.text("SubmittedBy", m.submitted_by);
  w.text("SubmitUser", m.submit_user);
  w.text("Sender", m.sender);
  w.text("PhoneNumber", recipient);
  w.data(part.data);
  w.textIfSet("UDH", part.udh);
  w.hex2("pid", m.content.pid);
  w.hex2("dcs", part.dcs);
  w.text("Binary", part.binary ? "1" : "0");
  w.yes("ReceiptRequested", m.receipt_requested);
  w.yes("NonDelReceiptRequested", m.non_delivery_receipt_requested);
  w.yes("ReceiptIntransit", m.receipt_intransit);
  w.yes("ReceiptFailed", m.receipt_failed);
  w.yes("ReceiptDelivered", m.receipt_delivered);
  w.textIfSet("ReceiptMessageId", m.receipt_message_id);
  w.textIfSet("ServiceType", m.service_type);
  w.textIfSet("Validity", m.validity);
  w.textIfSet("SMPPOptions", m.smpp_options);
  w.textIfSet("SMSCRoute", route);
  w.textIfSet("RouteToLocalUser", m.route_to_local_user);
  return w.str();
}

}  // namespace

std::string requestFileHead(const Message& m, const Part& part, std::string_view route) {
  const bool inbound = m.target != Target::kOutbound;
  queue::RequestWriter w(inbound ? "[SMS-IN]" : "[SMS]");
  w.textIfSet("SubmitUser", m.submit_user);
  w.textIfSet("SubmittedBy", m.submitted_by);
  w.textIfSet("Sender", m.sender);
  w.yes("ReplyRequested", m.reply_requested);
  w.yes("ReceiptRequested", m.receipt_requested);
  w.yes("ReceiptDelivered", m.receipt_delivered);
  w.yes("ReceiptFailed", m.receipt_failed);
  w.yes("ReceiptIntransit", m.receipt_intransit);
  w.textIfSet("ReceiptMessageID", m.receipt_message_id);
  w.textIfSet("RouteToLocalUser", m.route_to_local_user);
  w.textIfSet("Validity", m.validity);
  w.textIfSet("ServiceType", m.service_type);
  w.textIfSet("BillingInfo", m.billing_info);
  w.textIfSet("AcctInfo", m.acct_info);
  w.textIfSet(inbound ? "ModemName" : "SMSCRoute", route);
  w.textIfSet("SMPPOptions", m.smpp_options);
  if (!part.data.empty()) w.data(part.data);
  w.textIfSet("UDH", part.udh);
  w.hex2("pid", m.content.pid);
  w.hex2("dcs", part.dcs);
  if (part.binary) w.text("Binary", "1");
  for (const auto& [name, value] : m.extra_keys) w.text(platform::singleLine(name), value);
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

std::string requestFileText(const Message& m, const Part& part, std::string_view route,
                            std::string_view recipient, FileLayout layout) {
  switch (layout) {
    case FileLayout::kReply:
      return replyText(m, part, route, recipient);
    case FileLayout::kSmppServer:
      return smppServerText(m, part, route, recipient);
    case FileLayout::kSubmission:
      break;
  }
  return requestFileText(requestFileHead(m, part, route), recipient);
}

}  // namespace vek::submit
