#include "smpp_server/submission.h"

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "http/web/web_auth.h"
#include "platform/byte_io.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "protocols/message_text.h"
#include "protocols/smpp/status_codes.h"
#include "queue/unique_id.h"
#include "smpp_server/server_settings.h"
#include "submit/submit.h"

namespace vek::smpp_server {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;
namespace status = smpp::status;

constexpr const char* kTag = "SMPPServerReceiveMessageCallback";
constexpr std::string_view kOptionPrefix = "SMPPOption_";
// "SMPPOptions=" holds at most this much; a name or a value longer than
// kMaxOptionPart is not kept.
constexpr size_t kMaxOptions = 499;
constexpr size_t kMaxOptionPart = 99;

void keepOption(std::string* kept, std::string_view name, std::string_view value) {
  if (name.size() > kMaxOptionPart || value.size() > kMaxOptionPart) return;
  const size_t extra =
      (kept->empty() ? 0 : 2) + kOptionPrefix.size() + name.size() + 1 + value.size();
  if (kept->size() + extra > kMaxOptions) return;
  if (!kept->empty()) kept->append("; ");
  kept->append(kOptionPrefix);
  kept->append(name);
  kept->push_back('=');
  kept->append(value);
}

// The client's content as the submission layer takes it.
submit::Content contentFromClient(const protocols::InboundMessage& m) {
  submit::Content c;
  c.pid = m.pid;
  c.dcs = m.dcs;
  if (m.udh.empty()) {
    c.text = m.data;
    c.binary = m.type == protocols::kMessageBinary;
    return c;
  }
  // A message with its own header is a segment or a port message the
  // client made: its octets go as they are, after that header.
  c.binary = true;
  c.udh = m.udh;
  if (m.type == protocols::kMessageBinary) {
    c.text = m.data;
  } else if (protocols::alphabetOf(m.dcs) == protocols::Alphabet::kGsm7) {
    c.text = encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString(m.data), m.udh.size() / 2);
  } else {
    c.text = platform::toHex(protocols::utf8ToLatin1(m.data));
  }
  return c;
}

// A client's choice of route or local user: honoured for administrators.
bool mayChooseRoute(const hostlib::Account& account) {
  return account.admin;
}

bool waitUntil(platform::SteadyTime when) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(when - platform::monotonicNow());
  if (left.count() <= 0) return !platform::shutdownRequested();
  return platform::sleepFor(left);
}

}  // namespace

ClientItems readClientItems(std::string_view extra) {
  ClientItems out;
  for (const std::string& item : platform::split(extra, ";")) {
    std::string_view it = platform::trim(item);
    const size_t eq = it.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = platform::trim(it.substr(0, eq));
    std::string_view value = platform::trim(it.substr(eq + 1));
    // Options the gateway declares for these two keys reach here as
    // "SMPPOption_<key>" items.
    std::string_view plain = key;
    const bool option = platform::startsWithNoCase(key, kOptionPrefix);
    if (option) plain = key.substr(kOptionPrefix.size());
    if (platform::equalsNoCase(plain, "RouteToLocalUser")) {
      out.route_to_local_user = value;
    } else if (platform::equalsNoCase(plain, "SMSCRouteInfo")) {
      out.smsc_route = value;
    } else if (option) {
      if (optionKept(plain)) keepOption(&out.smpp_options, plain, value);
    } else if (platform::equalsNoCase(key, "ServiceType")) {
      out.service_type = value;
    } else if (platform::equalsNoCase(key, "Validity")) {
      out.validity = value;
    }
  }
  return out;
}

submit::Message messageFromClient(const Submitter& who, const protocols::InboundMessage& m) {
  submit::Message out;
  out.submit_user = who.account.name;
  out.submitted_by = who.peer_address;
  if (!m.recipient.empty()) out.recipients.push_back(m.recipient);
  out.sender = http::allowedSender(who.account, m.sender);
  out.content = contentFromClient(m);
  out.reply_requested = (m.flags & protocols::flag::kReplyRequested) != 0;
  out.receipt_requested = (m.flags & protocols::flag::kReceiptRequested) != 0;
  out.non_delivery_receipt_requested =
      (m.flags & protocols::flag::kNonDeliveryReceiptRequested) != 0;

  ClientItems items = readClientItems(m.extra);
  out.service_type = std::move(items.service_type);
  out.validity = std::move(items.validity);
  out.smpp_options = std::move(items.smpp_options);
  if (!items.route_to_local_user.empty() || !items.smsc_route.empty()) {
    if (mayChooseRoute(who.account)) {
      out.route_to_local_user = std::move(items.route_to_local_user);
      out.route = std::move(items.smsc_route);
    } else {
      DebugLogf(kTag, "Route or local user from %s ignored: the account may not choose them",
                who.account.name.c_str());
    }
  }
  if (foundation::settings()->SeparateUserQueues) out.queue_user = who.account.name;
  return out;
}

uint32_t commandStatusFor(submit::ErrorKind kind) {
  switch (kind) {
    case submit::ErrorKind::kNoRecipient:
      return status::kInvDstAdr;
    case submit::ErrorKind::kTooManyRecipients:
      return status::kInvNumDests;
    case submit::ErrorKind::kUnknownRoute:
    case submit::ErrorKind::kInvalidField:
      return status::kInvOptParamVal;
    case submit::ErrorKind::kInvalidHeader:
      return status::kInvEsmClass;
    case submit::ErrorKind::kInvalidData:
    case submit::ErrorKind::kCannotEncode:
      return status::kInvMsgLen;
    case submit::ErrorKind::kOverQuota:
    case submit::ErrorKind::kAccountingRefused:
      return status::kThrottled;
  }
  return status::kSysErr;
}

uint32_t submitClientMessage(const Submitter& who, const protocols::InboundMessage& m,
                             std::string* message_id, const SubmitEnvironment& env) {
  if (foundation::debugEnabled()) {
    std::string line = platform::format(
        "inbound message:  sender=%s, recip=%s, pid=%X, dcs=%X, msgFlags=%X, udh=%s, msg=%s",
        m.sender.c_str(), m.recipient.c_str(), m.pid, m.dcs, m.flags, m.udh.c_str(),
        m.data.c_str());
    if (!m.extra.empty()) line += ", extraParms=" + m.extra;
    DebugLog(kTag, line);
  }

  submit::Message msg = messageFromClient(who, m);
  const std::string id = platform::format("%08X", queue::NextUniqueMessageId());
  msg.receipt_message_id = id;

  if (who.record && who.throughput.min_interval.count() > 0) {
    const auto slot =
        who.record->reserveSlot(platform::monotonicNow(), who.throughput.min_interval);
    const bool go = env.wait_until ? env.wait_until(slot) : waitUntil(slot);
    if (!go) return status::kThrottled;
  }

  submit::SubmitOptions options;
  options.queue.layout = submit::FileLayout::kSmppServer;
  options.queue.log_tag = kTag;
  options.queue.queue_root = env.queue_root;
  options.encoding.log_tag = kTag;
  auto done = submit::submitMessage(std::move(msg), options);
  if (!done.ok()) {
    const submit::ErrorKind kind = done.error().kind;
    if (kind == submit::ErrorKind::kOverQuota || kind == submit::ErrorKind::kAccountingRefused)
      DebugLog(kTag, "User over quota");
    DebugLogf(kTag, "Message from %s refused: %s", who.account.name.c_str(),
              done.error().text.c_str());
    return commandStatusFor(kind);
  }
  if (done->files.empty()) {
    DebugLog(kTag, "User outbound queue file cannot be created");
    return status::kSysErr;
  }
  if (who.record) who.record->countSubmitted(static_cast<uint32_t>(done->files.size()));
  *message_id = id;
  return status::kOk;
}

}  // namespace vek::smpp_server
