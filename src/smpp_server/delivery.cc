#include "smpp_server/delivery.h"

#include <algorithm>

#include "foundation/debug_log.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "protocols/libraries/smpp_library.h"
#include "protocols/smpp/status_codes.h"
#include "queue/queue_claim.h"
#include "queue/queue_scan.h"
#include "queue/request_writer.h"
#include "reporting/counters.h"

namespace vek::smpp_server {
namespace {

using foundation::DebugLogf;
namespace status = smpp::status;

constexpr const char* kTag = "SMPPServerDeliver";
constexpr const char* kQueueTag = "SMPPServerAsyncQ";
constexpr const char* kRetryLinkName = "SMPPServer";
// The longest single wait for room in the window; answers end it early.
constexpr std::chrono::milliseconds kRoomWait{200};

void appendParam(std::string* out, std::string_view text) {
  if (text.empty()) return;
  if (!out->empty()) out->append("; ");
  out->append(text);
}

}  // namespace

// One delivery in flight: the claimed file and what its answer needs.
struct Deliverer::Pending : smpp::AsyncSubmit {
  queue::QueueClaim claim;
  uint32_t retry_count = 0;
  std::string name;
};

Verdict verdictFor(uint32_t result) {
  if (result == status::kOk) return Verdict::kDelivered;
  if (result == status::kMsgQFul || result == status::kThrottled || status::isLocal(result))
    return Verdict::kRetryLater;
  if (result == status::kSysErr || result == status::kRxTAppn) return Verdict::kRetry;
  return Verdict::kFailed;
}

std::string deliveryParams(const queue::SMSMessage& msg) {
  std::string params;
  const bool receipt = (msg.MessageFlags & queue::kFlagIsReceipt) && !msg.ReceiptMessageId.empty();
  if (!receipt) {
    appendParam(&params, msg.SMPPOptions);
  } else {
    // A receipt from a link keeps the centre's receipted_message_id among
    // its options; an option given by name would replace the id the engine
    // puts there, and the client knows the message by the gateway's id.
    for (const auto& item : platform::split(msg.SMPPOptions, ";")) {
      std::string_view it = platform::trim(item);
      std::string_view key = platform::trim(it.substr(0, it.find('=')));
      if (!platform::equalsNoCase(key, "SMPPOption_receipted_message_id")) appendParam(&params, it);
    }
  }
  if (!msg.ServiceType.empty()) appendParam(&params, "ServiceType=" + msg.ServiceType);
  const std::string& route = !msg.SMSCRoute.empty() ? msg.SMSCRoute : msg.ModemName;
  if (!route.empty()) appendParam(&params, "SMSCRouteInfo=" + route);
  if (receipt) appendParam(&params, "ReceiptMessageId=" + msg.ReceiptMessageId);
  return params;
}

Deliverer::Deliverer(smpp::ServerConnection& conn, DeliveryOptions options)
    : conn_(conn), options_(std::move(options)) {}

Deliverer::~Deliverer() {
  // Whatever is still owed an answer is kept for a retry.
  finish(std::chrono::milliseconds(0));
}

Verdict Deliverer::settle(Pending& p, uint32_t result) {
  const Verdict v = verdictFor(result);
  switch (v) {
    case Verdict::kDelivered:
      if (auto st = p.claim.release(); !st.ok())
        DebugLogf(kTag, "%s delivered, but not deleted: %s", p.name.c_str(), st.message().c_str());
      ++counts_.delivered;
      break;
    case Verdict::kRetry:
    case Verdict::kRetryLater: {
      std::string error = smpp::SMPPErrorText(result);
      if (auto st = queue::recordRetry(p.claim, p.retry_count, error, kRetryLinkName); !st.ok())
        DebugLogf(kTag, "Retry record for %s not written: %s", p.name.c_str(),
                  st.message().c_str());
      ++counts_.retried;
      break;
    }
    case Verdict::kFailed: {
      if (auto st = queue::KeepErrorCopy(p.claim.fd(), p.claim.path()); !st.ok())
        DebugLogf(kTag, "Error copy of %s not written: %s", p.name.c_str(), st.message().c_str());
      DebugLogf(kTag, "Delivery of %s to %s failed: %s", p.name.c_str(), options_.account.c_str(),
                smpp::SMPPErrorText(result).c_str());
      reporting::addToCounter(reporting::Counter::kFailed);
      (void)p.claim.release();
      ++counts_.failed;
      break;
    }
  }
  p.claim = queue::QueueClaim();
  return v;
}

void Deliverer::collect() {
  auto done = std::stable_partition(outstanding_.begin(), outstanding_.end(),
                                    [](const auto& p) { return !p->answered(); });
  for (auto it = done; it != outstanding_.end(); ++it) {
    if (settle(**it, (*it)->result()) == Verdict::kRetryLater) busy_ = true;
  }
  outstanding_.erase(done, outstanding_.end());
}

bool Deliverer::waitForRoom(platform::SteadyTime deadline) {
  const auto& lib = smpp::smppLibrary();
  while (outstanding_.size() >= static_cast<size_t>(options_.window)) {
    if (platform::shutdownRequested() || busy_) return false;
    auto now = platform::monotonicNow();
    if (now >= deadline) return false;
    auto wait =
        std::min(kRoomWait, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
    bool error = false;
    lib.SMPPServerYield(conn_, options_.version, wait, &error);
    collect();
    if (error) return false;
  }
  return !busy_;
}

bool Deliverer::deliverOne(const std::string& relative) {
  auto claimed = queue::QueueClaim::claim(options_.queue_directory, relative);
  if (!claimed.ok()) return true;  // held by another connection of the account, or gone
  auto p = std::make_shared<Pending>();
  p->claim = std::move(*claimed);
  p->name = relative;
  queue::SMSMessage msg;
  if (!p->claim.load(&msg)) return true;  // may read fine next time: left alone
  p->retry_count = msg.RetryCount;
  if (msg.HasErrorDetail &&
      msg.RetryCount > static_cast<uint32_t>(std::max(retry_.RetryMaxAttempts, 0))) {
    DebugLogf(kTag, "%s retried %u times", relative.c_str(), msg.RetryCount);
    settle(*p, status::kDeliveryFailure);
    return true;
  }
  if (msg.HasErrorDetail && !queue::RetryDue(msg.RetryCount, msg.LastRetryTime, retry_))
    return true;

  const auto& lib = smpp::smppLibrary();
  const std::string params = deliveryParams(msg);
  const bool windowed = options_.window > 0 && lib.SMPPServerSubmitMessageNew != nullptr;
  if (!windowed) {
    uint32_t st = lib.SMPPServerSubmitMessage(conn_, options_.version, msg.Sender, msg.PhoneNumber,
                                              msg.pid, msg.dcs, msg.UDH, msg.Data, msg.MessageFlags,
                                              msg.Binary, params);
    return settle(*p, st) != Verdict::kRetryLater;
  }
  uint32_t st = lib.SMPPServerSubmitMessageNew(conn_, options_.version, msg.Sender, msg.PhoneNumber,
                                               msg.pid, msg.dcs, msg.UDH, msg.Data,
                                               msg.MessageFlags, msg.Binary, params, p);
  if (st != status::kOk) return settle(*p, st) != Verdict::kRetryLater;
  outstanding_.push_back(std::move(p));
  if (foundation::debugEnabled()) DebugLogf(kQueueTag, "Depth %zu", outstanding_.size());
  return true;
}

bool Deliverer::pass(platform::SteadyTime deadline) {
  retry_ = queue::loadRetrySettings("");
  busy_ = false;
  collect();
  queue::QueueScan scan(options_.queue_directory, "*.REQ");
  std::string relative;
  while (scan.next(&relative)) {
    if (platform::shutdownRequested() || !conn_.bound()) return false;
    if (platform::monotonicNow() >= deadline) return true;
    if (options_.window > 0 && !waitForRoom(deadline)) {
      collect();
      return !busy_ && conn_.bound() && platform::monotonicNow() >= deadline;
    }
    if (!deliverOne(relative) || busy_) return false;
  }
  return false;
}

void Deliverer::finish(std::chrono::milliseconds bound) {
  const auto& lib = smpp::smppLibrary();
  const auto deadline = platform::monotonicNow() + bound;
  collect();
  while (!outstanding_.empty() && conn_.bound() && platform::monotonicNow() < deadline) {
    bool error = false;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - platform::monotonicNow());
    lib.SMPPServerYield(conn_, options_.version, std::min(left, kRoomWait), &error);
    collect();
    if (error) break;
  }
  collect();
  // No answer will come for the rest: they stay queued.
  for (auto& p : outstanding_) settle(*p, status::kConnectionLost);
  outstanding_.clear();
}

}  // namespace vek::smpp_server
