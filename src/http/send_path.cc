#include "http/send_path.h"

#include <algorithm>

#include "accounting/accounting_callback.h"
#include "accounting/quota.h"
#include "encoding/charsets.h"
#include "foundation/debug_log.h"
#include "foundation/link_name.h"
#include "foundation/settings.h"
#include "http/list_store.h"
#include "http/param_lookup.h"
#include "http/receipt_injection.h"
#include "http/recipients.h"
#include "http/responses.h"
#include "http/sms_content.h"
#include "http/submission.h"
#include "http/submit_page.h"
#include "platform/strings.h"
#include "queue/naming_counters.h"
#include "reporting/counters.h"
#include "reporting/message_log.h"

namespace vek::http {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;

constexpr const char* kTag = "ThreadProcessConnection";
constexpr std::string_view kUnknownRecipient = "unknown";

// Parameters that ask for a content family (ring tones, picture messages,
// EMS, voice-mail indicators, WAP push, OTA settings, MMS). Their builders
// are not part of the gateway yet: such a request is refused rather than
// sent as an empty text.
constexpr std::string_view kContentFamilyParameters[] = {"RingToneDataText",
                                                         "RingToneDataFile",
                                                         "RingToneDataURL",
                                                         "RingToneOut",
                                                         "PictureMessageDataText",
                                                         "PictureMessageDataFile",
                                                         "PictureMessageDataURL",
                                                         "PictureMessageOut",
                                                         "EMSText",
                                                         "VoiceMail",
                                                         "VoiceMailMessageCount",
                                                         "WAPURL",
                                                         "WAPSL",
                                                         "WAPPUSHADV_CONTENT",
                                                         "WAPBookmark",
                                                         "OTASyncML",
                                                         "OTAOMA",
                                                         "OMAOTA",
                                                         "OTAXMLSettings",
                                                         "OTABookmark",
                                                         "OTA_BEARER",
                                                         "OTA_NAME",
                                                         "OTA_SUBMIT_VIEWXML",
                                                         "MMSText",
                                                         "MMSFile",
                                                         "MMSURL"};

std::string_view contentFamilyParameter(const ParamLookup& params) {
  for (std::string_view name : kContentFamilyParameters)
    if (params.get(name, 2)) return name;
  return {};
}

// Answers the error page and logs its text.
void refuse(Connection& conn, std::string_view text) {
  DebugLog(kTag, text);
  conn.send(errorPageResponse(conn, text));
}

bool mayInjectReceipt(const RequestContext& ctx, const hostlib::MessageIdRecord& original) {
  if (!ctx.settings.web_auth) return true;
  return ctx.user.local_system || ctx.user.admin() ||
         platform::equalsNoCase(ctx.user.name, original.account);
}

// What the send path has gathered before anything is written.
struct SendPlan {
  SendParams params;
  Submission submission;
  ContentInput content;
};

// Turns the request into a plan; false when it was answered (refused).
bool planRequest(Connection& conn, const Request& req, const RequestContext& ctx, SendPlan* plan) {
  const std::string_view msg = req.view();
  const auto settings = foundation::settings();
  SendParams& p = plan->params;
  Submission& s = plan->submission;
  ContentInput& in = plan->content;

  const ParamLookup params(msg);
  const size_t phone_size = std::max<size_t>(8192, msg.size()) + 1;
  auto phone = params.get("Phone", phone_size);
  if (!phone) phone = params.get("PhoneNumber", phone_size);
  RecipientOptions ro;
  ro.allow_alpha = settings->AllowAlphaRecip;
  ro.list_directory = listDirectory(ctx.user.name);
  RecipientList list = parseRecipients(phone.value_or(""), ro);
  DebugLogf(kTag, "%zu recipient entries", list.recipients.size());
  phone.reset();

  p = readSendParams(params, ctx.settings);
  if (ctx.user.account) p.sender = allowedSender(*ctx.user.account, p.sender);
  if (!p.destination_port) p.destination_port = list.destination_port;
  s.recipients = std::move(list.recipients);

  if (list.too_many) {
    refuse(conn, platform::format("Too many recipients (at most %zu)", kMaxRecipients));
    return false;
  }
  if (!p.invalid_parameter.empty()) {
    refuse(conn, "Invalid character in parameter " + p.invalid_parameter);
    return false;
  }
  if (p.delay_invalid) {
    refuse(conn, "Invalid format for DelayUntil (yyyymmddhhmm).");
    return false;
  }

  RequestKeys& k = s.keys;
  in.text = p.text;
  in.binary = p.has_data || !p.udh.empty() || p.source_port || p.destination_port;
  in.udh = p.udh;
  if (p.source_port || p.destination_port)
    in.udh =
        withApplicationPorts(in.udh, p.destination_port.value_or(0), p.source_port.value_or(0));
  if (p.has_text && !p.charset.empty() && !platform::equalsNoCase(p.charset, "utf-8")) {
    std::string charset = p.charset;
    encoding::CharsetToUTF8(&charset, &in.text);
  }
  k.sender = p.sender;
  k.receipt_delivered = p.receipt_delivered;
  k.receipt_failed = p.receipt_failed;
  k.receipt_intransit = p.receipt_intransit;

  if (!p.receipt_message_id.empty()) {
    auto original = findReceiptOriginal(p.receipt_message_id);
    if (!original || !mayInjectReceipt(ctx, *original)) {
      DebugLogf(kTag, "Receipt Message id %s not found", p.receipt_message_id.c_str());
      refuse(conn, "ReceiptMessageId not found in our local database");
      return false;
    }
    DebugLogf(kTag, "Receipt message id %s found for %s", p.receipt_message_id.c_str(),
              original->account.c_str());
    const ReceiptStatus status =
        receiptStatus(p.receipt_delivered, p.receipt_intransit, p.receipt_failed);
    // The store keeps no submission time: the receipt shows the current
    // time for both dates.
    const platform::CalendarTime now = platform::localNow();
    in = ContentInput{};
    in.text = receiptText(original->local_id, status, now, now);
    s.target = SubmissionTarget::kReceipt;
    s.recipients = {original->recipient.empty() ? std::string(kUnknownRecipient)
                                                : original->recipient};
    k.sender = original->sender;
    k.route_to_local_user = original->account;
    k.receipt_message_id = original->local_id;
    k.receipt_delivered = status == ReceiptStatus::kDelivered;
    k.receipt_intransit = status == ReceiptStatus::kEnroute;
    k.receipt_failed = status == ReceiptStatus::kRejected;
  } else if (p.inbound || !p.local_user.empty()) {
    s.target = SubmissionTarget::kInbound;
    k.route_to_local_user = p.local_user;
  }
  k.inbound = s.target != SubmissionTarget::kOutbound;

  if (s.recipients.empty()) {
    refuse(conn, "Invalid format for telephone number.");
    return false;
  }
  if (!p.smsc_route.empty() && !isKnownRoute(p.smsc_route)) {
    refuse(conn, "Unknown smscRoute=" + p.smsc_route);
    return false;
  }
  in.pid = p.pid;
  in.dcs = s.target == SubmissionTarget::kReceipt ? 0 : p.dcs;
  if (auto error = contentError(in)) {
    refuse(conn, *error);
    return false;
  }
  if (std::string_view family = contentFamilyParameter(params); !family.empty()) {
    refuse(conn, "Unsupported message content: " + std::string(family));
    return false;
  }

  in.shift_tables = ctx.settings.shift_tables;
  in.options = encoding::splitOptionsFromSettings();
  in.never_split = s.target != SubmissionTarget::kOutbound;
  k.submit_user = ctx.user.name;
  k.submitted_by = conn.remote_address;
  k.reply_requested = p.reply_requested;
  k.receipt_requested = p.receipt_requested;
  k.validity = p.validity;
  k.service_type = p.service_type;
  k.billing_info = p.billing_info;
  k.acct_info = p.acct_info;
  k.smpp_options = p.smpp_options;
  k.pid = p.pid;
  k.extra_args = p.extra_args;
  s.route = p.smsc_route;
  if (settings->SeparateUserQueues) s.sub_directory = ctx.user.name;
  if (p.delayed) {
    s.delay = p.delay_until;
    s.delay_text = p.delay_text;
  }
  return true;
}

accounting::SubmissionInfo submissionInfo(const SendPlan& plan, const RequestContext& ctx,
                                          const Connection& conn) {
  const Submission& s = plan.submission;
  const ContentPart& first = s.content.parts.front();
  accounting::SubmissionInfo info;
  info.from = ctx.user.name;
  info.recipients = s.recipients;
  info.message_count = static_cast<uint32_t>(s.recipients.size() * s.content.parts.size());
  info.submit_address = conn.remote_address;
  info.route = s.route;
  info.sender = s.keys.sender;
  info.binary = plan.content.binary;
  info.pid = plan.content.pid;
  info.dcs = first.dcs;
  info.udh = plan.content.udh;
  info.data = plan.content.text;
  info.receipt_requested = s.keys.receipt_requested;
  info.service_type = s.keys.service_type;
  info.validity = s.keys.validity;
  info.acct_info = s.keys.acct_info;
  info.smpp_options = s.keys.smpp_options;
  return info;
}

// Quota and accounting for an authenticated user's outbound submission;
// false when refused (and answered).
bool authorise(Connection& conn, const RequestContext& ctx, SendPlan* plan,
               accounting::PreAuthorisation* pre) {
  Submission& s = plan->submission;
  if (ctx.user.anonymous() || s.target != SubmissionTarget::kOutbound) return true;
  const uint32_t count = static_cast<uint32_t>(s.recipients.size() * s.content.parts.size());
  accounting::QuotaDecision quota = accounting::checkSubmissionQuota(ctx.user.name, count);
  if (!quota.allowed) {
    DebugLog("MessageAccountingReject", quota.error);
    conn.send(
        errorPageWithStatus(conn, "403 Forbidden", "User account over quota:  " + ctx.user.name));
    return false;
  }
  *pre = accounting::preAuthoriseSubmission(submissionInfo(*plan, ctx, conn));
  if (pre->code != 0) {
    std::string text =
        pre->error_text.empty() ? "Request rejected by accounting callback" : pre->error_text;
    DebugLog("MessageAccountingReject", text);
    conn.send(errorPageWithStatus(conn, "403 Forbidden", text));
    return false;
  }
  if (pre->routes.size() == s.recipients.size()) s.recipient_routes = pre->routes;
  return true;
}

reporting::LoggedContent loggedContent(const ContentPart& part, uint8_t pid) {
  reporting::LoggedContent c;
  c.binary = part.binary;
  c.pid = pid;
  c.dcs = part.dcs;
  c.udh = part.udh;
  c.data = part.data;
  return c;
}

void recordFile(const QueuedFile& f, const SendPlan& plan, const RequestContext& ctx,
                const Connection& conn, const accounting::PreAuthorisation& pre, size_t index,
                std::vector<std::string>* lines) {
  const Submission& s = plan.submission;
  const ContentPart& part = s.content.parts[f.part];
  reporting::WebLogEntry web;
  web.submit_address = conn.remote_address;
  web.user = ctx.user.name;
  web.message_id = f.message_id;
  web.kind = s.content.kind;
  web.recipient = f.recipient;
  web.sender = s.keys.sender;
  web.content = loggedContent(part, s.keys.pid);
  reporting::writeWebLog(web);

  reporting::UserLogEntry user;
  user.user = ctx.user.name;
  user.event = "SMSSubmit";
  user.recipient = f.recipient;
  user.other_party = conn.remote_address;
  user.message_id = f.message_id;
  user.kind = s.content.kind;
  user.sender = s.keys.sender;
  user.content = web.content;
  reporting::writeUserLog(user);

  if (s.target == SubmissionTarget::kOutbound) {
    accounting::QueuedMessageReport r;
    r.from = ctx.user.name;
    r.to = f.recipient;
    r.message_id = f.message_id;
    r.submit_address = conn.remote_address;
    r.sender = s.keys.sender;
    r.binary = part.binary;
    r.pid = s.keys.pid;
    r.dcs = part.dcs;
    r.udh = part.udh;
    r.data = part.data;
    r.receipt_requested = s.keys.receipt_requested;
    r.service_type = s.keys.service_type;
    r.validity = s.keys.validity;
    r.route = f.route;
    r.acct_info = s.keys.acct_info;
    if (index < pre.route_charges.size()) r.route_charge = pre.route_charges[index];
    if (index < pre.user_data.size()) r.user_data = pre.user_data[index];
    r.smpp_options = s.keys.smpp_options;
    accounting::reportQueuedMessage(r);
    if (!f.delayed && !f.bulk) reporting::addToCounter(reporting::Counter::kOutboundQueue);
  }
  lines->push_back(resultLine(f.message_id, f.recipient));
}

}  // namespace

bool isKnownRoute(std::string_view route) {
  for (const foundation::ConfiguredLink& link : foundation::configuredLinks()) {
    if (platform::equalsNoCase(link.name, route) ||
        platform::equalsNoCase(foundation::linkRouteName(link.name), route))
      return true;
  }
  return false;
}

void handleSendRequest(Connection& conn, const Request& request, const RequestContext& ctx) {
  SendPlan plan;
  if (!planRequest(conn, request, ctx, &plan)) return;
  Submission& s = plan.submission;

  auto content = encodeContent(plan.content, [] { return uint16_t{queue::NextConcatReference()}; });
  if (!content.ok()) {
    refuse(conn, content.status().message());
    return;
  }
  s.content = std::move(*content);

  accounting::PreAuthorisation pre;
  if (!authorise(conn, ctx, &plan, &pre)) return;

  std::vector<std::string> lines;
  size_t next_recipient = 0;
  SubmissionResult result = queueSubmission(s, [&](const QueuedFile& f) {
    // Files arrive in recipient order; find the recipient's index for the
    // accounting values without a search.
    while (next_recipient < s.recipients.size() && s.recipients[next_recipient] != f.recipient)
      ++next_recipient;
    recordFile(f, plan, ctx, conn, pre, next_recipient, &lines);
  });

  const uint32_t written = static_cast<uint32_t>(result.files.size());
  if (written != 0) {
    reporting::addToCounter(s.target == SubmissionTarget::kOutbound ? reporting::Counter::kSubmitted
                                                                    : reporting::Counter::kReceived,
                            written);
    if (!ctx.user.anonymous() && s.target == SubmissionTarget::kOutbound)
      accounting::chargeSubmission(ctx.user.name, written);
  }
  if (!result.failed_recipients.empty()) {
    DebugLogf(kTag, "%zu of %zu recipients could not be queued", result.failed_recipients.size(),
              s.recipients.size());
    conn.send(
        submitFailureResponse(conn, plan.params.continue_url, result.failed_recipients, lines));
    return;
  }
  conn.send(submitResultResponse(conn, plan.params.continue_url, lines));
}

}  // namespace vek::http
