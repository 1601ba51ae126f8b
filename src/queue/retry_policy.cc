#include "queue/retry_policy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/unique_fd.h"
#include "queue/queue_claim.h"

namespace vek::queue {
namespace {

using foundation::LinkKind;

constexpr size_t kRejectListBuffer = 1000;
constexpr int64_t kSimpleConnectStep = 20;  // seconds per failure without InitRetryDelay
constexpr int64_t kStaleLockMinutes = 240;
constexpr int kPurgeDepth = 8;
constexpr size_t kCopyBlock = 32768;
constexpr int64_t kMaxRetainDays = 36500;

// A key of the link's section, else of `SMSGW`; absent or empty counts as
// not set.
class RetryLookup {
 public:
  RetryLookup(const hostlib::IniFile& ini, std::string_view link_name)
      : ini_(ini),
        section_(link_name.empty() ? std::string() : foundation::linkSectionName(link_name)) {}

  std::optional<std::string_view> value(std::string_view key) const {
    if (!section_.empty()) {
      auto v = ini_.get(section_, key);
      if (v && !v->empty()) return v;
    }
    auto v = ini_.get("SMSGW", key);
    if (v && !v->empty()) return v;
    return std::nullopt;
  }
  int32_t num(std::string_view key, int32_t def) const {
    auto v = value(key);
    return v ? foundation::number(*v) : def;
  }
  std::string text(std::string_view key, size_t buffer) const {
    auto v = value(key);
    return v ? std::string(v->substr(0, buffer - 1)) : std::string();
  }

 private:
  const hostlib::IniFile& ini_;
  std::string section_;
};

int64_t saturatingMul(int64_t a, uint64_t b) {
  uint64_t out;
  if (__builtin_mul_overflow(static_cast<uint64_t>(a), b, &out) ||
      out > static_cast<uint64_t>(kMaxRetryDelaySeconds))
    return kMaxRetryDelaySeconds;
  return static_cast<int64_t>(out);
}

// The delay rule shared by messages and connections, never negative and
// never above the year.
int64_t backoff(int32_t base, int32_t multiplier, int32_t after, int32_t max, uint64_t n) {
  int64_t d = std::max<int64_t>(base, 0);
  int64_t m = std::max<int64_t>(multiplier, 0);
  int64_t x = std::max<int64_t>(max, 0);
  uint64_t first = after > 0 ? static_cast<uint64_t>(after) - 1 : 0;
  if (n <= first) return 0;
  int64_t delay = m == 0 ? d : saturatingMul(d, static_cast<uint64_t>(saturatingMul(m, n - first)));
  if (x != 0 && delay > x) delay = x;
  return std::min(delay, kMaxRetryDelaySeconds);
}

bool internalCode(int32_t code) {
  return code == -1 || code == -2 || code == -3;
}

// Calls `item` for each blank-trimmed, non-empty item of a reject list
// until it returns true.
template <typename F>
bool anyItem(std::string_view list, F item) {
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find_first_of(",;", pos);
    if (end == std::string_view::npos) end = list.size();
    std::string_view it = platform::trim(list.substr(pos, end - pos));
    if (!it.empty() && item(it)) return true;
    pos = end + 1;
  }
  return false;
}

int64_t secondsSinceEpoch(platform::SystemTime t) {
  return platform::toUnix(t);
}

}  // namespace

RetrySettings loadRetrySettings(const hostlib::IniFile& ini, std::string_view link_name) {
  RetryLookup r(ini, link_name);
  RetrySettings s;
  s.RetryDelay = r.num("RetryDelay", s.RetryDelay);
  s.RetryDelayMultiplier = r.num("RetryDelayMultiplier", s.RetryDelayMultiplier);
  s.RetryDelayAfterAttempts = r.num("RetryDelayAfterAttempts", s.RetryDelayAfterAttempts);
  s.RetryDelayMax = r.num("RetryDelayMax", s.RetryDelayMax);
  s.RetryMaxAttempts = r.num("RetryMaxAttempts", s.RetryMaxAttempts);
  s.RetryMaxAge = r.num("RetryMaxAge", s.RetryMaxAge);
  auto init = r.value("InitRetryDelay");
  s.InitRetryDelaySet = init.has_value();
  s.InitRetryDelay = init ? foundation::number(*init) : 0;
  s.InitRetryDelayMultiplier = r.num("InitRetryDelayMultiplier", s.InitRetryDelayMultiplier);
  s.InitRetryDelayAfterAttempts =
      r.num("InitRetryDelayAfterAttempts", s.InitRetryDelayAfterAttempts);
  s.InitRetryDelayMax = r.num("InitRetryDelayMax", s.InitRetryDelayMax);
  s.SMPPRejectErrorCodes = r.text("SMPPRejectErrorCodes", kRejectListBuffer);
  s.UCPRejectErrorCodes = r.text("UCPRejectErrorCodes", kRejectListBuffer);
  s.CIMDRejectErrorCodes = r.text("CIMDRejectErrorCodes", kRejectListBuffer);
  return s;
}

RetrySettings loadRetrySettings(std::string_view link_name) {
  return loadRetrySettings(*hostlib::smsIni().current(), link_name);
}

int64_t retryDelaySeconds(uint64_t attempts, const RetrySettings& s) {
  return backoff(s.RetryDelay, s.RetryDelayMultiplier, s.RetryDelayAfterAttempts, s.RetryDelayMax,
                 attempts);
}

int64_t connectDelaySeconds(uint64_t failures, const RetrySettings& s) {
  if (failures == 0) return 0;
  if (s.InitRetryDelaySet)
    return backoff(s.InitRetryDelay, s.InitRetryDelayMultiplier, s.InitRetryDelayAfterAttempts,
                   s.InitRetryDelayMax, failures);
  int64_t delay = saturatingMul(kSimpleConnectStep, failures);
  // A cap of 0 would reconnect without any pause, hammering the peer.
  if (s.InitRetryDelayMax > 0) delay = std::min<int64_t>(delay, s.InitRetryDelayMax);
  return delay;
}

bool RetryDue(uint32_t attempts, const RequestTime& last, const RetrySettings& s) {
  if (attempts == 0 || last.empty()) return true;
  int64_t delay = retryDelaySeconds(attempts, s);
  int64_t then = secondsSinceEpoch(toSystemTime(last));
  int64_t now = platform::unixNow();
  // A record further ahead than the delay itself was written before the
  // clock went back; waiting for it could take any time.
  if (then - now > delay) return true;
  return now >= then + delay;
}

bool RetryDue(uint32_t attempts, const RequestTime& last, std::string_view link_name) {
  if (attempts == 0 || last.empty()) return true;
  return RetryDue(attempts, last, loadRetrySettings(link_name));
}

bool retryExpiredAt(platform::SystemTime created, const RetrySettings& s) {
  int64_t limit = secondsSinceEpoch(created) + int64_t{s.RetryMaxAge} * 60;
  return limit < platform::unixNow() || s.RetryMaxAge <= 0;
}

bool RetryExpired(int fd, const RetrySettings& s) {
  auto info = platform::statFd(fd);
  if (!info) return false;
  return retryExpiredAt(info->born, s);
}

bool smppRejectCode(std::string_view list, int32_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(code));
  return anyItem(list, [&](std::string_view item) {
    if (platform::equalsNoCase(item, "All"))
      return !internalCode(code) && code != kErrorQueueFull && code != kErrorThrottled;
    if (platform::startsWithNoCase(item, "0x")) item.remove_prefix(2);
    while (item.size() > 1 && item.front() == '0') item.remove_prefix(1);
    return platform::equalsNoCase(item, hex);
  });
}

bool decimalRejectCode(std::string_view list, int32_t code) {
  char dec[16];
  std::snprintf(dec, sizeof dec, "%u", static_cast<uint32_t>(code));
  return anyItem(list, [&](std::string_view item) {
    if (platform::equalsNoCase(item, "All")) return !internalCode(code);
    return item == dec;
  });
}

bool RejectCode(LinkKind kind, const RetrySettings& s, int32_t code) {
  switch (kind) {
    case LinkKind::kSmpp:
      return smppRejectCode(s.SMPPRejectErrorCodes, code);
    case LinkKind::kUcp:
      return decimalRejectCode(s.UCPRejectErrorCodes, code);
    case LinkKind::kCimd:
      return decimalRejectCode(s.CIMDRejectErrorCodes, code);
    default:
      return false;
  }
}

FailureOutcome decideFailure(LinkKind kind, int32_t code, uint32_t retry_count, bool expired,
                             const RetrySettings& s) {
  const bool at_max = int64_t{retry_count} >= int64_t{s.RetryMaxAttempts};
  switch (kind) {
    case LinkKind::kSmpp:
      if (RejectCode(kind, s, code)) return FailureOutcome::kRejected;
      if (expired) return FailureOutcome::kExpired;
      // Throttling and a full queue are the peer asking us to slow down:
      // they never use up the attempts.
      if (code == kErrorThrottled || code == kErrorQueueFull) return FailureOutcome::kRetry;
      if (at_max) return FailureOutcome::kMaxAttempts;
      if (code == kErrorInvalidDestination || code == kErrorInvalidSource ||
          code == kErrorInvalidMessage)
        return FailureOutcome::kUnsendable;
      return FailureOutcome::kRetry;
    case LinkKind::kUcp:
    case LinkKind::kCimd:
      if (RejectCode(kind, s, code)) return FailureOutcome::kRejected;
      if (expired) return FailureOutcome::kExpired;
      return at_max ? FailureOutcome::kMaxAttempts : FailureOutcome::kRetry;
    case LinkKind::kModem:
    case LinkKind::kIpModem:
      // Retrying a message the modem can never send only delays its
      // failure (and its failure receipt) by all the attempts.
      if (code == kErrorModemUnsendable) return FailureOutcome::kUnsendable;
      return at_max ? FailureOutcome::kMaxAttempts : FailureOutcome::kRetry;
    default:
      return at_max ? FailureOutcome::kMaxAttempts : FailureOutcome::kRetry;
  }
}

ErrorDetail retryDetail(uint32_t retry_count, std::string_view error, std::string_view link) {
  ErrorDetail d;
  d.RetryCount = retry_count == UINT32_MAX ? retry_count : retry_count + 1;
  d.LastRetryTime = requestTimeNow();
  d.ErrorText = error.empty() ? std::string("ERROR") : std::string(error);
  d.LinkName = std::string(link);
  return d;
}

platform::Status recordRetry(QueueClaim& claim, uint32_t retry_count, std::string_view error,
                             std::string_view link) {
  return claim.keep(retryDetail(retry_count, error, link));
}

std::string retryPendingText(std::string_view error, std::string_view link) {
  return "Retry Pending - " + std::string(error) + " -- " + std::string(link);
}

std::string finalFailureText(std::string_view error, std::string_view link) {
  return (error.empty() ? std::string("ERROR") : std::string(error)) + " -- " + std::string(link);
}

std::string failureAlertText(std::string_view recipient, std::string_view link,
                             std::string_view error) {
  return "SMS message could not be sent to " + std::string(recipient) + " (" + std::string(link) +
         "), " + std::string(error);
}

std::string noRouteAlertText(std::string_view recipient, std::string_view error) {
  return "SMS message could not be sent to " + std::string(recipient) + ", " + std::string(error);
}

bool errorCopiesOff(std::string_view value) {
  value = platform::trim(value);
  return !value.empty() && value.front() == '0' && foundation::number(value) == 0;
}

int32_t errorRetainDays(std::string_view value) {
  value = platform::trim(value);
  if (errorCopiesOff(value)) return 0;
  int32_t days = foundation::number(value);
  return days > 0 ? days : 3;
}

std::string errorCopyPath(std::string_view request_path) {
  size_t slash = request_path.rfind('/');
  size_t base = slash == std::string_view::npos ? 0 : slash + 1;
  size_t dot = request_path.rfind('.');
  if (dot == std::string_view::npos || dot < base) return std::string(request_path) + ".ERR";
  return std::string(request_path.substr(0, dot)) + ".ERR";
}

platform::Status keepErrorCopy(int fd, const std::string& request_path, bool copies_off) {
  if (copies_off) return platform::Status::success();
  std::string copy = errorCopyPath(request_path);
  if (copy == request_path) return platform::Status::error(request_path + ": is a copy", EINVAL);
  // No symbolic link is followed: the copy lands in the queue directory.
  platform::UniqueFd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!out) return platform::Status::fromErrno("open", copy);
  std::vector<char> block(kCopyBlock);
  off_t offset = 0;
  while (true) {
    // pread leaves the request file's own position where it was.
    ssize_t n = ::pread(fd, block.data(), block.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return platform::Status::fromErrno("pread", request_path);
    if (n == 0) break;
    if (auto st = platform::writeAll(out.get(), std::string_view(block.data(), n)); !st.ok())
      return st;
    offset += n;
  }
  if (::ftruncate(out.get(), offset) != 0) return platform::Status::fromErrno("ftruncate", copy);
  return platform::Status::success();
}

platform::Status KeepErrorCopy(int fd, const std::string& request_path) {
  std::string value = hostlib::SMSIniGetProfileString("SMSGW", "ErrorQRetainDays", "", 50);
  return keepErrorCopy(fd, request_path, errorCopiesOff(value));
}

namespace {

size_t purgeDirectory(const std::string& dir, int depth, platform::SystemTime err_before,
                      platform::SystemTime lck_before) {
  size_t deleted = 0;
  platform::ListOptions options;
  options.directories = true;
  std::vector<platform::DirEntry> entries = platform::listDirectory(dir, "*", options);
  for (const platform::DirEntry& e : entries) {
    std::string path = platform::joinPath(dir, e.name);
    if (e.directory) {
      if (depth < kPurgeDepth) deleted += purgeDirectory(path, depth + 1, err_before, lck_before);
      continue;
    }
    platform::SystemTime before;
    if (platform::endsWithNoCase(e.name, ".ERR")) {
      before = err_before;
    } else if (platform::endsWithNoCase(e.name, ".LCK")) {
      before = lck_before;
    } else {
      continue;
    }
    auto info = platform::statPath(path);
    if (!info || info->modified >= before) continue;
    if (platform::removeFile(path).ok()) {
      foundation::DebugLog("DeleteFilesOlderThan", path);
      ++deleted;
    }
  }
  return deleted;
}

}  // namespace

size_t purgeQueueFiles(const std::string& root, int32_t retain_days, platform::SystemTime now) {
  // Clamped to a century so that the cut-off stays a representable time.
  auto err_age = std::chrono::hours(24) * std::clamp<int64_t>(retain_days, 0, kMaxRetainDays);
  auto lck_age = std::chrono::minutes(kStaleLockMinutes);
  return purgeDirectory(platform::withTrailingSlash(root), 0, now - err_age, now - lck_age);
}

size_t PurgeQueueErrorFiles() {
  std::string value = hostlib::SMSIniGetProfileString("SMSGW", "ErrorQRetainDays", "", 50);
  return purgeQueueFiles(foundation::queueDirectory(), errorRetainDays(value),
                         platform::clock().now());
}

int64_t NextConnectTime(uint64_t failures, const RetrySettings& s) {
  return platform::unixNow() + connectDelaySeconds(failures, s);
}

int64_t NextConnectTime(uint64_t failures, std::string_view link_name) {
  return NextConnectTime(failures, loadRetrySettings(link_name));
}

bool MinutesElapsed(int64_t minutes, const RequestTime& t) {
  if (minutes <= 0 || t.empty()) return true;
  int64_t then = secondsSinceEpoch(toSystemTime(t));
  int64_t span = std::min<int64_t>(minutes, kMaxRetryDelaySeconds) * 60;
  return platform::unixNow() >= then + span;
}

}  // namespace vek::queue
