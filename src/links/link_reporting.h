// What a link sender reports, in one place: outbound message-log lines,
// "System" lines for link events, the statistics counters, the accounting
// report of a send attempt and the alerts to the system event log.
//
// The daily outbound log ("SMSOUT-<date>.LOG"), the per-link counters and
// the accounting report of a send result belong to the reporting and
// accounting layers; until their writers exist, the log lines go to the
// debug log under "SMSOUT" (with `Debug` on) and the calls below are where
// those writers plug in. Alerts go to the event log now (`DisableEventLog`
// respected); e-mail alerts follow with the alerts layer.
//
// Thread-safe (the writers below lock for themselves).
#pragma once

#include <string>
#include <string_view>

#include "queue/request_file.h"

namespace vek::links {

// One outbound log line: message id, link, recipient, result text, and the
// optional fields (submitting user, route name, sender, centre's id,
// content).
struct OutboundLogLine {
  std::string message_id;
  std::string link;
  std::string recipient;
  std::string result;
  std::string smsc_id;
  const queue::SMSMessage* message = nullptr;  // content and the optional fields
};
void writeOutboundLog(const OutboundLogLine& line);
// A link event that belongs to no message: message id "System".
void writeSystemLog(std::string_view link, std::string_view text);

// Counters: gateway-wide and per link. A sent or failed message also leaves
// the outbound queue gauge.
void countSent(std::string_view link);
void countFailed(std::string_view link);
void countRetry(std::string_view link);

// The accounting report "SMSOut" of a send attempt (with `AccountingExtended`).
void reportSendResult(const queue::SMSMessage& m, std::string_view message_id,
                      std::string_view link, std::string_view status, std::string_view smsc_id);
bool accountingExtended();

// Alerts (event log; `DisableEventLog` turns them off).
void alertError(std::string_view text);
void alertWarning(std::string_view text);
void alertInformation(std::string_view text);

// "Error initializing SMSC Interface '<route>' (<link>).  Interface is not
// available." and "SMSC Interface '<route>' (<link>) successfully
// initiaized.  Error condition resolved." The part in parentheses only
// when the route name differs from the link name.
std::string linkDownAlertText(std::string_view route_name, std::string_view link);
std::string linkRestoredAlertText(std::string_view route_name, std::string_view link);

}  // namespace vek::links
