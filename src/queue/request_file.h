// Request file: one queued message as a small sectioned text file, and its
// single loader. Outbound messages (".REQ") and inbound ones (".IN", ".REC",
// ".RCT") share the layout:
//
//   [SMS]                    or [SMS-IN]; the first line that begins with
//   PhoneNumber=+447700900123   either header opens the message section
//   Data=Hello\r\nWorld       CR and LF escaped as "\r" and "\n"
//   ...
//   [ErrorDetail]            optional, written by the retry logic, last
//   RetryCount=2
//   LastRetryTime=20261208143000
//   LastErrorInfo=Timeout -- SMPP - smsc.example:2775
//
// Reading rules (kept for every file ever written): any byte below 32 ends
// a line (so a tab cuts a value); leading blanks and empty lines are
// skipped; a file whose first non-blank byte is 26 is empty. Keys, with
// their '=', are matched without regard to case at the start of a line;
// unknown keys are ignored; a repeated key's last value wins; a value runs
// to the end of its line and is cut at its field's limit. The message
// section ends at the next line that begins with '['; the first
// "[ErrorDetail]" line after it opens the retry section. A file without a
// message section loads as an empty record.
//
// Writing is request_writer.h's job. Thread-safe: no shared state apart
// from the host library's configuration (ModemName resolution).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vek::queue {

// The message flag word shared by the writers and readers of request and
// inbound files.
enum MessageFlag : uint32_t {
  kFlagReplyRequested = 0x01,
  kFlagReceiptRequested = 0x02,
  kFlagIsReceipt = 0x04,
  kFlagReceiptDelivered = 0x08,
  kFlagReceiptInTransit = 0x10,
  kFlagReceiptFailed = 0x20,
  kFlagNonDelReceiptRequested = 0x40,
};
// A failure receipt is owed when either receipt kind was asked for.
constexpr uint32_t kFlagsFailureReceiptWanted = kFlagReceiptRequested | kFlagNonDelReceiptRequested;

// Loader limits in characters; longer values are cut there.
constexpr size_t kLimitPhoneNumber = 149;
constexpr size_t kLimitSender = 149;
constexpr size_t kLimitData = 8191;
constexpr size_t kLimitUDH = 499;
constexpr size_t kLimitSubmittedBy = 499;
constexpr size_t kLimitSubmitUser = 249;
constexpr size_t kLimitServiceType = 99;
constexpr size_t kLimitRouteToLocalUser = 99;
constexpr size_t kLimitSMSCRoute = 99;
constexpr size_t kLimitModemName = 149;
constexpr size_t kLimitModemRoute = 149;
constexpr size_t kLimitSMPPOptions = 499;
constexpr size_t kLimitReceivedSMSC = 49;
constexpr size_t kLimitValidity = 49;
constexpr size_t kLimitBillingInfo = 49;
constexpr size_t kLimitAcctInfo = 99;
constexpr size_t kLimitReceiptMessageId = 149;

// A local time stamp as the files carry it: "%04d%02d%02d%02d%02d%02d".
struct RequestTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const RequestTime&) const = default;
  bool empty() const { return year == 0 && month == 0 && day == 0; }
};
// What a value that is not 14 digits loads as: 1 January 2000, 00:00:00.
constexpr RequestTime kRequestTimeFallback{2000, 1, 1, 0, 0, 0};

RequestTime requestTimeFromLocal(const platform::CalendarTime& local);
RequestTime requestTimeNow();  // the injectable clock's local time
platform::SystemTime toSystemTime(const RequestTime& t);
// 14 digits.
std::string formatRequestTime(const RequestTime& t);
// 14 digits and nothing else, else kRequestTimeFallback.
RequestTime parseRequestTime(std::string_view value);

// One loaded request or inbound file. Fields are named after their keys.
struct SMSMessage {
  bool Inbound = false;  // the section was "[SMS-IN]"
  std::string PhoneNumber;
  std::string Sender;
  std::string Data;  // unescaped: "\r" and "\n" are CR and LF again
  std::string UDH;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  bool Binary = false;
  std::string SubmittedBy;
  std::string SubmitUser;
  std::string ServiceType;
  std::string RouteToLocalUser;
  std::string SMSCRoute;
  std::string ModemName;
  std::string ModemRoute;  // the route name ModemName resolves to ("" without ModemName)
  std::string SMPPOptions;
  std::string ReceivedSMSC;
  std::string Validity;
  std::string BillingInfo;
  std::string AcctInfo;
  std::string ReceiptMessageId;
  uint32_t MessageFlags = 0;
  bool RecombineFlag = false;
  bool DuplicateMessageFor2Way = false;
  // "[ErrorDetail]"
  bool HasErrorDetail = false;
  uint32_t RetryCount = 0;
  RequestTime LastRetryTime;
  RequestTime FirstAttemptTime;

  // Back to the empty record, keeping the strings' storage.
  void clear();
  bool operator==(const SMSMessage&) const = default;
};

// Resolves a `ModemName` value to the route name it carries. The default
// is foundation::linkRouteName (the link's `RouteName`, else the name).
using ModemRouteResolver = std::string (*)(std::string_view modem_name);

// Fills `msg` from a file's text (the in-memory entry point).
void parseSMSMessage(std::string_view text, SMSMessage* msg, ModemRouteResolver resolve = nullptr);

// Reads the open file `fd` whole from its start, whatever its position,
// and fills `msg`. When the size or the read fails, the record holds
// PhoneNumber "ERROR" and SMSCRoute "ErrorLoadMessage" (no link may send
// it), the debug log says why ("Error %u from GetFileSize" or "Error %u
// from ReadFile"), and the result is false.
bool LoadSMSMessage(int fd, SMSMessage* msg, ModemRouteResolver resolve = nullptr);
// The same for a file by name, opened read-only for the load.
bool LoadSMSMessageFile(const std::string& path, SMSMessage* msg,
                        ModemRouteResolver resolve = nullptr);

// Escaping of the `Data` value: CR -> "\r", LF -> "\n"; every other byte
// below 32 becomes a blank (it would end the line). A backslash is not
// escaped, so a text holding a backslash and r or n reads back as a line
// break.
std::string escapeData(std::string_view text);
std::string unescapeData(std::string_view value);

}  // namespace vek::queue
