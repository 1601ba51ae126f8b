// The daily message logs as their writers call them: the web submission
// log ("SMSWEB-<date>.LOG") and the per-user log ("SMS-<date>.LOG" in the
// user's log directory).
//
// PLACEHOLDER: the log files, their line formats and retention come with
// the reporting issue. Until then every call is accepted and nothing is
// written. Callers are already wired at their final call points.
//
// Thread-safe (no state yet).
#pragma once

#include <cstdint>
#include <string>

namespace vek::reporting {

// The content fields of a log line.
struct LoggedContent {
  bool binary = false;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string udh;   // hexadecimal
  std::string data;  // text, or hexadecimal when binary
};

// One submitted message file: submitting address, user, message id and
// kind ("Text", "Binary", "LongText", ...).
struct WebLogEntry {
  std::string submit_address;
  std::string user;
  std::string message_id;
  std::string kind;
  std::string recipient;
  std::string sender;
  LoggedContent content;
};
void writeWebLog(const WebLogEntry& entry);

// A per-user line: event "SMSSubmit" or "SMSReceive". Nothing is written
// for an empty user or the internal user "localsystem".
struct UserLogEntry {
  std::string user;
  std::string event;
  std::string recipient;
  std::string other_party;  // the submitting address, or the sender of a reception
  std::string message_id;
  std::string kind;
  std::string sender;
  LoggedContent content;
};
void writeUserLog(const UserLogEntry& entry);

}  // namespace vek::reporting
