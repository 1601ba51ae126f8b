#include "links/sender_thread.h"

#include <fcntl.h>

#include <algorithm>
#include <charconv>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/link_name.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "links/async_window.h"
#include "links/hand_off.h"
#include "links/link_reporting.h"
#include "links/link_sender.h"
#include "links/outcome.h"
#include "links/segment_lock.h"
#include "links/text_link.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "protocols/smpp/client.h"
#include "queue/link_status.h"
#include "queue/retry_policy.h"
#include "queue/route_selection.h"

namespace vek::links {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kBackupCheck = seconds(2);
constexpr auto kWaitSlice = milliseconds(250);
constexpr auto kStopBound = seconds(15);
// Consecutive failures after which the link-down alert is raised.
constexpr uint64_t kDownAfter = 2;

const char* kindLabel(foundation::LinkKind kind) {
  switch (kind) {
    case foundation::LinkKind::kSmpp:
      return "SMPP";
    case foundation::LinkKind::kUcp:
      return "UCP";
    case foundation::LinkKind::kCimd:
      return "CIMD";
    default:
      return foundation::linkKindName(kind);
  }
}

std::string genericErrorText(uint32_t code) {
  return platform::format("Error %u", code);
}

ErrorTextFn errorTextFor(foundation::LinkKind kind) {
  switch (kind) {
    case foundation::LinkKind::kSmpp:
      return &smpp::SMPPErrorText;
    case foundation::LinkKind::kUcp:
      return &ucpLinkErrorText;
    case foundation::LinkKind::kCimd:
      return &cimdLinkErrorText;
    default:
      return &genericErrorText;
  }
}

int asyncCallbackThreads() {
  int32_t n = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", "AsyncCallbackThreads"));
  return std::clamp<int32_t>(n, 1, 64);
}

bool smsgwFlag(std::string_view key, bool def) {
  std::string v = hostlib::SMSIniGetProfileString("SMSGW", key, "", 10);
  return v.empty() ? def : foundation::yesNo(v);
}

class SenderThread {
 public:
  SenderThread(ThreadArgument arg, platform::UniqueFd marker)
      : arg_(std::move(arg)), marker_(std::move(marker)) {}

  void run() {
    if (!marker_.valid()) {
      auto fd = platform::openLocked(arg_.marker, O_RDWR | O_CREAT, 0600);
      if (!fd.ok()) return;
      marker_ = std::move(fd.value());
    }
    link_ = foundation::linkNameOf(arg_.link);
    if (!link_.empty()) body();
    (void)platform::removeFile(arg_.marker);
    marker_.reset();
  }

 private:
  void body() {
    proto_ = makeLinkProtocol(link_);
    if (!proto_) {
      idleUntilRemoved();
      return;
    }
    proto_->loadSettings();
    label_ = kindLabel(proto_->kind());
    locks_ = std::make_shared<SegmentLocks>(link_);
    outcomes_ = std::make_shared<Outcomes>(link_, proto_->kind(), locks_);
    window_ = std::make_unique<AsyncWindow>(outcomes_, errorTextFor(proto_->kind()));

    RolePlan plan = planRole(proto_->knobs(), arg_.instance);
    if (plan.stop) {
      foundation::DebugLog(link_, "Stopping transmitter");
      return;
    }
    registerReceiveCallback(link_);
    if (plan.role == LinkRole::kReceiveOnly) foundation::DebugLog(link_, "Receive only connection");
    if (plan.start_receiver) {
      startReceiverConnection(link_, arg_.link, arg_.instance);
      receivers_started_ = true;
    }
    const bool windowed = proto_->knobs().window > 0;
    if (windowed && smsgwFlag("AsyncReceiveMessages", false)) {
      receivers_started_ = true;
      if (!startAsyncReceiveWorkers(link_, arg_.instance, asyncCallbackThreads()))
        foundation::DebugLog(link_, "Asynchronous receive workers did not report ready");
    }
    if (windowed && foundation::settings()->SmppSubmitAsyncHelperThread)
      window_->startHelpers(asyncCallbackThreads(), link_);

    while (!platform::shutdownRequested() && !gone_) {
      if (!waitForPrimary()) break;
      connectionLoop(plan);
      if (stopping()) break;
      // A stand-down (backup) or a role change: plan again with the settings in force.
      plan = planRole(proto_->knobs(), arg_.instance);
      if (plan.stop) {
        foundation::DebugLog(link_, "Stopping transmitter");
        break;
      }
    }
    if (receivers_started_ && !stopReceivers(link_, arg_.instance, kStopBound))
      foundation::DebugLog(link_, "Receivers did not stop in time");
    if (!window_->stopHelpers(kStopBound))
      foundation::DebugLog(link_, "Result helpers did not stop in time");
  }

  bool stopping() const { return platform::shutdownRequested() || gone_ || role_stop_; }

  void idleUntilRemoved() {
    foundation::DebugLogf(link_, "No sender for %s links in this version; the link stays idle",
                          foundation::linkKindName(foundation::linkKind(link_)));
    while (platform::sleepFor(seconds(1))) {
      if (!platform::equalsNoCase(foundation::linkNameOf(arg_.link), link_)) return;
    }
  }

  std::string backupTarget() const {
    auto table = queue::routeTable();
    int l = table->find(link_);
    if (l >= 0) return table->links[static_cast<size_t>(l)].backup_for;
    return std::string(foundation::stripModemSectionPrefix(hostlib::SMSIniGetProfileString(
        foundation::linkSectionName(link_), "BackupForRoute", "", 150)));
  }

  // Backup links wait here until their primary is down. False on stop.
  bool waitForPrimary() {
    backup_ = backupTarget();
    if (backup_.empty()) return true;
    foundation::DebugLogf(link_, "Route %s is a backup for %s", link_.c_str(), backup_.c_str());
    while (!queue::primaryDown(*queue::routeTable(), backup_)) {
      if (!platform::sleepFor(kBackupCheck)) return false;
      if (!platform::equalsNoCase(foundation::linkNameOf(arg_.link), link_)) {
        gone_ = true;
        return false;
      }
    }
    foundation::DebugLogf(link_, "Activating backup route %s for %s", link_.c_str(),
                          backup_.c_str());
    return true;
  }

  void connectionFailed(const std::string& failure) {
    writeSystemLog(link_, failure);
    foundation::DebugLog(link_, failure);
    (void)queue::setLinkStatus(link_, failure);
    ++failures_;
    if (failures_ > kDownAfter && !down_alert_) {
      alertError(linkDownAlertText(proto_->knobs().common.RouteName, link_));
      down_alert_ = true;
    }
  }

  void loggedIn() {
    const std::string ok = std::string(label_) + " connection OK";
    foundation::DebugLog(link_, ok);
    writeSystemLog(link_, ok);
    (void)queue::clearLinkStatus(link_);
    if (down_alert_) {
      alertInformation(linkRestoredAlertText(proto_->knobs().common.RouteName, link_));
      down_alert_ = false;
    }
    failures_ = 0;
  }

  // Waits for the next connection attempt. False on stop; a settings change
  // ends the wait at once (with the new settings loaded).
  bool reconnectWait() {
    if (failures_ == 0) return true;
    int64_t next = queue::NextConnectTime(failures_, link_);
    if (const int32_t cap = proto_->knobs().max_reconnect_wait_s; cap > 0)
      next = std::min<int64_t>(next, platform::unixNow() + cap);
    auto last_check = platform::monotonicNow();
    while (platform::unixNow() < next) {
      if (!platform::sleepFor(kWaitSlice)) return false;
      if (platform::monotonicNow() - last_check < seconds(1)) continue;
      last_check = platform::monotonicNow();
      if (settingsChanged()) return !gone_;
    }
    return true;
  }

  // The reload check while not connected. True when the settings changed
  // (they are then loaded afresh).
  bool settingsChanged() {
    if (!proto_->reloadNeeded(arg_.link)) return false;
    if (arg_.link > 0 && !platform::equalsNoCase(foundation::linkNameOf(arg_.link), link_)) {
      gone_ = true;
      return true;
    }
    proto_->loadSettings();
    return true;
  }

  void connectionLoop(const RolePlan& plan) {
    const std::string root = platform::withTrailingSlash(foundation::queueDirectory());
    RolePlan current = plan;
    while (!stopping()) {
      if (!reconnectWait() || stopping()) return;
      std::string failure;
      if (!proto_->open(current.role, &failure)) {
        connectionFailed(failure);
        continue;
      }
      loggedIn();
      LinkSender::Options o;
      o.queue_root = root;
      o.link_number = arg_.link;
      o.role = current.role;
      if (!backup_.empty()) {
        std::string target = backup_;
        o.stand_down = [target] { return !queue::primaryDown(*queue::routeTable(), target); };
      }
      ConnectionEnd end;
      {
        LinkSender sender(*proto_, outcomes_, *locks_, *window_, state_, o);
        end = sender.run();
        sender.finish(end);
      }
      switch (end) {
        case ConnectionEnd::kConnectionError:
          // A connection that ended after its login counts as the first failure.
          failures_ = 1;
          foundation::DebugLogf(link_, "%s connection lost", label_);
          break;
        case ConnectionEnd::kLinkGone:
          gone_ = true;
          return;
        case ConnectionEnd::kReload: {
          proto_->loadSettings();
          RolePlan next = planRole(proto_->knobs(), arg_.instance);
          if (next.stop || next.role != current.role) {
            role_stop_ = next.stop;
            return;
          }
          break;
        }
        case ConnectionEnd::kStandDown:
          return;
        default:
          return;  // stop
      }
    }
  }

  ThreadArgument arg_;
  platform::UniqueFd marker_;
  std::string link_;
  const char* label_ = "";
  std::string backup_;
  std::unique_ptr<LinkProtocol> proto_;
  // Shared with the outcomes, which result helpers may hold a little longer.
  std::shared_ptr<SegmentLocks> locks_;
  std::shared_ptr<Outcomes> outcomes_;
  std::unique_ptr<AsyncWindow> window_;
  SenderState state_;
  uint64_t failures_ = 0;
  bool down_alert_ = false;
  bool gone_ = false;
  bool role_stop_ = false;
  bool receivers_started_ = false;
};

}  // namespace

bool parseThreadArgument(std::string_view text, ThreadArgument* out) {
  size_t second = text.rfind(',');
  if (second == std::string_view::npos || second == 0) return false;
  size_t first = text.rfind(',', second - 1);
  if (first == std::string_view::npos) return false;
  std::string_view link = platform::trim(text.substr(first + 1, second - first - 1));
  std::string_view instance = platform::trim(text.substr(second + 1));
  unsigned l = 0;
  int i = 0;
  auto r1 = std::from_chars(link.data(), link.data() + link.size(), l);
  auto r2 = std::from_chars(instance.data(), instance.data() + instance.size(), i);
  if (r1.ec != std::errc() || r1.ptr != link.data() + link.size()) return false;
  if (instance.empty()) {
    i = 0;
  } else if (r2.ec != std::errc() || r2.ptr != instance.data() + instance.size() || i < 0) {
    return false;
  }
  out->marker = std::string(text.substr(0, first));
  out->link = l;
  out->instance = i;
  return !out->marker.empty();
}

RolePlan planRole(const LinkKnobs& k, int instance) {
  RolePlan p;
  if (std::max(k.transmitters, k.receivers) < instance) {
    p.stop = true;
    return p;
  }
  if (k.single_connection) {
    p.role = LinkRole::kTransceiver;
    return p;
  }
  if (instance > k.transmitters) {
    p.role = LinkRole::kReceiveOnly;
    return p;
  }
  p.role = LinkRole::kTransmitter;
  p.start_receiver = instance == 0 || instance <= k.receivers;
  return p;
}

void ThreadProcessModem(const std::string& argument, platform::UniqueFd marker) {
  ThreadArgument arg;
  if (!parseThreadArgument(argument, &arg)) {
    foundation::DebugLogf("ThreadProcessModem", "Bad thread argument %s", argument.c_str());
    return;
  }
  SenderThread(std::move(arg), std::move(marker)).run();
}

}  // namespace vek::links
