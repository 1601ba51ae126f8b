#include "http/web/send_path.h"

#include <algorithm>

#include "encoding/charsets.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "http/server/param_lookup.h"
#include "http/server/responses.h"
#include "http/web/send_params.h"
#include "http/web/submit_page.h"
#include "platform/strings.h"
#include "reporting/message_log.h"
#include "submit/distribution_lists.h"
#include "submit/receipts.h"
#include "submit/recipients.h"
#include "submit/submit.h"
#include "submit/validation.h"

namespace vek::http {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;

constexpr const char* kTag = "ThreadProcessConnection";

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

void refuse(Connection& conn, const submit::Error& error) {
  if (error.kind == submit::ErrorKind::kOverQuota ||
      error.kind == submit::ErrorKind::kAccountingRefused) {
    conn.send(errorPageWithStatus(conn, "403 Forbidden", error.text));
    return;
  }
  refuse(conn, error.text);
}

bool mayInjectReceipt(const RequestContext& ctx, const hostlib::MessageIdRecord& original) {
  if (!ctx.settings.web_auth) return true;
  return ctx.user.local_system || ctx.user.admin() ||
         platform::equalsNoCase(ctx.user.name, original.account);
}

// Reads the recipients and parameters of the request into `p`; false when
// it was answered (refused).
bool planRequest(Connection& conn, const Request& req, const RequestContext& ctx,
                 const ParamLookup& params, SendRequest* p) {
  const std::string_view msg = req.view();
  const auto settings = foundation::settings();

  const size_t phone_size = std::max<size_t>(8192, msg.size()) + 1;
  auto phone = params.get("Phone", phone_size);
  if (!phone) phone = params.get("PhoneNumber", phone_size);
  submit::RecipientOptions ro;
  ro.allow_alpha = settings->AllowAlphaRecip;
  ro.list_directory = submit::listDirectory(ctx.user.name);
  submit::RecipientList list = submit::parseRecipients(phone.value_or(""), ro);
  DebugLogf(kTag, "%zu recipient entries", list.recipients.size());
  phone.reset();

  *p = readSendRequest(params, ctx.settings);
  submit::Message& m = p->message;
  submit::Content& c = m.content;
  if (ctx.user.account) m.sender = allowedSender(*ctx.user.account, m.sender);
  if (!c.destination_port) c.destination_port = list.destination_port;
  c.binary = c.binary || c.hasPorts();
  m.recipients = std::move(list.recipients);

  if (list.too_many) {
    refuse(conn, platform::format("Too many recipients (at most %zu)", submit::kMaxRecipients));
    return false;
  }
  if (!p->invalid_parameter.empty()) {
    refuse(conn, "Invalid character in parameter " + p->invalid_parameter);
    return false;
  }
  if (p->delay_invalid) {
    refuse(conn, "Invalid format for DelayUntil (yyyymmddhhmm).");
    return false;
  }
  if (p->has_text && !p->charset.empty() && !platform::equalsNoCase(p->charset, "utf-8")) {
    std::string charset = p->charset;
    encoding::CharsetToUTF8(&charset, &c.text);
  }

  if (!p->receipt_lookup_id.empty()) {
    auto original = submit::findReceiptOriginal(p->receipt_lookup_id);
    if (!original || !mayInjectReceipt(ctx, *original)) {
      DebugLogf(kTag, "Receipt Message id %s not found", p->receipt_lookup_id.c_str());
      refuse(conn, "ReceiptMessageId not found in our local database");
      return false;
    }
    DebugLogf(kTag, "Receipt message id %s found for %s", p->receipt_lookup_id.c_str(),
              original->account.c_str());
    const submit::ReceiptStatus status =
        submit::receiptStatus(m.receipt_delivered, m.receipt_intransit, m.receipt_failed);
    submit::makeReceipt(&m, *original, status, platform::localNow());
  } else if (p->inbound || !m.route_to_local_user.empty()) {
    m.target = submit::Target::kInbound;
  }

  m.submit_user = ctx.user.name;
  m.submitted_by = conn.remote_address;
  if (settings->SeparateUserQueues) m.queue_user = ctx.user.name;
  return true;
}

void writeWebLog(const submit::QueuedFile& f, const submit::Message& m,
                 const submit::EncodedMessage& content) {
  const submit::Part& part = content.parts[f.part];
  reporting::WebLogEntry web;
  web.submit_address = m.submitted_by;
  web.user = m.submit_user;
  web.message_id = f.message_id;
  web.kind = content.kind;
  web.recipient = f.recipient;
  web.sender = m.sender;
  web.content.binary = part.binary;
  web.content.pid = m.content.pid;
  web.content.dcs = part.dcs;
  web.content.udh = part.udh;
  web.content.data = part.data;
  reporting::writeWebLog(web);
}

}  // namespace

void handleSendRequest(Connection& conn, const Request& request, const RequestContext& ctx) {
  const ParamLookup params(request.view());
  SendRequest p;
  if (!planRequest(conn, request, ctx, params, &p)) return;
  const submit::Message& m = p.message;

  if (auto error = submit::validateMessage(m)) {
    refuse(conn, *error);
    return;
  }
  if (std::string_view family = contentFamilyParameter(params); !family.empty()) {
    refuse(conn, "Unsupported message content: " + std::string(family));
    return;
  }

  std::vector<std::string> lines;
  submit::SubmitOptions options;
  options.on_file = [&](const submit::QueuedFile& f, const submit::EncodedMessage& content) {
    writeWebLog(f, m, content);
    lines.push_back(resultLine(f.message_id, f.recipient));
  };
  auto submitted = submit::submitMessage(m, options);
  if (!submitted.ok()) {
    refuse(conn, submitted.error());
    return;
  }
  const std::string& continue_url = p.continue_url;
  if (!submitted->failed_recipients.empty()) {
    conn.send(submitFailureResponse(conn, continue_url, submitted->failed_recipients, lines));
    return;
  }
  conn.send(submitResultResponse(conn, continue_url, lines));
}

}  // namespace vek::http
