// Retry policy: when a message that failed may be tried again, when a
// failure is final, what the retry record says, the copy kept of a failed
// message and how long such copies live, and how long a link waits between
// connection attempts.
//
// Settings (RetrySettings) are looked up first in the link's own section
// (link_name.h's section rule) and, when absent or empty there, in section
// `SMSGW`. Two-way processing passes the link name "2Way"; a caller with no
// link (the SMPP server's deliveries) passes "" and reads `SMSGW` only. A
// value that is not a number counts as 0 (for `RetryMaxAttempts` and
// `RetryMaxAge` that makes every failure final).
//
// Delays (RetryDelay family for messages, InitRetryDelay family for
// connections), with n failures so far and A' = A - 1 when A > 0, else 0:
//   n <= A'  -> 0;  else D * (M * (n - A')), or D when M is 0; capped by X
//   when X is not 0.
// The arithmetic saturates: negative settings count as 0, and no delay is
// longer than kMaxRetryDelaySeconds, however large the settings or counts.
//
// After a failed submission (n = RetryCount before it, E = error code):
//   SMPP      final when E is in SMPPRejectErrorCodes, or the message expired,
//             or E is neither 0x58 (throttled) nor 0x14 (queue full) and
//             (n >= RetryMaxAttempts or E is 0x0A, 0x0B or 0x66);
//   UCP/CIMD  final when E is in its reject list, or expired, or
//             n >= RetryMaxAttempts;
//   others    final when n >= RetryMaxAttempts.
//
// How the link sender uses this:
//   Retry:   recordRetry(claim, n, error, link)  -- the claim is let go with
//            one fresh "[ErrorDetail]" block (RetryCount n + 1); then the
//            sender counts a first retry (n == 0) and writes
//            retryPendingText() to the message log.
//   Final failure, in this order:
//            1. message log and accounting: finalFailureText(); event-log
//               warning: failureAlertText() (or noRouteAlertText() for a
//               message that no link can take, error kNoRouteError);
//            2. KeepErrorCopy(claim.fd(), claim.path());
//            3. a failure receipt when failureReceiptWanted(flags);
//            4. count the failure, then claim.release() (truncate, unlink,
//               routing-database entry removed).
//   Steps 1, 3 and 4's count belong to reporting/, accounting/ and the
//   receipt writer, which lie above this folder; the sender calls them.
//   A record whose load failed (LoadSMSMessage false) is left alone: it may
//   read fine at the next pass and must never be failed for it.
//
// Plain functions; thread-safe (settings come from one parse of the file).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/link_name.h"
#include "platform/clock.h"
#include "platform/status.h"
#include "queue/request_file.h"
#include "queue/request_writer.h"

namespace vek::hostlib {
class IniFile;
}

namespace vek::queue {

class QueueClaim;

// No retry or connection delay is longer than this (one year).
constexpr int64_t kMaxRetryDelaySeconds = 366LL * 24 * 3600;

// Protocol library results that decide a failure (SMPP command status).
constexpr int32_t kErrorQueueFull = 0x14;
constexpr int32_t kErrorThrottled = 0x58;
constexpr int32_t kErrorInvalidDestination = 0x0A;  // with 0x0B and 0x66: never sendable
constexpr int32_t kErrorInvalidSource = 0x0B;
constexpr int32_t kErrorInvalidMessage = 0x66;
// Modem links: a message the modem can never send (a recipient that is no
// number, data that does not fit a PDU). Above every +CMS/+CME number.
constexpr int32_t kErrorModemUnsendable = 0x10000;

constexpr std::string_view kNoRouteError = "Error:  No SMSC defined to route message";

struct RetrySettings {
  int32_t RetryDelay = 30;
  int32_t RetryDelayMultiplier = 1;
  int32_t RetryDelayAfterAttempts = 2;
  int32_t RetryDelayMax = 0;
  int32_t RetryMaxAttempts = 20;
  int32_t RetryMaxAge = 1440;      // minutes
  bool InitRetryDelaySet = false;  // `InitRetryDelay` not empty
  int32_t InitRetryDelay = 0;
  int32_t InitRetryDelayMultiplier = 1;
  int32_t InitRetryDelayAfterAttempts = 1;
  int32_t InitRetryDelayMax = 300;
  std::string SMPPRejectErrorCodes;
  std::string UCPRejectErrorCodes;
  std::string CIMDRejectErrorCodes;
};
RetrySettings loadRetrySettings(const hostlib::IniFile& ini, std::string_view link_name);
RetrySettings loadRetrySettings(std::string_view link_name);  // current "SMSGW.INI"

// Seconds to wait after `attempts` failures before the next message attempt.
int64_t retryDelaySeconds(uint64_t attempts, const RetrySettings& s);
// Seconds a link waits after `failures` failed connection attempts. Empty
// `InitRetryDelay`: 20 s per failure up to `InitRetryDelayMax` (300 when
// absent; 0 or less means no cap but the year).
int64_t connectDelaySeconds(uint64_t failures, const RetrySettings& s);

// True when the next attempt may be made now: no failure yet, no time
// recorded, or the delay has passed since `last` (local time). A `last`
// that lies in the future (the clock was set back) is not trusted: the
// attempt is due, and the new record starts from the current time.
bool RetryDue(uint32_t attempts, const RequestTime& last, const RetrySettings& s);
bool RetryDue(uint32_t attempts, const RequestTime& last, std::string_view link_name);

// True when a message created at `created` is older than `RetryMaxAge`.
bool retryExpiredAt(platform::SystemTime created, const RetrySettings& s);
// The same for an open request file (its birth time); a file that cannot
// be examined is not expired.
bool RetryExpired(int fd, const RetrySettings& s);

// Reject-code lists: items split at commas and semicolons, blanks around
// them ignored. SMPP compares the code as "%X" with each item, whose "0x"
// and leading zeros are dropped, ignoring case. UCP and CIMD compare "%u"
// with each item as it stands. "All" matches every code except the
// internal -1, -2, -3 and, for SMPP, 0x14 and 0x58.
bool smppRejectCode(std::string_view list, int32_t code);
bool decimalRejectCode(std::string_view list, int32_t code);
// The list of the link's kind (false for kinds that have none).
bool RejectCode(foundation::LinkKind kind, const RetrySettings& s, int32_t code);

enum class FailureOutcome {
  kRetry,
  kRejected,     // the code is in the reject list
  kExpired,      // older than RetryMaxAge
  kMaxAttempts,  // retried RetryMaxAttempts times
  kUnsendable,   // SMPP 0x0A, 0x0B or 0x66; a modem's kErrorModemUnsendable
};
inline bool isFinal(FailureOutcome o) {
  return o != FailureOutcome::kRetry;
}
// The decision table above. `expired` is RetryExpired for the message.
FailureOutcome decideFailure(foundation::LinkKind kind, int32_t code, uint32_t retry_count,
                             bool expired, const RetrySettings& s);

// The retry record of failure number n + 1 (local time now, error text
// "ERROR" when empty), and writing it onto a claimed file, which is then
// let go.
ErrorDetail retryDetail(uint32_t retry_count, std::string_view error, std::string_view link);
platform::Status recordRetry(QueueClaim& claim, uint32_t retry_count, std::string_view error,
                             std::string_view link);

// Message texts of the outcomes.
std::string retryPendingText(std::string_view error, std::string_view link);
std::string finalFailureText(std::string_view error, std::string_view link);
std::string failureAlertText(std::string_view recipient, std::string_view link,
                             std::string_view error);
std::string noRouteAlertText(std::string_view recipient, std::string_view error);
inline bool failureReceiptWanted(uint32_t message_flags) {
  return (message_flags & kFlagsFailureReceiptWanted) != 0;
}

// `ErrorQRetainDays`: copies are off when the value starts with the digit 0
// and is 0; retention is 3 days when it is empty, not a number or
// negative, 0 days for "0".
bool errorCopiesOff(std::string_view value);
int32_t errorRetainDays(std::string_view value);

// The copy's path: the request file's extension (from the last dot of the
// file name) replaced by ".ERR", or ".ERR" appended.
std::string errorCopyPath(std::string_view request_path);
// Copies the whole content of the open request file `fd` into its ".ERR"
// copy (created or overwritten), unless copies are off (`ErrorQRetainDays`
// of `SMSGW`). The file's read position is left as it was.
platform::Status KeepErrorCopy(int fd, const std::string& request_path);
platform::Status keepErrorCopy(int fd, const std::string& request_path, bool copies_off);

// Hourly retention over the queue tree at `root`: "*.ERR" files last
// written more than `retain_days` days ago and "*.LCK" files older than 240
// minutes go; each deleted path is written to the debug log under
// "DeleteFilesOlderThan". Returns the number deleted.
size_t purgeQueueFiles(const std::string& root, int32_t retain_days, platform::SystemTime now);
// The same for the configured queue directory and `ErrorQRetainDays`.
size_t PurgeQueueErrorFiles();

// When a link that failed to connect `failures` times may try again:
// seconds since 1970 (now + connectDelaySeconds).
int64_t NextConnectTime(uint64_t failures, const RetrySettings& s);
int64_t NextConnectTime(uint64_t failures, std::string_view link_name);

// True when `minutes` is 0 (or less), `t` is unset, or the local time now
// is at least `t` plus `minutes`.
bool MinutesElapsed(int64_t minutes, const RequestTime& t);

}  // namespace vek::queue
