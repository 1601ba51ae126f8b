#include "service/service.h"

#include <cstdio>
#include <memory>

#include "encoding/shift_tables.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/last_chance.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "hostlib/host_library.h"
#include "hostlib/message_ids.h"
#include "hostlib/mms_notifications.h"
#include "http/server/listeners.h"
#include "http/web/web_auth.h"
#include "links/modem_link.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "protocols/libraries/link_libraries.h"
#include "queue/queue_cache.h"
#include "queue/retry_policy.h"
#include "queue/route_selection.h"
#include "queue/routing_db.h"
#include "queue/unique_id.h"
#include "service/console.h"
#include "service/database_repair.h"
#include "service/link_threads.h"
#include "service/recovery.h"
#include "service/thread_table.h"
#include "tls/tls.h"

namespace vek::service {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;
using platform::format;

constexpr auto kShutdownBound = std::chrono::seconds(60);

// The supervisor's own pauses: they end early on a stop signal, the stop
// byte or the shutdown flag. False when they ended early.
bool supervisorSleep(platform::SingleInstance* instance, std::chrono::milliseconds d) {
  auto deadline = platform::monotonicNow() + d;
  while (true) {
    if (platform::stopSignalReceived() || platform::shutdownRequested() ||
        (instance && instance->stopRequested()))
      return false;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - platform::monotonicNow());
    if (left.count() <= 0) return true;
    platform::waitForSignal(std::min(left, std::chrono::milliseconds(100)));
  }
}

// Creates an empty configuration file when it is missing.
bool ensureFile(const std::string& path) {
  if (platform::pathExists(path)) return true;
  return platform::publishFile(path, "", false, 0640).ok() || platform::pathExists(path);
}

// Step 11: "RECV.FLG" in each account's directory mirrors its receive option.
void syncReceiveFlags() {
  hostlib::AccountStore* store = hostlib::accountStore();
  if (!store) return;
  for (size_t i = 0;; ++i) {
    auto account = store->at(i);
    if (!account) break;
    std::string dir = foundation::userDirectory(account->name);
    std::string flag = dir + "RECV.FLG";
    if (account->receive) {
      if (!platform::pathExists(flag)) {
        (void)platform::makeDirectories(dir);
        (void)platform::publishFile(flag, "");
      }
    } else {
      (void)platform::removeFile(flag);
    }
  }
}

// Step 14 and the reload: the lists each component rebuilds when their
// configured entries differ.
void loadSharedLists() {
  http::LoadAllowedList();
  http::LoadBlockedList();
  queue::ReloadRouteTable();
}

void readExtraHttpArgs() {
  std::string list = hostlib::SMSIniGetProfileString("SMSGW", "ExtraHttpArgList", "", 1025);
  std::vector<std::string> names;
  for (auto& n : platform::split(list, ",;")) {
    std::string t(platform::trim(n));
    if (!t.empty()) names.push_back(t);
  }
  foundation::setExtraHttpArgs(std::move(names));
}

std::string readTrigger() {
  return hostlib::SMSIniGetProfileString("SMSGW", "ConfigurationUpdateTriggerRestart", "", 50);
}

// Starts the rows of one phase. Returns false when the vital first row
// could not be started.
bool startThreads(Phase phase, const StartupContext& ctx) {
  bool first = true;
  for (const ThreadRow& row : threadTable()) {
    bool vital = first;
    first = false;
    if (row.phase != phase) continue;
    if (row.condition && !row.condition(ctx)) continue;
    if (row.prepare && !row.prepare(ctx)) continue;
    int copies = row.copies ? row.copies(ctx) : 1;
    for (int c = 0; c < copies; ++c) {
      auto body = row.body;
      int arg = row.argument;
      if (!foundation::startWorkerThread(row.name, [body, arg] { body(arg); })) {
        if (vital) {
          DebugLog("main", "Error starting thread");
          return false;
        }
        // A thread that cannot start is a fault the operator must see.
        DebugLogf("main", "Error starting thread %s", row.name);
        platform::reportEvent(platform::EventType::kError,
                              format("Error starting thread %s", row.name));
      }
    }
  }
  return true;
}

// Hidden temporaries of publishes that a kill -9 interrupted, in the trees
// that receive published files. Old enough not to be a live writer's, also
// of another gateway on a shared queue.
constexpr auto kStaleTemporaryAge = std::chrono::minutes(10);

void removeStaleTemporaries() {
  size_t removed = 0;
  removed += platform::removeStaleTemporaries(foundation::queueDirectory(), 4, kStaleTemporaryAge);
  removed +=
      platform::removeStaleTemporaries(foundation::inboundDirectory(), 2, kStaleTemporaryAge);
  removed +=
      platform::removeStaleTemporaries(foundation::bulkQueueDirectory(), 2, kStaleTemporaryAge);
  removed += platform::removeStaleTemporaries(foundation::usersDirectory(), 4, kStaleTemporaryAge);
  if (removed > 0)
    DebugLogf("main", "Removed %zu temporary files left by interrupted writes", removed);
}

// The ports the start-up report names, in its order.
std::vector<ListeningPort> listeningPorts() {
  const std::pair<foundation::Listener, const char*> all[] = {
      {foundation::Listener::kWeb, "web"},
      {foundation::Listener::kWebSsl, "web SSL"},
      {foundation::Listener::kSmpp, "SMPP"},
      {foundation::Listener::kSmppSsl, "SMPP SSL"},
  };
  std::vector<ListeningPort> out;
  for (const auto& [which, what] : all) {
    int fd = foundation::listeningSocket(which);
    if (fd >= 0) out.push_back({what, platform::localPort(fd)});
  }
  return out;
}

void printBanner() {
  BannerFacts f;
  f.data_dir = hostlib::GetProgramDataDirectory();
  f.log_dir = hostlib::GetDebugLogDirectory();
  f.private_dir = hostlib::GetPrivateDataDirectory();
  f.ports = listeningPorts();
  f.debug_log = foundation::debugEnabled();
  std::fputs(startBanner(f).c_str(), stderr);
  std::fflush(stderr);
}

void reportStartup() {
  struct Slot {
    foundation::Listener which;
    const char* debug;
    const char* event;
  };
  const Slot slots[] = {
      {foundation::Listener::kWeb, "%s Web server started on port number %u",
       "  Using web port %u."},
      {foundation::Listener::kWebSsl, "SSL Web server started on port number %u",
       "  Using web SSL port %u."},
      {foundation::Listener::kSmpp, "SMPP server started on port number %u",
       "  Using SMPP port %u."},
      {foundation::Listener::kSmppSsl, "SSL SMPP server started on port number %u",
       "  Using SMPP SSL port %u."},
  };
  std::string event = format("%s service started.", foundation::productBanner());
  for (const Slot& s : slots) {
    int fd = foundation::listeningSocket(s.which);
    if (fd < 0) continue;
    unsigned port = platform::localPort(fd);
    if (s.which == foundation::Listener::kWeb) {
      DebugLogf("main", s.debug, foundation::productBanner(), port);
    } else {
      DebugLogf("main", s.debug, port);
    }
    event += format(s.event, port);  // one line: each part starts with its blanks
  }
  platform::reportEvent(platform::EventType::kSuccess, event);
}

class Supervisor {
 public:
  Supervisor(platform::SingleInstance* instance, std::string stored_trigger)
      : instance_(instance), trigger_(std::move(stored_trigger)) {}

  // Returns why it stopped, in words for the console.
  std::string run() {
    while (!platform::shutdownRequested()) {
      if (platform::stopSignalReceived() || instance_->stopRequested()) break;
      pass();
      if (platform::shutdownRequested()) break;
      supervisorSleep(instance_, std::chrono::milliseconds(1000));
      if (platform::takeReloadRequest()) reload("SIGHUP");
    }
    if (platform::stopSignalReceived()) {
      DebugLog("HandlerRoutine", "Initiating shutdown...");
      return "a stop signal";
    }
    if (restarting_) return "a configuration update; expecting a restart";
    if (instance_->stopRequested()) return "a stop request";
    return "a fault";
  }

 private:
  void pass() {
    platform::CalendarTime now = platform::localNow();
    if (first_ || now.hour != last_hour_) {
      last_hour_ = now.hour;
      hourly();
    }
    if (first_ || now.minute != last_minute_) {
      last_minute_ = now.minute;
      minutely();
    }
    first_ = false;
    // A link's `Modem%u` value changed under its sender: start what is
    // missing now rather than at the next minute.
    if (foundation::takeLinkRestartRequest()) StartLinkThreads(false);
    std::string next = readTrigger();
    if (triggerRaised(trigger_, next)) {
      DebugLog("main", "Restarting for configuration update");
      restarting_ = true;
      instance_->setStopByte(1);
      platform::requestShutdown();
    }
  }

  void hourly() {
    int days = static_cast<int>(
        platform::parseLeadingInt(hostlib::SMSIniGetProfileString("SMSGW", "SMPPDataRetainDays")));
    hostlib::purgeMMSNotifications(days <= 0 ? 15 : days);
    queue::PurgeQueueErrorFiles();
    if (!first_) removeStaleTemporaries();  // the first pass follows start-up's own
  }

  void minutely() {
    StartLinkThreads(false);
    auto modified = hostlib::smsIni().modifiedTime();
    if (modified && *modified != ini_modified_) {
      ini_modified_ = *modified;
      // Editors write a file in several steps: let the change settle.
      if (!supervisorSleep(instance_, std::chrono::milliseconds(6000))) return;
      reload("SMSGW.INI changed");
    }
    if (foundation::takeRoutingDbResetRequest()) {
      DebugLog("main", "RoutingDbReset");
      queue::ResetRoutingDatabase();
      DebugLog("main", "RoutingDbReset2");
    }
  }

  void reload(const char* why) {
    DebugLogf("main", "Reloading settings (%s)", why);
    loadSharedLists();
    foundation::LoadSettings();
  }

  platform::SingleInstance* instance_;
  std::string trigger_;
  bool first_ = true;
  bool restarting_ = false;
  int last_hour_ = -1;
  int last_minute_ = -1;
  platform::SystemTime ini_modified_{};
};

void shutdown(std::unique_ptr<platform::SingleInstance> instance) {
  platform::requestShutdown();
  foundation::wakeListeningSockets();
  foundation::inboundEventA().set();
  foundation::inboundEventB().set();
  if (!foundation::waitForWorkers(kShutdownBound)) {
    DebugLogf("main", "Shutdown:  %d threads did not end in time",
              foundation::runningWorkerCount());
  }
  (void)queue::SaveUniqueMessageId();
  platform::reportEvent(platform::EventType::kSuccess,
                        format("%s service stopped.", foundation::productBanner()));
  DebugLog("main", "Shutdown:  Closing log files");
  hostlib::closeAllMessageIdStores();
  hostlib::closeMMSNotificationStore();
  if (foundation::debugEnabled())
    DebugLogf("main", "Routing DB Count = %u", queue::RoutingDatabaseCount());
  queue::DestroyRoutingDatabase();
  foundation::closeDebugLog();
  instance.reset();
}

}  // namespace

bool triggerRaised(const std::string& stored, const std::string& next) {
  std::string_view a = platform::trim(stored), b = platform::trim(next);
  if (platform::isAllDigits(a) && platform::isAllDigits(b)) {
    while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
    if (a.size() != b.size()) return b.size() > a.size();
    return b > a;
  }
  return platform::compareNoCase(next, stored) > 0;
}

int runService(const ServiceOptions& options) {
  if (auto st = hostlib::setDataDirectory(options.data_dir); !st.ok()) {
    std::fprintf(stderr, "Cannot use the data directory: %s\n", st.message().c_str());
    return 255;
  }
  // 1. Configuration files.
  std::string data = hostlib::GetProgramDataDirectory();
  std::string sms_ini = data + "SMSGW.INI", mmsc_ini = data + "MMSC.INI";
  if (!ensureFile(sms_ini) || !ensureFile(mmsc_ini)) {
    std::fprintf(stderr, "Cannot create the configuration files in %s\n", data.c_str());
    return 255;
  }
  hostlib::SMSIniSetFilename(sms_ini);
  hostlib::MMSCIniSetFilename(mmsc_ini);
  hostlib::bindGsmConversions(&encoding::GSM7ToUTF8String, &encoding::UTF8ToShiftTableString);
  // 2. Signals.
  platform::installServiceSignals();
  // 4. Single instance.
  auto instance = platform::SingleInstance::acquire(hostlib::GetPrivateDataDirectory());
  if (!instance.ok()) {
    if (instance.status().code() == EWOULDBLOCK) {
      std::fprintf(stderr, "%s is already active on this workstation.\n",
                   foundation::productBanner());
    } else {
      std::fprintf(stderr, "Error %d creating shared memory area!\n", instance.status().code());
    }
    return 255;
  }
  platform::openEventLog(hostlib::GetPrivateDataDirectory() + "EVENTS.LOG");
  // A crash of any thread from here on writes EXCEPT.LOG and ends the
  // process with 45233 for the service manager to restart it. The stores
  // need no hook: SQLite's journal recovers them at the next open.
  foundation::installLastChanceHandler(hostlib::GetPrivateDataDirectory());
  // 6. Settings.
  foundation::LoadSettings();
  DebugLog("main", "Before InitStatCounters");
  DebugLog("main", "After InitStatCounters");
  // 8. IP notification targets.
  foundation::StartupFacts facts;
  facts.ip_notify_targets = !hostlib::MMSCIniGetSection("IPNotify", 16384).empty();
  // 9. TLS.
  tls::sslSetCertificateDirectory(hostlib::GetPrivateDataDirectory());
  facts.tls_available = tls::sslInitLib();
  facts.server_certificate = facts.tls_available && tls::sslServerCertExists();
  foundation::setStartupFacts(facts);
  StartupContext ctx;
  ctx.facts = facts;
  // 10. Protocol libraries: a library with a missing entry counts as absent.
  {
    auto s = foundation::settings();
    unsigned present = protocols::bindLinkLibraries(s->Debug && !s->NoDebugProtocol);
    ctx.smpp_library =
        (present & (1u << static_cast<unsigned>(protocols::LinkLibrary::kSmpp))) != 0;
  }
  // 11. Receive flags of accounts.
  syncReceiveFlags();
  // Left-overs of publishes that a kill -9 interrupted.
  removeStaleTemporaries();
  // 12. The routing database.
  queue::CreateRoutingDatabase();
  // 13. Message-id databases.
  DebugLog("main", "Before CheckDatabaseIntegrity");
  CheckDatabaseIntegrity(true);
  DebugLog("main", "After CheckDatabaseIntegrity");
  // 14, 15. Lists and extra HTTP arguments.
  loadSharedLists();
  (void)foundation::takeRoutingDbResetRequest();
  readExtraHttpArgs();
  // A modem link that keeps failing may reboot the machine (RebootOnModemError).
  links::setServerRestartAction(&RestartLocalServer);
  // The internal "localsystem" login's access code for this run.
  if (auto st = http::initLocalSystemAccess(); !st.ok())
    DebugLogf("main", "Internal login unavailable: %s", st.message().c_str());
  // 16. Threads before the report.
  if (!startThreads(Phase::kBeforeReport, ctx)) {
    platform::requestShutdown();
    foundation::waitForWorkers(kShutdownBound);
    return 255;
  }
  // The queue cache must have made its first pass before senders use it.
  if (foundation::settings()->UseQCache) {
    while (!queue::queueCacheReady() &&
           supervisorSleep(instance->get(), std::chrono::milliseconds(100))) {
    }
  }
  // 17. The pause that lets the listeners open, then the report.
  bool running = supervisorSleep(instance->get(), std::chrono::milliseconds(2000));
  if (running) reportStartup();
  if (running && !options.quiet) printBanner();
  // 18. The rest of the threads and the links.
  if (running) {
    startThreads(Phase::kAfterReport, ctx);
    StartLinkThreads(true);
  }
  // 19. The stored configuration trigger.
  Supervisor supervisor(instance->get(), readTrigger());
  std::string why = supervisor.run();
  if (!options.quiet) std::fputs(stopLine(why).c_str(), stderr);
  shutdown(std::move(instance.value()));
  std::fprintf(stderr, "Shutdown complete!\n");
  return 0;
}

}  // namespace vek::service
