#include "links/outcome.h"

#include "foundation/debug_log.h"
#include "hostlib/message_ids.h"
#include "links/hand_off.h"
#include "links/link_reporting.h"
#include "links/segment_lock.h"
#include "platform/files.h"
#include "queue/routing_db.h"

namespace vek::links {
namespace {

// The id store is retried this often before the jobs count as sent
// without it (the centre has them: sending again would duplicate them).
constexpr int kStoreAttempts = 3;

bool storeIds(const std::vector<hostlib::MessageIdEntry>& entries, bool durable,
              const std::string& link) {
  for (int attempt = 1; attempt <= kStoreAttempts; ++attempt) {
    if (hostlib::SMSCMessageIdAddBatch(entries, durable)) return true;
    foundation::DebugLogf(link, "SMSCMessageIdAdd failed for %zu ids (attempt %d)", entries.size(),
                          attempt);
  }
  return false;
}

}  // namespace

Outcomes::Outcomes(std::string link, foundation::LinkKind kind, std::shared_ptr<SegmentLocks> locks)
    : link_(std::move(link)), kind_(kind), locks_(std::move(locks)) {}

void Outcomes::releaseAll(SendJob& job) {
  for (auto& m : job.merged) {
    platform::Status st = m.release();
    if (!st.ok())
      foundation::DebugLogf(link_, "Delete %s: %s", m.path().c_str(), st.message().c_str());
  }
  job.merged.clear();
  platform::Status st = job.claim.release();
  if (!st.ok())
    foundation::DebugLogf(link_, "Delete %s: %s", job.claim.path().c_str(), st.message().c_str());
}

void Outcomes::sent(std::span<SendJob* const> jobs, std::span<const std::string> smsc_ids) {
  auto s = settings_.get();
  std::vector<hostlib::MessageIdEntry> entries;
  entries.reserve(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    const SendJob& j = *jobs[i];
    if (smsc_ids[i].empty()) continue;
    // The receipt must come back under the id the client was given: a
    // submission through the SMPP server names it in ReceiptMessageId (one
    // id for all segments of a long message); otherwise it is the file's.
    const bool own_id =
        !(j.msg.MessageFlags & queue::kFlagIsReceipt) && !j.msg.ReceiptMessageId.empty();
    entries.push_back({link_, smsc_ids[i], own_id ? j.msg.ReceiptMessageId : j.message_id,
                       j.msg.SubmitUser, j.msg.Sender, j.msg.PhoneNumber});
  }
  if (!entries.empty() && !storeIds(entries, s->sync_writes, link_)) {
    // The messages are with the centre; only receipt matching suffers.
    alertError("Message ids of " + std::to_string(entries.size()) + " messages sent over " + link_ +
               " could not be stored; their delivery receipts will not be matched");
  }
  auto now = platform::monotonicNow();
  for (size_t i = 0; i < jobs.size(); ++i) {
    SendJob& j = *jobs[i];
    const std::string result = "OK -- " + link_;
    writeOutboundLog({j.message_id, link_, j.msg.PhoneNumber, result, smsc_ids[i], &j.msg});
    countSent(link_);
    if (s->accounting_extended) reportSendResult(j.msg, j.message_id, link_, result, smsc_ids[i]);
    if (j.segment && locks_) locks_->confirm(j.directory, j.name);
    releaseAll(j);
    if (j.segment && locks_) locks_->scheduleRemoval(j.directory, j.name, now);
  }
}

bool Outcomes::failed(SendJob& job, uint32_t code, const std::string& error_text) {
  auto s = settings_.get();
  foundation::DebugLog(link_, "Error:  " + error_text);
  const int32_t signed_code = static_cast<int32_t>(code);
  bool expired = queue::RetryExpired(job.claim.fd(), s->retry);
  queue::FailureOutcome outcome =
      queue::decideFailure(kind_, signed_code, job.msg.RetryCount, expired, s->retry);
  if (!queue::isFinal(outcome)) {
    platform::Status st = queue::recordRetry(job.claim, job.msg.RetryCount, error_text, link_);
    if (!st.ok())
      foundation::DebugLogf(link_, "Retry record of %s: %s", job.name.c_str(),
                            st.message().c_str());
    for (auto& m : job.merged) (void)queue::recordRetry(m, job.msg.RetryCount, error_text, link_);
    job.merged.clear();
    if (job.msg.RetryCount == 0) countRetry(link_);
    writeOutboundLog({job.message_id,
                      link_,
                      job.msg.PhoneNumber,
                      queue::retryPendingText(error_text, link_),
                      {},
                      &job.msg});
    return false;
  }
  finalFailure(job, code, error_text,
               queue::failureAlertText(job.msg.PhoneNumber, link_, error_text));
  return true;
}

void Outcomes::noRoute(SendJob& job) {
  const std::string error(queue::kNoRouteError);
  foundation::DebugLog(link_, error);
  finalFailure(job, 0, error, queue::noRouteAlertText(job.msg.PhoneNumber, error));
}

void Outcomes::finalFailure(SendJob& job, uint32_t code, const std::string& error_text,
                            const std::string& alert_text) {
  auto s = settings_.get();
  const std::string result = queue::finalFailureText(error_text, link_);
  writeOutboundLog({job.message_id, link_, job.msg.PhoneNumber, result, {}, &job.msg});
  if (s->accounting_extended) reportSendResult(job.msg, job.message_id, link_, result, {});
  alertWarning(alert_text);
  platform::Status st = queue::KeepErrorCopy(job.claim.fd(), job.claim.path());
  if (!st.ok())
    foundation::DebugLogf(link_, "Error copy of %s: %s", job.name.c_str(), st.message().c_str());
  for (auto& m : job.merged) (void)queue::KeepErrorCopy(m.fd(), m.path());
  if (queue::failureReceiptWanted(job.msg.MessageFlags)) {
    platform::Status r =
        writeFailureReceipt(job.claim.fd(), job.claim.path(), job.msg, link_, code);
    if (!r.ok())
      foundation::DebugLogf(link_, "Failure receipt of %s: %s", job.name.c_str(),
                            r.message().c_str());
  }
  countFailed(link_);
  releaseAll(job);
  if (job.segment && locks_)
    locks_->scheduleRemoval(job.directory, job.name, platform::monotonicNow());
}

void Outcomes::cancelled(SendJob& job) {
  for (auto& m : job.merged) m.unclaim();
  job.merged.clear();
  job.claim.unclaim();
}

void Outcomes::setAside(SendJob& job, std::string_view why) {
  std::string from = job.claim.path();
  std::string to = from;
  size_t dot = to.rfind('.');
  size_t slash = to.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) to.resize(dot);
  to += ".BAD";
  // Renamed while the claim is held: no other link can take it meanwhile,
  // and the new name matches no scan pattern.
  platform::Status st = platform::renamePath(from, to);
  const std::string text = "Request file " + from + " set aside as " + to + ": " + std::string(why);
  if (!st.ok()) {
    foundation::DebugLogf(link_, "%s failed: %s", text.c_str(), st.message().c_str());
    alertError("Request file " + from + " is unreadable (" + std::string(why) +
               ") and could not be set aside: " + st.message());
    job.claim.unclaim();
    return;
  }
  foundation::DebugLog(link_, text);
  writeOutboundLog({job.message_id,
                    link_,
                    job.msg.PhoneNumber,
                    "Error:  request file set aside (" + std::string(why) + ") -- " + link_,
                    {},
                    nullptr});
  alertWarning(text);
  queue::routingDatabase().remove(job.relative);
  job.claim.unclaim();
}

bool Outcomes::local(SendJob& job) {
  platform::Status st = deliverToLocalUser(job.msg, job.message_id);
  if (!st.ok()) {
    foundation::DebugLogf(link_, "Local delivery of %s: %s", job.name.c_str(),
                          st.message().c_str());
    job.claim.unclaim();
    return false;
  }
  releaseAll(job);
  return true;
}

}  // namespace vek::links
