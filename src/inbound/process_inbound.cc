#include "inbound/process_inbound.h"

#include "accounting/accounting_callback.h"
#include "encoding/user_data_header.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/link_name.h"
#include "hostlib/host.h"
#include "hostlib/interface_events.h"
#include "inbound/extra_params.h"
#include "inbound/inbound_file.h"
#include "inbound/inbound_queue.h"
#include "inbound/inbound_routing.h"
#include "inbound/local_accounts.h"
#include "inbound/local_user.h"
#include "platform/sanitize.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"
#include "reporting/counters.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kTag = "ProcessInboundSMS";
constexpr uint16_t kWapPushPort = 2948;
constexpr std::string_view kAnyRoute = "any";

// What the arguments and the extra parameters say about the message.
struct Collected {
  std::string service_type;
  std::string local_user;
  std::string received_smsc;
  std::string options;
  bool resolve_receipt_id = false;
};

Collected collect(const InboundSMS& m) {
  Collected c;
  if (m.service_type) {
    c.service_type = *m.service_type;
  } else if (auto v = extraValue(m.extra, "ServiceType")) {
    c.service_type = *v;
  }
  if (auto v = extraValue(m.extra, "RouteToLocalUser")) c.local_user = *v;
  if (auto v = extraValue(m.extra, "ReceivedSMSC")) c.received_smsc = *v;
  c.resolve_receipt_id = m.resolve_receipt_id;
  if (auto v = extraValue(m.extra, "ResolveReceiptID"); v && foundation::yesNo(*v))
    c.resolve_receipt_id = true;
  c.options = m.smpp_options ? normaliseOptionList(*m.smpp_options)
                             : smppOptionList(m.extra, OptionFilter::kConfigured);
  return c;
}

std::string linkValue(const std::string& section, std::string_view key) {
  return std::string(platform::trim(hostlib::SMSIniGetProfileString(section, key)));
}

// `ReceiveMMS` of the link's section, else of section SMSGW.
bool receiveMMS(const std::string& section) {
  std::string v = section.empty() ? std::string() : linkValue(section, "ReceiveMMS");
  if (v.empty()) v = hostlib::SMSIniGetProfileString("SMSGW", "ReceiveMMS", "No");
  return foundation::yesNo(v);
}

bool smsgwYes(std::string_view key) {
  return foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", key));
}

// The route a `ReRouteReceived` value names: "any" for "Yes", "" for "No".
std::string rerouteTarget(std::string_view value) {
  if (platform::equalsNoCase(value, "Yes")) return std::string(kAnyRoute);
  if (platform::equalsNoCase(value, "No")) return std::string();
  return std::string(value);
}

// The accounting service's word on a re-routed message: false drops it;
// `*route` may be replaced by the route it names.
bool preAuthoriseReRoute(const ReceivedFile& f, std::string* route) {
  accounting::SubmissionInfo info;
  info.recipients = {f.recipient};
  info.message_count = 1;
  info.route = *route == kAnyRoute ? std::string() : *route;
  info.sender = f.sender;
  info.binary = f.binary;
  info.pid = f.pid;
  info.dcs = f.dcs;
  info.udh = f.udh;
  info.data = f.data;
  info.receipt_requested = (f.flags & queue::kFlagReceiptRequested) != 0;
  info.service_type = f.service_type;
  info.smpp_options = f.smpp_options;
  accounting::PreAuthorisation answer = accounting::preAuthoriseSubmission(info);
  if (answer.code != 0) return false;
  if (!answer.routes.empty() && !answer.routes[0].empty()) *route = answer.routes[0];
  return true;
}

void reportReRoute(const ReceivedFile& f, const std::string& message_id) {
  accounting::QueuedMessageReport report;
  report.to = f.recipient;
  report.message_id = message_id;
  report.sender = f.sender;
  report.binary = f.binary;
  report.pid = f.pid;
  report.dcs = f.dcs;
  report.udh = f.udh;
  report.data = f.data;
  report.receipt_requested = (f.flags & queue::kFlagReceiptRequested) != 0;
  report.service_type = f.service_type;
  report.route = f.smsc_route;
  report.smpp_options = f.smpp_options;
  accounting::reportQueuedMessage(report);
}

// The message as an account's queue file is loaded again (for the
// account's log entry and accounting report).
queue::SMSMessage asLoaded(const ReceivedFile& f) {
  queue::SMSMessage m;
  m.Sender = f.sender;
  m.PhoneNumber = f.recipient;
  m.UDH = f.udh;
  m.Data = f.data;
  m.pid = f.pid;
  m.dcs = f.dcs;
  m.Binary = f.binary;
  m.MessageFlags = f.flags;
  m.ReceiptMessageId = f.receipt_message_id;
  m.ServiceType = f.service_type;
  m.SMPPOptions = f.smpp_options;
  m.ModemName = f.modem_name;
  m.ReceivedSMSC = f.received_smsc;
  return m;
}

InboundKind inboundKind(const ReceivedFile& f, bool resolve) {
  if (resolve) return InboundKind::kReceiptToResolve;
  if ((f.flags & queue::kFlagIsReceipt) != 0 && !f.receipt_message_id.empty())
    return InboundKind::kReceipt;
  return InboundKind::kMessage;
}

platform::Result<std::string> writeInboundFile(const ReceivedFile& f, InboundKind kind) {
  const std::string dir = newInboundFileDirectory();
  auto path = queue::CreateQueueFile(dir, extensionOf(kind), formatReceivedFile(f));
  if (!path.ok()) {
    foundation::DebugLogf(kTag, "Unable to create an inbound file in %s: %s", dir.c_str(),
                          path.status().message().c_str());
    return path.status();
  }
  inboundFileWritten(kind);
  return path;
}

platform::Result<std::string> writeReRouted(const ReceivedFile& f, const std::string& route) {
  const std::string dir = queue::GetQueueDirectory(route == kAnyRoute ? "" : route);
  const std::string text = formatReceivedFile(f);
  const encoding::InboundHeader header = encoding::parseInboundHeader(f.udh);
  auto path = header.segment ? queue::CreateSegmentFile(dir, f.sender, header.reference,
                                                        header.total, header.number, "req", text)
                             : queue::CreateQueueFile(dir, "req", text);
  if (!path.ok()) {
    foundation::DebugLogf(kTag, "Unable to re-route a message into %s: %s", dir.c_str(),
                          path.status().message().c_str());
    return path.status();
  }
  foundation::DebugLogf("ReRouteReceived", "%s", path->c_str());
  if (route != kAnyRoute) hostlib::SetEventForInterface("SmppSubmitAsync", route);
  return path;
}

platform::Result<std::string> writeForAccount(const ReceivedFile& f, const std::string& account) {
  const std::string dir = foundation::accountQueueBatchDirectory(account);
  auto path = queue::CreateQueueFile(dir, "req", formatReceivedFile(f));
  if (!path.ok()) {
    foundation::DebugLogf(kTag, "Unable to write a message for %s into %s: %s", account.c_str(),
                          dir.c_str(), path.status().message().c_str());
  }
  return path;
}

// A receipt an account received is also worked as a two-way message when
// the configuration asks for it: a second file in the inbound directory.
void duplicateReceiptFor2Way(ReceivedFile f) {
  if (!smsgwYes("DuplicateUserMessagesFor2Way") && !smsgwYes("DuplicateUserReceiptsFor2Way"))
    return;
  f.inbound_section = true;
  f.local_user.clear();
  f.duplicate_for_two_way = true;
  auto path = writeInboundFile(f, InboundKind::kReceipt);
  if (!path.ok()) {
    foundation::DebugLogf(kTag, "The two-way copy of a receipt for %s was not written",
                          platform::singleLine(f.receipt_message_id).c_str());
  }
}

}  // namespace

std::string applyPrefixRules(std::string_view address, std::string_view rules) {
  for (const std::string& rule : platform::split(rules, ",")) {
    const size_t colon = rule.find(':');
    if (colon == std::string::npos) continue;
    std::string_view from = platform::trim(std::string_view(rule).substr(0, colon));
    std::string_view to = platform::trim(std::string_view(rule).substr(colon + 1));
    if (from.empty() || !platform::startsWithNoCase(address, from)) continue;
    return std::string(to) + std::string(address.substr(from.size()));
  }
  return std::string(address);
}

platform::Result<InboundStored> ProcessInboundSMS(const InboundSMS& m) {
  Collected c = collect(m);
  ReceivedFile f;
  f.modem_name = m.link_name;
  f.sender = m.sender;
  f.recipient = m.recipient;
  f.udh = m.udh;
  f.data = m.data;
  f.pid = m.pid;
  f.dcs = m.dcs;
  f.binary = m.binary;
  f.flags = m.flags;
  f.receipt_message_id = m.receipt_message_id;
  f.service_type = c.service_type;
  f.smpp_options = c.options;
  f.received_smsc = c.received_smsc;

  std::string section;
  std::string reroute;
  if (!m.link_name.empty()) {
    section = foundation::linkSectionName(m.link_name);
    f.sender = applyPrefixRules(f.sender, linkValue(section, "InSenderPrefixConvert"));
    f.recipient = applyPrefixRules(f.recipient, linkValue(section, "InRecipPrefixConvert"));
    if (c.local_user.empty()) c.local_user = linkValue(section, "RouteLocal");
    if (c.local_user.empty()) reroute = rerouteTarget(linkValue(section, "ReRouteReceived"));
  }

  std::string account;
  if (!c.local_user.empty()) {
    std::string user = InboundRouting(f.recipient, f.service_type, c.local_user);
    // "~SMSIN" is the inbound directory, where the message goes anyway.
    if (!user.empty() && !inboundDirectoryTarget(user)) account = std::move(user);
  }
  if (!account.empty() && receiveMMS(section)) {
    const encoding::InboundHeader header = encoding::parseInboundHeader(f.udh);
    if (header.has_destination_port && header.destination_port == kWapPushPort) account.clear();
  }

  InboundStored stored;
  platform::Result<std::string> path = platform::Status::error("not written");
  if (c.resolve_receipt_id) {
    // The account is told once the receipt thread knows the gateway's id.
    f.local_user = account;
    stored.outcome = InboundOutcome::kInboundFile;
    path = writeInboundFile(f, InboundKind::kReceiptToResolve);
  } else if (!account.empty()) {
    f.inbound_section = false;
    f.local_user = account;
    stored.outcome = InboundOutcome::kLocalUser;
    stored.local_user = account;
    path = writeForAccount(f, account);
  } else if (!reroute.empty()) {
    f.inbound_section = false;
    f.modem_name.clear();
    std::string route = reroute;
    if (!preAuthoriseReRoute(f, &route)) {
      foundation::DebugLog(kTag, "Message rejected by Accounting PreAuth");
      stored.outcome = InboundOutcome::kRejected;
      return stored;
    }
    f.smsc_route = route == kAnyRoute ? std::string() : route;
    stored.outcome = InboundOutcome::kReRouted;
    path = writeReRouted(f, route);
  } else {
    stored.outcome = InboundOutcome::kInboundFile;
    path = writeInboundFile(f, inboundKind(f, false));
  }
  if (!path.ok()) return path.status();

  stored.path = *path;
  stored.message_id = messageIdOf(stored.path);
  reporting::addToCounter(reporting::Counter::kReceived);
  if (stored.outcome == InboundOutcome::kLocalUser) {
    recordLocalDelivery(asLoaded(f), account, stored.message_id);
    if ((f.flags & queue::kFlagIsReceipt) != 0 && !f.receipt_message_id.empty())
      duplicateReceiptFor2Way(f);
  } else if (stored.outcome == InboundOutcome::kReRouted) {
    reportReRoute(f, stored.message_id);
  }
  return stored;
}

}  // namespace vek::inbound
