#include "links/smpp_receiver.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/debug_log.h"
#include "foundation/thread_registry.h"
#include "links/link_reporting.h"
#include "links/smpp_link.h"
#include "platform/clock.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "protocols/libraries/smpp_library.h"
#include "queue/retry_policy.h"

namespace vek::links {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr milliseconds kReceiveYield{1000};
constexpr milliseconds kWorkerWait{500};
constexpr milliseconds kWaitSlice{250};

// The threads of one link instance: a stop flag and a count of those running.
struct Group {
  std::atomic<bool> stop{false};
  std::mutex mu;
  std::condition_variable cv;
  int running = 0;

  void started() {
    std::scoped_lock lk(mu);
    ++running;
    cv.notify_all();
  }
  void ended() {
    std::scoped_lock lk(mu);
    --running;
    cv.notify_all();
  }
  bool waitRunning(int count, milliseconds bound) {
    std::unique_lock lk(mu);
    return platform::waitFor(lk, cv, bound, [&] { return running >= count; });
  }
  bool waitEnded(milliseconds bound) {
    std::unique_lock lk(mu);
    return platform::waitFor(lk, cv, bound, [&] { return running == 0; });
  }
  bool halted() const { return stop.load() || platform::shutdownRequested(); }
};

struct Registry {
  std::mutex mu;
  std::map<std::string, std::shared_ptr<Group>> receivers;
  std::map<std::string, std::shared_ptr<Group>> workers;
};

Registry& registry() {
  static Registry r;
  return r;
}

std::string keyOf(std::string_view link, int instance) {
  return platform::toLower(link) + "#" + std::to_string(instance);
}

// Removes `key` from `groups` and returns it (nullptr when absent).
std::shared_ptr<Group> take(std::map<std::string, std::shared_ptr<Group>>& groups,
                            const std::string& key) {
  auto it = groups.find(key);
  if (it == groups.end()) return nullptr;
  auto g = std::move(it->second);
  groups.erase(it);
  return g;
}

class Receiver {
 public:
  Receiver(std::string link, unsigned link_number, int instance, std::shared_ptr<Group> group)
      : link_(std::move(link)),
        link_number_(link_number),
        instance_(instance),
        group_(std::move(group)),
        smpp_(link_) {}

  void run() {
    smpp_.useReceiverPort();
    smpp_.loadSettings();
    uint64_t failures = 0;
    while (!group_->halted()) {
      if (failures > 0 && !reconnectWait(failures)) break;
      if (beyondCount()) break;
      std::string failure;
      if (!smpp_.open(LinkRole::kReceiveOnly, &failure)) {
        foundation::DebugLog(link_, failure);
        writeSystemLog(link_, failure);
        ++failures;
        continue;
      }
      foundation::DebugLog(link_, "SMPP receiver connection OK");
      failures = 0;
      bool broken = false;
      bool end = serve(&broken);
      smpp_.close(!broken);
      if (broken) {
        foundation::DebugLog(link_, "SMPP receiver connection lost");
        failures = 1;
      }
      if (end) break;
    }
    smpp_.close(true);
  }

 private:
  bool beyondCount() const {
    if (instance_ > 0 && smpp_.knobs().receivers < instance_) {
      foundation::DebugLog(link_, "Stopping receiver");
      return true;
    }
    return false;
  }

  // Yields to the bound connection until it breaks (*broken), the settings
  // call for a new connection, or a stop. True when the receiver ends.
  bool serve(bool* broken) {
    const auto& lib = smpp::smppLibrary();
    auto last_keep = platform::monotonicNow();
    while (!group_->halted()) {
      const int keep_alive = smpp_.knobs().keep_alive_s;
      if (keep_alive > 0 && platform::monotonicNow() - last_keep >= seconds(keep_alive)) {
        last_keep = platform::monotonicNow();
        if (smpp_.enquire() != 0) {
          *broken = true;
          return false;
        }
        if (smpp_.reloadNeeded(link_number_)) {
          smpp_.loadSettings();
          return beyondCount();
        }
      }
      if (lib.SMPPReceiveFromAsyncQ) (void)lib.SMPPReceiveFromAsyncQ(link_, milliseconds(0));
      bool lost = false;
      (void)smpp_.yield(kReceiveYield, &lost);
      if (lost || !smpp_.linkUp()) {
        *broken = true;
        return false;
      }
    }
    return true;
  }

  // The reconnect wait: false on stop. A settings change ends it early.
  bool reconnectWait(uint64_t failures) {
    const int64_t next = queue::NextConnectTime(failures, link_);
    auto last_check = platform::monotonicNow();
    while (platform::unixNow() < next) {
      if (!platform::sleepFor(kWaitSlice) || group_->halted()) return false;
      if (platform::monotonicNow() - last_check < seconds(1)) continue;
      last_check = platform::monotonicNow();
      if (smpp_.reloadNeeded(link_number_)) {
        smpp_.loadSettings();
        return true;
      }
    }
    return !group_->halted();
  }

  std::string link_;
  unsigned link_number_;
  int instance_;
  std::shared_ptr<Group> group_;
  SmppLink smpp_;
};

void workerBody(const std::string& link, const std::shared_ptr<Group>& group) {
  const auto& lib = smpp::smppLibrary();
  group->started();
  while (!group->halted() && lib.SMPPReceiveFromAsyncQ)
    (void)lib.SMPPReceiveFromAsyncQ(link, kWorkerWait);
  // Whatever is still queued for the link is stored before this worker
  // goes: the connections are closing, their answers are dropped, and the
  // centre delivers those messages again.
  group->ended();
}

}  // namespace

void startSmppReceiver(std::string_view link, unsigned link_number, int instance) {
  auto& r = registry();
  const std::string key = keyOf(link, instance);
  auto group = std::make_shared<Group>();
  {
    std::scoped_lock lk(r.mu);
    if (r.receivers.count(key)) return;
    r.receivers[key] = group;
  }
  group->started();  // counted from here, so that a stop waits for it
  auto receiver = std::make_shared<Receiver>(std::string(link), link_number, instance, group);
  bool ok = foundation::startWorkerThread(
      platform::format("SMPP receiver %s #%d", std::string(link).c_str(), instance),
      [receiver, group] {
        receiver->run();
        group->ended();
      });
  if (!ok) {
    foundation::DebugLog(std::string(link), "Error starting thread (SMPP receiver)");
    group->ended();
    std::scoped_lock lk(r.mu);
    if (r.receivers[key] == group) r.receivers.erase(key);
  }
}

bool startSmppReceiveWorkers(std::string_view link, int instance, int count,
                             milliseconds ready_bound) {
  auto& r = registry();
  const std::string key = keyOf(link, instance);
  auto group = std::make_shared<Group>();
  {
    std::scoped_lock lk(r.mu);
    if (r.workers.count(key)) return true;
    r.workers[key] = group;
  }
  const std::string name(link);
  int started = 0;
  for (int i = 0; i < count; ++i) {
    if (foundation::startWorkerThread(
            platform::format("SMPP receive worker %s #%d.%d", name.c_str(), instance, i + 1),
            [name, group] { workerBody(name, group); }))
      ++started;
    else
      foundation::DebugLog(name, "Error starting thread (SMPP receive worker)");
  }
  return started == count && group->waitRunning(count, ready_bound);
}

bool smppReceiveWorkersRunning(std::string_view link) {
  auto& r = registry();
  const std::string prefix = platform::toLower(link) + "#";
  std::scoped_lock lk(r.mu);
  for (auto it = r.workers.lower_bound(prefix);
       it != r.workers.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    std::scoped_lock glk(it->second->mu);
    if (it->second->running > 0) return true;
  }
  return false;
}

bool stopSmppReceivers(std::string_view link, int instance, milliseconds bound) {
  auto& r = registry();
  const std::string key = keyOf(link, instance);
  std::shared_ptr<Group> receiver, workers;
  {
    std::scoped_lock lk(r.mu);
    receiver = take(r.receivers, key);
    workers = take(r.workers, key);
  }
  bool ok = true;
  for (auto* g : {&receiver, &workers}) {
    if (!*g) continue;
    (*g)->stop = true;
    if (!(*g)->waitEnded(bound)) {
      foundation::DebugLogf(std::string(link), "%s did not stop within %lld s",
                            g == &receiver ? "The SMPP receiver" : "The SMPP receive workers",
                            static_cast<long long>(bound.count() / 1000));
      ok = false;
    }
  }
  return ok;
}

}  // namespace vek::links
