#include "inbound/local_user.h"

#include <cerrno>

#include "accounting/accounting_callback.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/settings.h"
#include "inbound/inbound_file.h"
#include "inbound/inbound_queue.h"
#include "inbound/local_accounts.h"
#include "platform/sanitize.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"
#include "reporting/message_log.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kTag = "RouteInboundToLocalUser";

std::string_view kindOf(const queue::SMSMessage& m) {
  if (m.MessageFlags & queue::kFlagIsReceipt) return "Receipt";
  return m.Binary ? "Binary" : "Text";
}

}  // namespace

void recordLocalDelivery(const queue::SMSMessage& m, const std::string& account,
                         const std::string& message_id) {
  reporting::UserLogEntry log;
  log.user = account;
  log.event = "SMSReceive";
  log.recipient = m.PhoneNumber;
  log.other_party = m.Sender;
  log.message_id = message_id;
  log.kind = kindOf(m);
  log.sender = m.Sender;
  log.content = {m.Binary, m.pid, m.dcs, m.UDH, m.Data};
  reporting::writeUserLog(log);
  if (!foundation::settings()->AccountingExtended) return;
  accounting::QueuedMessageReport report;
  report.type = "SMSOut";
  report.from = account;
  report.to = m.PhoneNumber;
  report.message_id = message_id;
  report.sender = m.Sender;
  report.binary = m.Binary;
  report.pid = m.pid;
  report.dcs = m.dcs;
  report.udh = m.UDH;
  report.data = m.Data;
  report.receipt_requested = (m.MessageFlags & queue::kFlagReceiptRequested) != 0;
  report.service_type = m.ServiceType;
  report.route = m.ModemRoute;
  report.acct_info = m.AcctInfo;
  report.smpp_options = m.SMPPOptions;
  accounting::reportQueuedMessage(report);
}

namespace {

InboundKind kindOfExtension(std::string_view ext) {
  if (platform::equalsNoCase(ext, "rec")) return InboundKind::kReceipt;
  if (platform::equalsNoCase(ext, "rct")) return InboundKind::kReceiptToResolve;
  return InboundKind::kMessage;
}

bool waitingExtension(std::string_view ext) {
  return platform::equalsNoCase(ext, "in") || platform::equalsNoCase(ext, "rec") ||
         platform::equalsNoCase(ext, "rct");
}

}  // namespace

platform::Result<std::string> RouteInboundToLocalUser(const queue::SMSMessage& msg,
                                                      std::string_view user,
                                                      std::string_view source) {
  std::string extension;
  if (inboundDirectoryTarget(user, &extension)) {
    const std::string dir = newInboundFileDirectory();
    auto path = queue::CreateQueueFile(dir, extension, formatRoutedCopy(msg, true));
    if (!path.ok()) {
      foundation::DebugLogf(kTag, "Unable to write %s into %s: %s",
                            platform::singleLine(source).c_str(), dir.c_str(),
                            path.status().message().c_str());
      return path.status();
    }
    if (waitingExtension(extension)) inboundFileWritten(kindOfExtension(extension));
    return path;
  }

  std::optional<std::string> account = existingAccount(user);
  if (!account) {
    foundation::DebugLogf(kTag, "No account %s for %s", platform::singleLine(user).c_str(),
                          platform::singleLine(source).c_str());
    return platform::Status::error("no such account", EINVAL);
  }
  const std::string dir = foundation::accountQueueBatchDirectory(*account);
  auto path = queue::CreateQueueFile(dir, "req", formatRoutedCopy(msg, false));
  if (!path.ok()) {
    foundation::DebugLogf(kTag, "Unable to write %s for %s into %s: %s",
                          platform::singleLine(source).c_str(), account->c_str(), dir.c_str(),
                          path.status().message().c_str());
    return path.status();
  }
  recordLocalDelivery(msg, *account, messageIdOf(*path));
  return path;
}

}  // namespace vek::inbound
