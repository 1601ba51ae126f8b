#include "inbound/receipt_worker.h"

#include <cerrno>
#include <exception>

#include "accounting/accounting_callback.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/link_name.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "inbound/inbound_queue.h"
#include "inbound/inbound_routing.h"
#include "inbound/inbound_worker.h"
#include "inbound/local_accounts.h"
#include "inbound/local_user.h"
#include "inbound/set_aside.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/queue_scan.h"
#include "queue/queue_tree.h"
#include "queue/request_writer.h"
#include "queue/retry_policy.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kTag = "ThreadProcessInboundReceipts";
constexpr std::chrono::milliseconds kPassWait{1000};
// Receipt files are a few hundred bytes; a far larger one is no receipt.
constexpr size_t kMaxReceiptFile = 1u << 20;

bool smsgwYes(std::string_view key) {
  return foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", key));
}

void reportReceived(const queue::SMSMessage& m, const std::string& message_id) {
  if (!foundation::settings()->AccountingExtended) return;
  accounting::QueuedMessageReport report;
  report.type = "SMSIN";
  report.from = m.Sender;
  report.to = m.PhoneNumber;
  report.message_id = message_id;
  report.sender = m.Sender;
  report.binary = m.Binary;
  report.pid = m.pid;
  report.dcs = m.dcs;
  report.udh = m.UDH;
  report.data = m.Data;
  report.service_type = m.ServiceType;
  report.route = m.ModemName;
  report.smpp_options = m.SMPPOptions;
  accounting::reportQueuedMessage(report);
}

// What became of a receipt once worked.
enum class Handled { kComplete, kSetAsideSms, kSetAsideBad, kHandBack };

// The receipt written again for the inbound threads: an ordinary inbound
// file, its account kept, without the retry record of the receipt thread.
bool handBack(const queue::SMSMessage& resolved, bool translated, const std::string& path) {
  queue::SMSMessage m = resolved;
  m.Inbound = true;
  m.HasErrorDetail = false;
  m.RetryCount = 0;
  m.LastRetryTime = {};
  m.FirstAttemptTime = {};
  const InboundKind kind =
      translated && !m.ReceiptMessageId.empty() ? InboundKind::kReceipt : InboundKind::kMessage;
  auto written = queue::CreateQueueFile(newInboundFileDirectory(), extensionOf(kind),
                                        queue::formatSMSMessage(m));
  if (!written.ok()) {
    foundation::DebugLogf(kTag, "Unable to hand %s back to the inbound threads: %s", path.c_str(),
                          written.status().message().c_str());
    return false;
  }
  inboundFileWritten(kind);
  foundation::DebugLogf(kTag, "%s handed back as %s", path.c_str(), written->c_str());
  return true;
}

Handled deliver(queue::SMSMessage& msg, const std::string& path, platform::SystemTime modified,
                TwoWayRunner& two_way) {
  reportReceived(msg, messageIdOf(path));
  const std::string user = InboundRouting(msg.PhoneNumber, msg.ServiceType, msg.RouteToLocalUser);
  if (!user.empty()) {
    if (!RouteInboundToLocalUser(msg, user, path).ok()) return Handled::kHandBack;
    if (!inboundDirectoryTarget(user) && smsgwYes("DuplicateUserMessagesFor2Way")) {
      queue::SMSMessage copy = msg;
      copy.DuplicateMessageFor2Way = true;
      if (!RouteInboundToLocalUser(copy, kInboundDirectoryUser, path).ok())
        foundation::DebugLogf(kTag, "The two-way copy of %s was not written", path.c_str());
    }
    return Handled::kComplete;
  }
  binaryToText(&msg);
  switch (two_way.run(msg, platform::baseName(path), modified, msg.ReceiptMessageId)) {
    case TwoWayResult::kDone:
      return Handled::kComplete;
    case TwoWayResult::kNoCommand:
      return Handled::kSetAsideSms;
    case TwoWayResult::kErrorStatus:
      return Handled::kSetAsideBad;
    case TwoWayResult::kFailed:
    case TwoWayResult::kUnreachable:
      return Handled::kHandBack;
  }
  return Handled::kHandBack;
}

}  // namespace

std::optional<hostlib::MessageIdRecord> findReceiptOriginal(std::string_view link,
                                                            std::string_view receipt_id) {
  if (auto found = hostlib::SMSCMessageIdGet2(link, receipt_id)) return found;
  if (foundation::linkKind(link) == foundation::LinkKind::kHttp &&
      !platform::equalsNoCase(link, kSharedHttpLinkName))
    return hostlib::SMSCMessageIdGet2(kSharedHttpLinkName, receipt_id);
  return std::nullopt;
}

std::string replaceReceiptTextId(std::string_view text, std::string_view id) {
  if (!platform::startsWithNoCase(text, "id:")) return std::string(text);
  size_t end = 3;
  while (end < text.size() && static_cast<unsigned char>(text[end]) > ' ') ++end;
  return std::string(text.substr(0, 3)) + std::string(id) + std::string(text.substr(end));
}

void translateReceipt(queue::SMSMessage* msg, const hostlib::MessageIdRecord& original) {
  msg->ReceiptMessageId = original.local_id;
  if (!original.recipient.empty()) msg->PhoneNumber = original.recipient;
  if (!original.sender.empty()) msg->Sender = original.sender;
  if (!original.account.empty()) msg->RouteToLocalUser = original.account;
  if (!msg->Binary) msg->Data = replaceReceiptTextId(msg->Data, original.local_id);
}

ReceiptPass ReceiptWorker::runPass() {
  ReceiptPass pass;
  const std::string dir = foundation::inboundDirectory();
  queue::QueueScan scan(dir, "*.RCT", false);
  std::string relative;
  while (!platform::shutdownRequested() && scan.next(&relative)) workFile(dir, relative, &pass);
  return pass;
}

void ReceiptWorker::workFile(const std::string& directory, const std::string& relative,
                             ReceiptPass* pass) {
  const std::string path = directory + relative;
  auto claimed = platform::claimFile(path);
  if (!claimed.ok()) {
    ++pass->skipped;
    return;
  }
  platform::UniqueFd fd = std::move(claimed.value());
  const auto info = platform::statFd(fd.get());
  const platform::SystemTime modified = info ? info->modified : platform::clock().now();
  auto text = platform::readAll(fd.get(), kMaxReceiptFile);
  if (!text.ok()) {
    foundation::DebugLogf(kTag, "Unable to read %s: %s", path.c_str(),
                          text.status().message().c_str());
    if (text.status().code() == EFBIG && moveAside(kTag, path, relative))
      ++pass->set_aside;
    else
      ++pass->skipped;
    return;
  }
  queue::SMSMessage msg;
  queue::parseSMSMessage(*text, &msg);
  if (msg.Sender.empty() && msg.PhoneNumber.empty()) {
    (void)platform::releaseClaimedFile(path, std::move(fd));
    foundation::DebugLogf(kTag, "Processing complete (empty) %s...", path.c_str());
    inboundFileFinished();
    ++pass->completed;
    return;
  }
  if (msg.RetryCount > 0 && !queue::MinutesElapsed(msg.RetryCount, msg.LastRetryTime)) {
    ++pass->skipped;
    return;
  }

  bool translated = false;
  if (!msg.ReceiptMessageId.empty()) {
    if (auto original = findReceiptOriginal(msg.ModemName, msg.ReceiptMessageId)) {
      translateReceipt(&msg, *original);
      translated = true;
    } else {
      foundation::DebugLogf(kTag, "Receipt message id = %s not in database for %s",
                            platform::singleLine(msg.ReceiptMessageId).c_str(),
                            platform::singleLine(msg.ModemName).c_str());
      if (msg.RetryCount < kReceiptLookupRetries) {
        queue::ErrorDetail detail;
        detail.RetryCount = msg.RetryCount + 1;
        detail.LastRetryTime = queue::requestTimeNow();
        platform::Status st = queue::rewriteErrorDetail(fd.get(), detail);
        if (!st.ok()) {
          foundation::DebugLogf(kTag, "Unable to note the retry in %s: %s", path.c_str(),
                                st.message().c_str());
        }
        ++pass->retried;
        return;
      }
    }
  }

  const Handled handled = deliver(msg, path, modified, two_way_);
  bool finished = true;
  switch (handled) {
    case Handled::kComplete:
      ++pass->completed;
      break;
    case Handled::kSetAsideSms:
    case Handled::kSetAsideBad: {
      queue::SMSMessage kept = msg;
      kept.HasErrorDetail = false;
      finished = copyAside(kTag, relative, queue::formatSMSMessage(kept), modified,
                           handled == Handled::kSetAsideSms ? ".SMS" : ".BAD");
      if (finished) ++pass->set_aside;
      break;
    }
    case Handled::kHandBack:
      finished = handBack(msg, translated, path);
      if (finished) ++pass->handed_back;
      break;
  }
  if (!finished) {
    ++pass->skipped;
    return;
  }
  (void)platform::releaseClaimedFile(path, std::move(fd));
  inboundFileFinished();
}

void ThreadProcessInboundReceipts(int) {
  ReceiptWorker worker;
  while (!platform::shutdownRequested()) {
    try {
      (void)worker.runPass();
    } catch (const std::exception& e) {
      // The files stay for the next pass; the thread stays, or receipts
      // would pile up unworked.
      foundation::DebugLogf(kTag, "Pass ended by %s", e.what());
    }
    worker.closeIdleConnection();
    receiptEvent().wait(kPassWait);
  }
}

}  // namespace vek::inbound
