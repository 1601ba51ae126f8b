#include "inbound/inbound_worker.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>

#include "encoding/dcs.h"
#include "encoding/shift_tables.h"
#include "encoding/user_data_header.h"
#include "encoding/utf8.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/link_name.h"
#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "inbound/inbound_queue.h"
#include "inbound/inbound_retry.h"
#include "inbound/inbound_routing.h"
#include "inbound/local_accounts.h"
#include "inbound/local_user.h"
#include "inbound/set_aside.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/inbound_segments.h"
#include "queue/queue_scan.h"
#include "queue/request_writer.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kTag = "ThreadProcessInboundSMS";
constexpr uint16_t kWapPushPort = 2948;
constexpr std::chrono::milliseconds kIdleWait{5000};
constexpr std::chrono::milliseconds kReceiveOffWait{1000};
// Inbound files are a few hundred bytes; anything far larger is no
// message this gateway wrote, and is given up rather than read whole.
constexpr size_t kMaxInboundFile = 1u << 20;
constexpr int kMaxThreadPairs = 32;

bool yes(std::string_view section, std::string_view key, std::string_view def = {}) {
  return foundation::yesNo(hostlib::SMSIniGetProfileString(section, key, def));
}

// `ReceiveMMS` of the receiving link's section, else of SMSGW.
bool linkReceivesMMS(const std::string& link) {
  std::string v;
  if (!link.empty())
    v = platform::trim(
        hostlib::SMSIniGetProfileString(foundation::linkSectionName(link), "ReceiveMMS"));
  if (v.empty()) v = hostlib::SMSIniGetProfileString("SMSGW", "ReceiveMMS", "No");
  return foundation::yesNo(v);
}

}  // namespace

void binaryToText(queue::SMSMessage* msg) {
  if (!msg->Binary) return;
  if (encoding::DCSIsGSM7Bit(msg->dcs)) {
    msg->Data = encoding::GSM7ToUTF8String(msg->UDH, msg->Data);
  } else if (encoding::DCSIsUCS2(msg->dcs)) {
    msg->Data = encoding::UCS2HexToUTF8(msg->Data);
  } else {
    return;
  }
  msg->Binary = false;
}

InboundWorker::InboundWorker(int kind, TwoWayOptions two_way)
    : kind_(kind), pattern_(kind == kInboundReceipts ? "*.REC" : "*.IN"), two_way_(two_way) {}

PassResult InboundWorker::runPass() {
  PassResult result;
  if (!yes("SMSGW", "ReceiveSMS")) {
    result.receiving = false;
    return result;
  }
  const bool debug2 = foundation::debug2Enabled();
  if (debug2) foundation::DebugLog(kTag, "Begin scan loop");
  const std::string dir = foundation::inboundDirectory();
  queue::QueueScan scan(dir, pattern_, false);
  std::string relative;
  while (!platform::shutdownRequested() && scan.next(&relative)) workFile(dir, relative, &result);
  if (debug2) foundation::DebugLog(kTag, "End scan loop");
  if (kind_ == kInboundMessagesAndJoining && !platform::shutdownRequested()) {
    result.joined = queue::RecombineSARMessages(dir).joined;
    for (unsigned i = 0; i < result.joined; ++i) inboundFileWritten(InboundKind::kMessage);
  }
  return result;
}

void InboundWorker::workFile(const std::string& directory, const std::string& relative,
                             PassResult* result) {
  const std::string path = directory + relative;
  auto claimed = platform::claimFile(path);
  if (!claimed.ok()) {
    ++result->skipped;
    return;
  }
  platform::UniqueFd fd = std::move(claimed.value());
  const auto info = platform::statFd(fd.get());
  const platform::SystemTime modified = info ? info->modified : platform::clock().now();

  auto text = platform::readAll(fd.get(), kMaxInboundFile);
  if (!text.ok()) {
    foundation::DebugLogf(kTag, "Unable to read %s: %s", path.c_str(),
                          text.status().message().c_str());
    if (text.status().code() == EFBIG && moveAside(kTag, path, relative))
      ++result->set_aside;
    else
      ++result->skipped;
    return;
  }
  queue::SMSMessage msg;
  queue::parseSMSMessage(*text, &msg);
  if (msg.Sender.empty() && msg.PhoneNumber.empty()) {
    (void)platform::releaseClaimedFile(path, std::move(fd));
    foundation::DebugLogf(kTag, "Processing complete (empty) %s...", path.c_str());
    inboundFileFinished();
    ++result->completed;
    return;
  }
  Outcome outcome = workMessage(msg, *text, path, directory, modified);
  if (outcome == Outcome::kNotDue) {
    ++result->skipped;
    return;
  }
  if (outcome == Outcome::kFailed || outcome == Outcome::kFailedNoLimit) {
    const InboundRetryPolicy policy = InboundRetryPolicy::fromConfig();
    if (outcome == Outcome::kFailedNoLimit || !policy.exhausted(msg.RetryCount)) {
      queue::ErrorDetail detail;
      detail.RetryCount = msg.RetryCount + 1;
      detail.LastRetryTime = queue::requestTimeNow();
      platform::Status st = queue::rewriteErrorDetail(fd.get(), detail);
      if (!st.ok()) {
        foundation::DebugLogf(kTag, "Unable to note the retry in %s: %s", path.c_str(),
                              st.message().c_str());
      }
      foundation::DebugLogf(kTag, "Processing incomplete %s...", path.c_str());
      ++result->retried;
      return;
    }
    outcome = Outcome::kGiveUp;
  }
  if (outcome == Outcome::kComplete) {
    (void)platform::releaseClaimedFile(path, std::move(fd));
    foundation::DebugLogf(kTag, "Processing complete %s...", path.c_str());
    inboundFileFinished();
    ++result->completed;
    return;
  }
  const char* extension = outcome == Outcome::kGiveUp ? ".BAD" : ".SMS";
  if (!copyAside(kTag, relative, *text, modified, extension)) {
    ++result->skipped;
    return;
  }
  (void)platform::releaseClaimedFile(path, std::move(fd));
  foundation::DebugLogf(kTag, "Set aside %s as %s", path.c_str(), extension);
  inboundFileFinished();
  ++result->set_aside;
}

InboundWorker::Outcome InboundWorker::workMessage(queue::SMSMessage& msg, const std::string& text,
                                                  const std::string& path,
                                                  const std::string& directory,
                                                  platform::SystemTime modified) {
  if (msg.RetryCount > 0 && !InboundRetryPolicy::fromConfig().due(msg.RetryCount, msg.LastRetryTime,
                                                                  platform::clock().now())) {
    return Outcome::kNotDue;
  }
  if (msg.dcs == 0x11 || msg.dcs == 0xF1) msg.dcs = 0;
  const encoding::InboundHeader header = encoding::parseInboundHeader(msg.UDH);
  const bool mms_push = header.has_destination_port && header.destination_port == kWapPushPort &&
                        linkReceivesMMS(msg.ModemName);

  const bool addressed = !msg.PhoneNumber.empty() || !msg.RouteToLocalUser.empty();
  if (!mms_push && addressed && !msg.DuplicateMessageFor2Way) {
    const std::string user = InboundRouting(msg.PhoneNumber, msg.ServiceType, msg.RouteToLocalUser);
    if (!user.empty()) {
      if (!RouteInboundToLocalUser(msg, user, path).ok()) return Outcome::kFailed;
      if (!inboundDirectoryTarget(user) && yes("SMSGW", "DuplicateUserMessagesFor2Way")) {
        queue::SMSMessage copy = msg;
        copy.DuplicateMessageFor2Way = true;
        // The account has the message; a missing copy only costs the
        // two-way run, and retrying would hand the account a second one.
        if (!RouteInboundToLocalUser(copy, kInboundDirectoryUser, path).ok())
          foundation::DebugLogf(kTag, "The two-way copy of %s was not written", path.c_str());
      }
      return Outcome::kComplete;
    }
  }

  switch (queue::StoreInboundSegment(directory, msg, text,
                                     queue::InboundSegmentOptions::fromConfig())) {
    case queue::SegmentStore::kStored:
      return Outcome::kComplete;
    case queue::SegmentStore::kFailed:
      return Outcome::kFailed;
    case queue::SegmentStore::kBadHeader:
      foundation::DebugLogf(kTag, "Unreadable UDH in %s", path.c_str());
      return Outcome::kGiveUp;
    case queue::SegmentStore::kNotASegment:
      break;
  }

  if (header.has_destination_port) {
    foundation::DebugLogf(kTag, "UDH Dest Port = %u", header.destination_port);
  }
  binaryToText(&msg);
  const bool receipt = (msg.MessageFlags & queue::kFlagIsReceipt) != 0;
  switch (two_way_.run(msg, platform::baseName(path), modified,
                       receipt ? std::string_view(msg.ReceiptMessageId) : std::string_view())) {
    case TwoWayResult::kDone:
      return Outcome::kComplete;
    case TwoWayResult::kNoCommand:
      return Outcome::kSetAside;
    case TwoWayResult::kErrorStatus:
    case TwoWayResult::kFailed:
      return Outcome::kFailed;
    case TwoWayResult::kUnreachable:
      return Outcome::kFailedNoLimit;
  }
  return Outcome::kFailed;
}

void ThreadProcessInboundSMS(int kind) {
  InboundWorker worker(kind);
  platform::Event& wake =
      kind == kInboundReceipts ? foundation::inboundEventB() : foundation::inboundEventA();
  while (!platform::shutdownRequested()) {
    PassResult r;
    try {
      r = worker.runPass();
    } catch (const std::exception& e) {
      // A pass that failed leaves its files for the next one; the thread
      // stays, or inbound messages would pile up unworked.
      foundation::DebugLogf(kTag, "Pass ended by %s", e.what());
      r.receiving = false;
    }
    if (!r.receiving) {
      if (!platform::sleepFor(kReceiveOffWait)) break;
      continue;
    }
    worker.closeIdleConnection();
    if (r.finished() == 0) wake.wait(kIdleWait);
  }
}

int inboundThreadPairs() {
  std::string v(platform::trim(hostlib::SMSIniGetProfileString("SMSGW", "2WaySMSThreadCount")));
  int n = 0;
  if (!v.empty()) {
    n = foundation::number(v);
  } else if (!hostlib::SMSIniGetProfileString("SMSGW", "ReceiveSMSCommand1").empty()) {
    n = 2;
  }
  return std::clamp(n, 1, kMaxThreadPairs);
}

}  // namespace vek::inbound
