#include "submit/submit.h"

#include <cassert>

#include "accounting/accounting_callback.h"
#include "accounting/quota.h"
#include "foundation/debug_log.h"
#include "queue/naming_counters.h"
#include "reporting/counters.h"
#include "reporting/message_log.h"
#include "submit/limits.h"
#include "submit/validation.h"

namespace vek::submit {
namespace {

constexpr const char* kRejectTag = "MessageAccountingReject";

accounting::SubmissionInfo submissionInfo(const Message& m, const EncodedMessage& content) {
  accounting::SubmissionInfo info;
  info.from = m.submit_user;
  info.recipients = m.recipients;
  info.message_count = static_cast<uint32_t>(m.recipients.size() * content.parts.size());
  info.submit_address = m.submitted_by;
  info.route = m.route;
  info.sender = m.sender;
  info.binary = m.content.binary || m.content.hasPorts();
  info.pid = m.content.pid;
  info.dcs = content.parts.front().dcs;
  info.udh = headerWithPorts(m.content);
  info.data = m.content.text;
  info.receipt_requested = m.receipt_requested;
  info.service_type = m.service_type;
  info.validity = m.validity;
  info.acct_info = m.acct_info;
  info.smpp_options = m.smpp_options;
  return info;
}

// Quota and accounting for an account's outbound message; the refusal, or
// nothing with `pre` filled in.
std::optional<Error> authorise(Message* m, const EncodedMessage& content,
                               accounting::PreAuthorisation* pre) {
  if (m->submit_user.empty() || m->target != Target::kOutbound) return std::nullopt;
  const uint32_t count = static_cast<uint32_t>(m->recipients.size() * content.parts.size());
  accounting::QuotaDecision quota = accounting::checkSubmissionQuota(m->submit_user, count);
  if (!quota.allowed) {
    foundation::DebugLog(kRejectTag, quota.error);
    return Error{ErrorKind::kOverQuota, "User account over quota:  " + m->submit_user};
  }
  *pre = accounting::preAuthoriseSubmission(submissionInfo(*m, content));
  if (pre->code != 0) {
    std::string text =
        pre->error_text.empty() ? "Request rejected by accounting callback" : pre->error_text;
    foundation::DebugLog(kRejectTag, text);
    return Error{ErrorKind::kAccountingRefused, std::move(text)};
  }
  if (pre->routes.size() == m->recipients.size()) m->recipient_routes = pre->routes;
  return std::nullopt;
}

reporting::LoggedContent loggedContent(const Part& part, uint8_t pid) {
  reporting::LoggedContent c;
  c.binary = part.binary;
  c.pid = pid;
  c.dcs = part.dcs;
  c.udh = part.udh;
  c.data = part.data;
  return c;
}

void recordFile(const QueuedFile& f, const Message& m, const EncodedMessage& content,
                const accounting::PreAuthorisation& pre) {
  assert(f.part < content.parts.size() && f.recipient_index < m.recipients.size());
  const Part& part = content.parts[f.part];
  reporting::UserLogEntry user;
  user.user = m.submit_user;
  user.event = "SMSSubmit";
  user.recipient = f.recipient;
  user.other_party = m.submitted_by;
  user.message_id = f.message_id;
  user.kind = content.kind;
  user.sender = m.sender;
  user.content = loggedContent(part, m.content.pid);
  reporting::writeUserLog(user);

  if (m.target != Target::kOutbound) return;
  accounting::QueuedMessageReport r;
  r.from = m.submit_user;
  r.to = f.recipient;
  r.message_id = f.message_id;
  r.submit_address = m.submitted_by;
  r.sender = m.sender;
  r.binary = part.binary;
  r.pid = m.content.pid;
  r.dcs = part.dcs;
  r.udh = part.udh;
  r.data = part.data;
  r.receipt_requested = m.receipt_requested;
  r.service_type = m.service_type;
  r.validity = m.validity;
  r.route = f.route;
  r.acct_info = m.acct_info;
  if (f.recipient_index < pre.route_charges.size())
    r.route_charge = pre.route_charges[f.recipient_index];
  if (f.recipient_index < pre.user_data.size()) r.user_data = pre.user_data[f.recipient_index];
  r.smpp_options = m.smpp_options;
  accounting::reportQueuedMessage(r);
  if (!f.delayed && !f.bulk) reporting::addToCounter(reporting::Counter::kOutboundQueue);
}

}  // namespace

Checked<Submitted> submitMessage(Message m, const SubmitOptions& options) {
  fitToLimits(&m);
  if (auto error = validateMessage(m)) return *error;
  const std::function<uint16_t()> next_reference =
      options.next_reference ? options.next_reference
                             : [] { return static_cast<uint16_t>(queue::NextConcatReference()); };
  auto content = encodeMessage(m, options.encoding, next_reference);
  if (!content.ok()) return content.error();

  accounting::PreAuthorisation pre;
  if (auto refusal = authorise(&m, *content, &pre)) return *refusal;

  Submitted out;
  out.content = std::move(*content);
  QueueResult queued = queueMessage(m, out.content, options.queue, [&](const QueuedFile& f) {
    recordFile(f, m, out.content, pre);
    if (options.on_file) options.on_file(f, out.content);
  });
  out.files = std::move(queued.files);
  out.failed_recipients = std::move(queued.failed_recipients);
  out.bulk = queued.bulk;

  const uint32_t written = static_cast<uint32_t>(out.files.size());
  if (written != 0) {
    const bool outbound = m.target == Target::kOutbound;
    reporting::addToCounter(
        outbound ? reporting::Counter::kSubmitted : reporting::Counter::kReceived, written);
    if (outbound && !m.submit_user.empty()) accounting::chargeSubmission(m.submit_user, written);
  }
  if (!out.failed_recipients.empty()) {
    foundation::DebugLogf(options.queue.log_tag, "%zu of %zu recipients could not be queued",
                          out.failed_recipients.size(), m.recipients.size());
  }
  return out;
}

}  // namespace vek::submit
