#include "links/link_sender.h"

#include <fcntl.h>

#include <algorithm>

#include "encoding/hex_text.h"
#include "encoding/user_data_header.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/link_name.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "links/link_reporting.h"
#include "links/message_prep.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/queue_cache.h"
#include "queue/queue_scan.h"
#include "queue/queue_tree.h"
#include "queue/retry_policy.h"
#include "queue/routing_db.h"
#include "queue/segment_order.h"

namespace vek::links {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A listing older than this is taken again, so that files put into the
// queue by anything else are seen within this time.
constexpr auto kRelistAge = seconds(2);
constexpr auto kIdleWait = seconds(1);
constexpr auto kIdleSlice = milliseconds(20);
constexpr auto kPauseSlice = milliseconds(50);
// The reload check also runs after this many messages.
constexpr uint64_t kCheckEvery = 256;
// A synchronous submit is tried this often while the centre throttles.
constexpr int kThrottleAttempts = 5;
// Synchronous successes stored together (one id-store transaction), unless
// older than kSentBatchAge.
constexpr size_t kSentBatch = 32;
constexpr auto kSentBatchAge = milliseconds(20);
// Answers awaited at shutdown, whatever `CommandTimeout` says: the service
// waits at most a minute for all its threads.
constexpr auto kShutdownDrain = seconds(20);
constexpr auto kSettleBound = seconds(15);
// A file the loader cannot read this often is set aside.
constexpr int kReadAttempts = 3;
constexpr size_t kMaxRequestBytes = 1 << 20;
constexpr size_t kMaxWatched = 64;
// Files waiting for their retry time are looked at again at least this often.
constexpr auto kNotDueRecheck = seconds(60);
constexpr size_t kNotDuePrune = 4096;

bool neverAnswered(uint32_t code) {
  return code == kResultConnectionLost || code == kResultNotConnected || code == kResultCancelled;
}

std::string joinRelative(const std::string& sub, const std::string& name) {
  return sub.empty() || sub == queue::kQueueRootName ? name : sub + "/" + name;
}

}  // namespace

struct LinkSender::PassConfig {
  std::shared_ptr<const hostlib::IniFile> ini;
  std::shared_ptr<const queue::RouteTable> table;
  std::vector<std::string> names;
  std::shared_ptr<const foundation::Settings> settings;
  queue::RetrySettings retry;
  bool segment_locks = true;
  bool skip_list = false;
  bool separate_user_queues = true;
  int32_t user_threshold = 10;
  PassStats* stats = nullptr;
};

LinkSender::LinkSender(LinkProtocol& proto, std::shared_ptr<Outcomes> outcomes, SegmentLocks& locks,
                       AsyncWindow& window, SenderState& state, Options options)
    : proto_(proto),
      outcomes_(std::move(outcomes)),
      locks_(locks),
      window_(window),
      state_(state),
      opt_(std::move(options)),
      cfg_(std::make_unique<PassConfig>()) {
  last_exchange_ = platform::monotonicNow();
  refreshConfig();
}

LinkSender::~LinkSender() = default;

void LinkSender::refreshConfig() {
  PassConfig& c = *cfg_;
  // Everything below comes from three snapshots; when none of them changed
  // since the last pass, neither did the result (passes follow each other
  // closely under load).
  auto ini = hostlib::smsIni().current();
  auto table = queue::routeTable();
  auto settings = foundation::settings();
  if (ini == c.ini && table == c.table && settings == c.settings) return;
  const std::string& link = proto_.linkName();
  c.ini = ini;
  c.table = table;
  c.settings = settings;
  c.names = queue::linkNames(*c.table, link);
  c.retry = queue::loadRetrySettings(*ini, link);
  auto disable = ini->get("SMSGW", "DisableLongMessageSMSCCheck");
  c.segment_locks = !(disable && foundation::yesNo(*disable));
  c.skip_list = c.settings->UseExperimentalLogic && !c.settings->OldRoutingLogic;
  c.separate_user_queues = c.settings->SeparateUserQueues;
  c.user_threshold = c.settings->UserQueueThreshold > 0 ? c.settings->UserQueueThreshold : 10;
  outcomes_->setSettings({c.retry, c.settings->AccountingExtended, c.settings->SyncQueueWrites});
  window_.setThrottleForQFull(proto_.knobs().throttle_for_qfull);
  auto limit = ini->get(foundation::linkSectionName(link), "SMSCSendLimit");
  uint32_t interval = queue::parseSendLimit(limit ? *limit : std::string_view());
  if (interval != gate_.interval()) gate_ = queue::SendGate(interval);
}

// ---- the queue pass --------------------------------------------------------

bool LinkSender::skipDirectory(const std::string& name) const {
  if (name == queue::kQueueRootName) return false;
  if (platform::equalsNoCase(name, queue::kDelayDirectory)) return true;
  if (!cfg_->settings->UseRouteQueues) return false;
  if (queue::routePartitionOpenTo(name, cfg_->names)) return false;
  // A partition that no configured link serves is looked into, so that
  // what it holds fails instead of waiting for ever.
  return !queue::partitionOrphaned(*cfg_->table, name);
}

ConnectionEnd LinkSender::runPass(PassStats* stats) {
  end_ = ConnectionEnd::kNone;
  refreshConfig();
  cfg_->stats = stats;
  if (cfg_->skip_list) state_.skip.startPass();
  watched_.clear();
  std::vector<std::string> dirs;
  root_files_.clear();
  root_listed_ = false;
  if (cfg_->settings->UseQCache) {
    dirs = queue::queueSubDirectories(opt_.queue_root);
  } else {
    // One walk of the root gives its sub-directories and its own files. Its
    // time is taken first: a file added after the walk changes it.
    if (auto info = platform::statPath(opt_.queue_root))
      watched_.emplace_back(opt_.queue_root, info->modified);
    dirs.emplace_back(queue::kQueueRootName);
    platform::ListOptions both;
    both.directories = true;
    platform::forEachEntry(opt_.queue_root, "*", both, [&](const platform::DirEntry& e) {
      if (e.directory) {
        dirs.push_back(e.name);
      } else if (platform::globMatchNoCase("*.REQ", e.name)) {
        root_files_.push_back(e.name);
      }
      return true;
    });
    root_listed_ = true;
  }
  for (const std::string& sub : dirs) {
    if (end_ != ConnectionEnd::kNone) break;
    if (platform::shutdownRequested()) {
      end_ = ConnectionEnd::kStop;
      break;
    }
    if (skipDirectory(sub)) continue;
    processDirectory(sub);
  }
  takeThrottleResubmits();
  flushSent();
  // Cursors of directories that are gone.
  std::erase_if(cursors_, [&](const auto& c) {
    return std::find(dirs.begin(), dirs.end(), c.first) == dirs.end();
  });
  if (cfg_->skip_list) state_.skip.endPass(end_ == ConnectionEnd::kConnectionError);
  pruneNotDue();
  locks_.removeDue(platform::monotonicNow());
  cfg_->stats = nullptr;
  return end_;
}

void LinkSender::pruneNotDue() {
  // Files that left the queue meanwhile would stay here for ever.
  if (state_.not_due.size() < kNotDuePrune) return;
  auto now = platform::monotonicNow();
  std::erase_if(state_.not_due, [&](const auto& e) { return e.second <= now; });
}

void LinkSender::processDirectory(const std::string& sub) {
  const bool root = sub == queue::kQueueRootName;
  const std::string dir_path = root ? opt_.queue_root : opt_.queue_root + sub + "/";
  Cursor& c = cursors_[sub];
  auto now = platform::monotonicNow();
  if (watched_.size() < kMaxWatched && !(root && root_listed_)) {
    // Taken before the listing: a file added after it changes the time.
    auto info = platform::statPath(dir_path);
    if (info) watched_.emplace_back(dir_path, info->modified);
  }
  if (c.next >= c.names.size() || now - c.listed > kRelistAge) {
    if (root && root_listed_) {
      c.names = std::move(root_files_);
      root_listed_ = false;
    } else {
      c.names = queue::queueFiles(opt_.queue_root, sub);
    }
    c.next = 0;
    c.listed = now;
    if (c.names.empty() && !root) {
      (void)queue::removeStaleEmptyDirectory(opt_.queue_root + sub);
      return;
    }
  }
  int32_t taken = 0;
  while (c.next < c.names.size() && end_ == ConnectionEnd::kNone) {
    takeThrottleResubmits();
    if (end_ != ConnectionEnd::kNone) break;
    const std::string name = c.names[c.next++];
    FileResult r = processFile(dir_path, joinRelative(sub, name), name, 0);
    if (cfg_->stats) ++cfg_->stats->files;
    if (r != FileResult::kSubmitted) continue;
    // With separate user queues no account holds up the others for long.
    if (!root && cfg_->separate_user_queues && ++taken > cfg_->user_threshold) break;
  }
}

void LinkSender::takeThrottleResubmits() {
  ThrottleResubmit t;
  while (end_ == ConnectionEnd::kNone && window_.takeThrottleResubmit(&t)) {
    foundation::DebugLogf(proto_.linkName(), "CheckThrottleResubmitQ %s", t.relative.c_str());
    std::string dir_part = platform::parentDirectory(t.relative);
    processFile(opt_.queue_root + dir_part, t.relative, platform::baseName(t.relative),
                t.resubmits);
  }
}

LinkSender::FileResult LinkSender::processFile(const std::string& directory,
                                               const std::string& relative, const std::string& name,
                                               uint32_t throttle_resubmits) {
  const std::string& link = proto_.linkName();
  if (cfg_->settings->Debug2) foundation::Debug2Log(link, relative);
  if (cfg_->skip_list && state_.skip.contains(relative)) return FileResult::kSkipped;
  if (!state_.unusable.empty() && state_.unusable.count(relative)) return FileResult::kSkipped;
  if (throttle_resubmits == 0 && !state_.not_due.empty()) {
    auto it = state_.not_due.find(relative);
    if (it != state_.not_due.end()) {
      if (platform::monotonicNow() < it->second) return FileResult::kSkipped;
      state_.not_due.erase(it);
    }
  }
  if (!queue::MessageRoutesCheck(relative, cfg_->names)) {
    if (cfg_->skip_list) state_.skip.add(relative);
    return FileResult::kSkipped;
  }
  const bool segment = queue::isOutboundSegmentName(name);
  if (segment && !queue::MayProcessSegmentFile(directory, name)) return FileResult::kSkipped;
  auto claim = queue::QueueClaim::claim(opt_.queue_root, relative);
  if (!claim.ok()) {
    if (setAsideIfEmpty(relative)) return FileResult::kHandled;
    return FileResult::kSkipped;
  }
  SendJob job;
  job.claim = std::move(claim.value());
  job.directory = directory;
  job.relative = relative;
  job.name = name;
  job.message_id = messageIdOf(name);
  job.segment = segment;
  job.throttle_resubmits = throttle_resubmits;
  return processClaimed(job);
}

// A claim refuses an empty file, since a release empties a file before it
// unlinks it. One that is still empty and linked under its name while this
// thread holds its lock is no release in progress but an unsound request
// (request files are published whole): it is set aside as ".BAD", so that
// it is not listed again on every pass. Only once it has stayed empty for
// a while: a file copied in by hand is empty for a moment before its text
// arrives.
bool LinkSender::setAsideIfEmpty(const std::string& relative) {
  constexpr auto kEmptyFor = std::chrono::seconds(10);
  const std::string path = opt_.queue_root + relative;
  auto named = platform::statPath(path);
  if (!named || named->size != 0 || named->directory) return false;
  if (platform::clock().now() - named->modified < kEmptyFor) return false;
  auto fd = platform::openLocked(path, O_RDONLY);
  if (!fd.ok()) return false;
  auto mine = platform::statFd(fd->get());
  named = platform::statPath(path);
  if (!mine || !named || mine->size != 0 || mine->inode != named->inode) return false;
  std::string to = path;
  size_t dot = to.rfind('.');
  size_t slash = to.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) to.resize(dot);
  to += ".BAD";
  const std::string& link = proto_.linkName();
  platform::Status st = platform::renamePath(path, to);
  if (!st.ok()) {
    foundation::DebugLogf(link, "Empty request file %s could not be set aside: %s", path.c_str(),
                          st.message().c_str());
    state_.unusable.insert(relative);
    return false;
  }
  const std::string text = "Request file " + path + " set aside as " + to + ": empty";
  foundation::DebugLog(link, text);
  alertWarning(text);
  queue::routingDatabase().remove(relative);
  if (cfg_->stats) ++cfg_->stats->handled;
  return true;
}

bool LinkSender::readClaimed(SendJob& job, std::string* text) {
  auto data = platform::readAll(job.claim.fd(), kMaxRequestBytes);
  if (!data.ok()) {
    foundation::DebugLogf(proto_.linkName(), "Error reading %s: %s", job.relative.c_str(),
                          data.status().message().c_str());
    return false;
  }
  *text = std::move(data.value());
  return true;
}

LinkSender::FileResult LinkSender::processClaimed(SendJob& job) {
  const std::string& link = proto_.linkName();
  std::string text;
  if (!readClaimed(job, &text)) {
    if (++state_.read_failures[job.relative] < kReadAttempts) {
      job.claim.unclaim();
      return FileResult::kSkipped;
    }
    state_.read_failures.erase(job.relative);
    std::string relative = job.relative;
    outcomes_->setAside(job, "unreadable");
    if (platform::pathExists(opt_.queue_root + relative)) state_.unusable.insert(relative);
    if (cfg_->stats) ++cfg_->stats->handled;
    return FileResult::kHandled;
  }
  if (!state_.read_failures.empty()) state_.read_failures.erase(job.relative);
  queue::parseSMSMessage(text, &job.msg);
  FileFault fault = examineRequestText(text, job.msg);
  if (fault != FileFault::kSound) {
    std::string relative = job.relative;
    outcomes_->setAside(job, fileFaultText(fault));
    if (platform::pathExists(opt_.queue_root + relative)) state_.unusable.insert(relative);
    if (cfg_->stats) ++cfg_->stats->handled;
    return FileResult::kHandled;
  }
  foundation::DebugLogf(link, "Processing %s...", job.relative.c_str());

  // A route the message names: sent only by links that answer to it.
  std::string_view route = queue::messageRoute(job.msg);
  if (!route.empty() && !queue::routeServedBy(route, cfg_->names)) {
    if (!queue::routeServed(*cfg_->table, route)) {
      outcomes_->noRoute(job);
      if (cfg_->stats) ++cfg_->stats->handled;
      return FileResult::kHandled;
    }
    if (cfg_->skip_list) state_.skip.add(job.relative);
    job.claim.unclaim();
    return FileResult::kSkipped;
  }
  if (job.msg.RetryCount > 0 && job.throttle_resubmits == 0 &&
      !queue::RetryDue(job.msg.RetryCount, job.msg.LastRetryTime, cfg_->retry)) {
    auto due = queue::toSystemTime(job.msg.LastRetryTime) +
               seconds(queue::retryDelaySeconds(job.msg.RetryCount, cfg_->retry));
    auto left = std::chrono::duration_cast<milliseconds>(due - platform::clock().now());
    left = std::clamp<milliseconds>(left, milliseconds(0), kNotDueRecheck);
    state_.not_due[job.relative] = platform::monotonicNow() + left;
    job.claim.unclaim();
    return FileResult::kSkipped;
  }
  if (forLocalUser(job.msg)) {
    outcomes_->local(job);
    if (cfg_->stats) ++cfg_->stats->handled;
    return FileResult::kHandled;
  }
  if (route.empty()) {
    bool no_link = false;
    if (!queue::MayLinkSend(*cfg_->table, queue::routeQueryOf(job.msg), link, &no_link)) {
      if (no_link) {
        outcomes_->noRoute(job);
        if (cfg_->stats) ++cfg_->stats->handled;
        return FileResult::kHandled;
      }
      queue::MessageRoutesAdd(*cfg_->table, job.relative, job.msg);
      if (cfg_->skip_list) state_.skip.add(job.relative);
      job.claim.unclaim();
      return FileResult::kSkipped;
    }
  }
  if (job.segment && cfg_->segment_locks && !locks_.acquire(job.directory, job.name)) {
    job.claim.unclaim();
    return FileResult::kSkipped;
  }
  const LinkKnobs& k = proto_.knobs();
  job.request = buildSubmitRequest(proto_.kind(), job.msg, job.message_id, k.common, k.validity);
  if (k.wdp_merge && job.segment && job.msg.Binary) mergeSegments(job);
  return submit(std::move(job));
}

void LinkSender::mergeSegments(SendJob& job) {
  queue::SegmentFileName seg;
  if (!queue::parseSegmentFileName(job.name, &seg) || seg.total < 2) return;
  auto elements = encoding::headerElementsWithoutConcatenation(job.msg.UDH);
  if (!elements.ok()) return;
  std::string data = job.msg.Data;
  std::vector<queue::QueueClaim> claims;
  const std::string dir_part = platform::parentDirectory(job.relative);
  for (unsigned n = seg.number + 1; n <= seg.total; ++n) {
    std::string relative = dir_part + seg.withNumber(n);
    auto claim = queue::QueueClaim::claim(opt_.queue_root, relative);
    queue::SMSMessage part;
    // Every later segment must be there and sound, or each goes alone.
    if (!claim.ok() || !claim->load(&part) || !part.Binary || part.PhoneNumber.empty()) return;
    data += part.Data;
    claims.push_back(std::move(claim.value()));
  }
  std::string udh;
  if (!elements->empty()) {
    encoding::appendHexOctet(&udh, static_cast<unsigned>(elements->size()));
    udh +=
        encoding::octetsToHex(reinterpret_cast<const uint8_t*>(elements->data()), elements->size());
  }
  job.request.udh = std::move(udh);
  job.request.data = std::move(data);
  job.merged = std::move(claims);
}

// ---- submitting ------------------------------------------------------------

LinkSender::FileResult LinkSender::submit(SendJob job) {
  if (proto_.asyncAvailable() && job.merged.empty()) return submitAsync(std::move(job));
  return submitSync(std::move(job));
}

bool LinkSender::service(milliseconds wait) {
  bool connection_error = false;
  int n = proto_.yield(wait, &connection_error);
  if (n > 0) noteExchange();
  if (!window_.helpers()) window_.handleAnswered();
  if (connection_error || !proto_.linkUp()) {
    end_ = ConnectionEnd::kConnectionError;
    return false;
  }
  if (platform::shutdownRequested()) {
    end_ = ConnectionEnd::kStop;
    return false;
  }
  return true;
}

bool LinkSender::waitYielding(milliseconds total) {
  auto deadline = platform::monotonicNow() + total;
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - platform::monotonicNow());
    if (left.count() <= 0) return true;
    if (!service(std::min(left, kPauseSlice))) return false;
  }
}

bool LinkSender::waitForGate() {
  if (gate_.interval() == 0) return true;
  for (;;) {
    auto now = platform::monotonicNow();
    if (gate_.tryOpen(now)) return true;
    milliseconds wait(std::max<uint32_t>(1, gate_.waitMs(now)));
    if (!service(std::min(wait, kPauseSlice))) return false;
  }
}

bool LinkSender::waitForWindowRoom() {
  const size_t window = static_cast<size_t>(std::max(1, proto_.knobs().window));
  // Answered entries waiting for their outcome also hold their files open:
  // bounded too, so a slow id store cannot pile them up.
  const size_t backlog = window + std::max<size_t>(window, 64);
  // Each answer lets the next message go at once. Waiting for a group of
  // answers instead stalls against centres that hold their answers until
  // our acknowledgement, which then has no outgoing data to ride on.
  if (proto_.outstanding() < window && window_.unhandled() < backlog) return true;
  auto start = platform::monotonicNow();
  while (proto_.outstanding() >= window || window_.unhandled() >= backlog) {
    if (!service(milliseconds(1))) return false;
  }
  if (cfg_->settings->Debug) {
    auto ms = std::chrono::duration_cast<milliseconds>(platform::monotonicNow() - start).count();
    foundation::DebugLogf("SMPPSubmitAsyncQ", "Info -- %u ms wait time for SMPP window size %u",
                          static_cast<unsigned>(ms), static_cast<unsigned>(window));
  }
  return true;
}

void LinkSender::immediateFailure(SendJob& job, uint32_t code) {
  if (neverAnswered(code)) {
    outcomes_->cancelled(job);
    end_ = ConnectionEnd::kConnectionError;
    return;
  }
  outcomes_->failed(job, code, proto_.errorText(code));
}

LinkSender::FileResult LinkSender::submitSync(SendJob job) {
  const LinkKnobs& k = proto_.knobs();
  const std::string& link = proto_.linkName();
  if (!waitForGate()) {
    outcomes_->cancelled(job);
    return FileResult::kSkipped;
  }
  auto isThrottle = [&](uint32_t code) {
    return code == static_cast<uint32_t>(queue::kErrorThrottled) ||
           (code == static_cast<uint32_t>(queue::kErrorQueueFull) && k.throttle_for_qfull);
  };
  uint32_t code = 0;
  std::string id;
  for (int attempt = 1;; ++attempt) {
    id.clear();
    code = proto_.submit(job.request, &id);
    if (!isLocalResult(code)) noteExchange();
    if (code == 0 || !isThrottle(code) || attempt >= kThrottleAttempts) break;
    writeOutboundLog({job.message_id,
                      link,
                      job.msg.PhoneNumber,
                      queue::retryPendingText(proto_.errorText(code), link),
                      {},
                      &job.msg});
    if (!waitYielding(k.throttle_delay)) {
      // Not sent (throttled), and the connection is gone or stopping.
      outcomes_->cancelled(job);
      return FileResult::kSubmitted;
    }
  }
  if (code == 0) {
    const bool segment = job.segment;
    const std::string directory = job.directory, relative = job.relative, name = job.name;
    if (sent_jobs_.empty()) oldest_sent_ = platform::monotonicNow();
    sent_jobs_.push_back(std::move(job));
    sent_ids_.push_back(std::move(id));
    // A segment's file must be gone before its next segment may go.
    if (segment || sent_jobs_.size() >= kSentBatch ||
        platform::monotonicNow() - oldest_sent_ >= kSentBatchAge)
      flushSent();
    afterSubmit();
    if (segment && end_ == ConnectionEnd::kNone) followSegment(directory, relative, name);
    return FileResult::kSubmitted;
  }
  if (neverAnswered(code)) {
    outcomes_->cancelled(job);
    end_ = ConnectionEnd::kConnectionError;
    return FileResult::kSubmitted;
  }
  outcomes_->failed(job, code, proto_.errorText(code));
  if (!proto_.linkUp()) end_ = ConnectionEnd::kConnectionError;
  if (isThrottle(code) && k.restart_after_throttle && end_ == ConnectionEnd::kNone)
    end_ = ConnectionEnd::kThrottleRestart;
  afterSubmit();
  return FileResult::kSubmitted;
}

LinkSender::FileResult LinkSender::submitAsync(SendJob job) {
  if (!waitForGate() || !waitForWindowRoom()) {
    outcomes_->cancelled(job);
    return FileResult::kSkipped;
  }
  const bool segment = job.segment;
  const std::string directory = job.directory, relative = job.relative, name = job.name;
  auto entry = window_.makeEntry(std::move(job));
  uint32_t code = proto_.submitAsync(entry->job().request, entry);
  if (code != 0) {
    immediateFailure(entry->job(), code);
    afterSubmit();
    return FileResult::kSubmitted;
  }
  window_.add(entry);
  if (cfg_->settings->Debug)
    foundation::DebugLogf("SMPPSubmitAsyncQ", "Depth %u",
                          static_cast<unsigned>(proto_.outstanding()));
  afterSubmit();
  if (segment) {
    // The next segment goes only after this one was answered and its file
    // removed, so segments reach the centre in order.
    auto limit = platform::monotonicNow() + proto_.knobs().command_timeout + seconds(30);
    while (!entry->handled() && platform::monotonicNow() < limit) {
      if (!service(milliseconds(1))) return FileResult::kSubmitted;
    }
    if (entry->wasSent() && end_ == ConnectionEnd::kNone) followSegment(directory, relative, name);
  }
  return FileResult::kSubmitted;
}

void LinkSender::afterSubmit() {
  ++state_.sent_total;
  if (cfg_->stats) ++cfg_->stats->submitted;
  if (!proto_.linkUp()) {
    end_ = ConnectionEnd::kConnectionError;
    return;
  }
  if (++since_check_ >= kCheckEvery) {
    since_check_ = 0;
    ConnectionEnd e = checkSettings();
    if (e != ConnectionEnd::kNone && end_ == ConnectionEnd::kNone) end_ = e;
  }
}

void LinkSender::followSegment(const std::string& directory, const std::string& relative,
                               const std::string& name) {
  std::string next = name;
  if (!queue::CheckAdditionalLongMessageSegments(directory, &next)) return;
  std::string dir_part = platform::parentDirectory(relative);
  processFile(directory, dir_part + next, next, 0);
}

void LinkSender::flushSent() {
  if (sent_jobs_.empty()) return;
  std::vector<SendJob*> jobs;
  jobs.reserve(sent_jobs_.size());
  for (auto& j : sent_jobs_) jobs.push_back(&j);
  outcomes_->sent(jobs, sent_ids_);
  sent_jobs_.clear();
  sent_ids_.clear();
}

void LinkSender::noteExchange() {
  last_exchange_ = platform::monotonicNow();
}

// ---- between passes --------------------------------------------------------

ConnectionEnd LinkSender::checkSettings() {
  // Settings live in "SMSGW.INI": an unchanged parse needs no second look.
  auto ini = hostlib::smsIni().current();
  if (ini == checked_ini_) return ConnectionEnd::kNone;
  checked_ini_ = ini;
  if (!proto_.reloadNeeded(opt_.link_number)) return ConnectionEnd::kNone;
  if (opt_.link_number > 0 &&
      !platform::equalsNoCase(foundation::linkNameOf(opt_.link_number), proto_.linkName()))
    return ConnectionEnd::kLinkGone;
  return ConnectionEnd::kReload;
}

bool LinkSender::queueChanged() {
  for (const auto& [path, modified] : watched_) {
    auto info = platform::statPath(path);
    if (!info || info->modified != modified) return true;
  }
  return false;
}

ConnectionEnd LinkSender::idle(const PassStats& last_pass) {
  end_ = ConnectionEnd::kNone;
  flushSent();
  const LinkKnobs& k = proto_.knobs();
  const auto keep_alive = seconds(k.keep_alive_s);
  auto now = platform::monotonicNow();
  if (k.keep_alive_s > 0 && now - last_exchange_ > keep_alive) {
    if (proto_.enquire() != 0) return ConnectionEnd::kConnectionError;
    noteExchange();
  }
  if (!proto_.linkUp()) return ConnectionEnd::kConnectionError;
  if (last_pass.submitted > 0 || window_.throttleQueued() > 0) {
    service(milliseconds(0));
    return end_;
  }
  auto deadline = now + kIdleWait;
  if (k.keep_alive_s > 0) deadline = std::min(deadline, last_exchange_ + keep_alive);
  while ((now = platform::monotonicNow()) < deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - now);
    if (!service(std::clamp(left, milliseconds(1), kIdleSlice))) return end_;
    if (opt_.role != LinkRole::kReceiveOnly && (window_.throttleQueued() > 0 || queueChanged()))
      break;
  }
  return ConnectionEnd::kNone;
}

ConnectionEnd LinkSender::run() {
  for (;;) {
    PassStats stats;
    ConnectionEnd e = ConnectionEnd::kNone;
    if (opt_.role != LinkRole::kReceiveOnly) {
      proto_.beforePass();
      e = runPass(&stats);
    }
    if (e == ConnectionEnd::kThrottleRestart) e = ConnectionEnd::kNone;
    if (e != ConnectionEnd::kNone) return e;
    if ((e = checkSettings()) != ConnectionEnd::kNone) return e;
    if (opt_.stand_down && opt_.stand_down()) return ConnectionEnd::kStandDown;
    flushSent();
    if (!proto_.afterPass(stats.files)) return ConnectionEnd::kConnectionError;
    if ((e = idle(stats)) != ConnectionEnd::kNone) return e;
    if (platform::shutdownRequested()) return ConnectionEnd::kStop;
  }
}

void LinkSender::settleWindow(milliseconds bound) {
  if (window_.helpers()) {
    if (!window_.waitAnsweredTaken(bound))
      foundation::DebugLogf(proto_.linkName(), "%u answered submissions not handled in time",
                            static_cast<unsigned>(window_.unhandled()));
    return;
  }
  window_.handleAnswered();
}

void LinkSender::finish(ConnectionEnd why) {
  flushSent();
  const bool broken = why == ConnectionEnd::kConnectionError;
  if (!broken && proto_.outstanding() > 0) {
    // Wait for the answers of what is in the window: an unanswered
    // submission may have reached the centre, and sending it again after
    // the reconnect or restart would duplicate it.
    auto bound = proto_.knobs().command_timeout;
    if (why == ConnectionEnd::kStop || platform::shutdownRequested())
      bound = std::min<milliseconds>(bound, kShutdownDrain);
    auto deadline = platform::monotonicNow() + bound;
    while (proto_.outstanding() > 0 && platform::monotonicNow() < deadline) {
      bool connection_error = false;
      proto_.yield(kPauseSlice, &connection_error);
      if (!window_.helpers()) window_.handleAnswered();
      if (connection_error) break;
    }
  }
  // Closing completes what is still unanswered as lost: those files are let
  // go unchanged and go out with the next connection.
  proto_.close(!broken);
  settleWindow(kSettleBound);
}

}  // namespace vek::links
