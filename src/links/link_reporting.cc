#include "links/link_reporting.h"

#include "accounting/accounting_callback.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "platform/event_log.h"
#include "reporting/counters.h"

namespace vek::links {
namespace {

constexpr const char* kOutLogTag = "SMSOUT";

bool eventLogDisabled() {
  return foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", "DisableEventLog", "", 10));
}

void alert(platform::EventType type, std::string_view text) {
  foundation::DebugLog("ReportAlert", text);
  if (!eventLogDisabled()) platform::reportEvent(type, text);
}

std::string interfaceName(std::string_view route_name, std::string_view link) {
  std::string name = "'";
  name += route_name.empty() ? link : route_name;
  name += "'";
  if (!route_name.empty() && route_name != link) {
    name += " (";
    name += link;
    name += ")";
  }
  return name;
}

}  // namespace

void writeOutboundLog(const OutboundLogLine& line) {
  if (!foundation::debugEnabled() || foundation::settings()->DisableOutLog) return;
  std::string text = line.message_id + "," + line.link + "," + line.recipient + "," + line.result;
  std::string optional;
  auto add = [&](std::string_view key, std::string_view value) {
    if (value.empty()) return;
    if (!optional.empty()) optional += ';';
    optional.append(key).append(value);
  };
  if (line.message) {
    add("SubmitUser=", line.message->SubmitUser);
    add("SMSCRouteName=",
        line.message->ModemRoute.empty() ? line.message->SMSCRoute : line.message->ModemRoute);
    add("Sender=", line.message->Sender);
  }
  add("SMSCMsgId=", line.smsc_id);
  if (!optional.empty()) text += "," + optional;
  foundation::DebugLog(kOutLogTag, text);
}

void writeSystemLog(std::string_view link, std::string_view text) {
  writeOutboundLog(
      {"System", std::string(link), std::string(link), std::string(text), {}, nullptr});
}

void countSent(std::string_view) {
  reporting::addToCounter(reporting::Counter::kSent);
  reporting::subtractFromCounter(reporting::Counter::kOutboundQueue);
}

void countFailed(std::string_view) {
  reporting::addToCounter(reporting::Counter::kFailed);
  reporting::subtractFromCounter(reporting::Counter::kOutboundQueue);
}

void countRetry(std::string_view) {
  reporting::addToCounter(reporting::Counter::kRetry);
}

bool accountingExtended() {
  return foundation::settings()->AccountingExtended;
}

void reportSendResult(const queue::SMSMessage& m, std::string_view message_id,
                      std::string_view link, std::string_view status, std::string_view smsc_id) {
  accounting::QueuedMessageReport r;
  r.type = "SMSOut";
  r.from = m.SubmitUser;
  r.to = m.PhoneNumber;
  r.message_id = std::string(message_id);
  r.sender = m.Sender;
  r.binary = m.Binary;
  r.pid = m.pid;
  r.dcs = m.dcs;
  r.udh = m.UDH;
  r.data = m.Data;
  r.receipt_requested = (m.MessageFlags & queue::kFlagReceiptRequested) != 0;
  r.service_type = m.ServiceType;
  r.validity = m.Validity;
  r.route = std::string(link);
  r.acct_info = m.AcctInfo;
  r.smpp_options = m.SMPPOptions;
  // Status and the centre's id have no field in the report yet; they join
  // it with the accounting layer's send-result report.
  (void)status;
  (void)smsc_id;
  accounting::reportQueuedMessage(r);
}

void alertError(std::string_view text) {
  alert(platform::EventType::kError, text);
}
void alertWarning(std::string_view text) {
  alert(platform::EventType::kWarning, text);
}
void alertInformation(std::string_view text) {
  alert(platform::EventType::kInfo, text);
}

std::string linkDownAlertText(std::string_view route_name, std::string_view link) {
  return "Error initializing SMSC Interface " + interfaceName(route_name, link) +
         ".  Interface is not available.";
}

std::string linkRestoredAlertText(std::string_view route_name, std::string_view link) {
  return "SMSC Interface " + interfaceName(route_name, link) +
         " successfully initiaized.  Error condition resolved.";
}

}  // namespace vek::links
