#include "queue/bulk_queue.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <vector>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/file_io.h"
#include "foundation/settings.h"
#include "platform/directory_sync.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/bulk_list.h"
#include "queue/queue_tree.h"
#include "queue/unique_id.h"

namespace vek::queue {
namespace {

constexpr std::string_view kTag = "ThreadProcessBulkQ";
constexpr std::string_view kLockName = "LOCK.LCK";
constexpr std::string_view kBuildLockName = "BUILD.LCK";
constexpr std::string_view kPendingPrefix = ".part-";
constexpr std::string_view kStagingPrefix = ".bulk-";
constexpr int kRounds = 20;
constexpr size_t kMaxTemplateBytes = 1u << 20;
constexpr size_t kReadBlock = 64 * 1024;
// Keeps ".bulk-<inode>-<position>-<list>" well inside a 255-byte name.
constexpr size_t kMaxListName = 128;
constexpr int kPartitionAttempts = 1000;
constexpr int kRemoveDepth = 3;
constexpr size_t kLoggedLineBytes = 60;
// Refused lines logged one by one per list; the rest are counted.
constexpr uint64_t kLoggedRefusals = 10;
constexpr auto kPassPause = std::chrono::milliseconds(1000);
// A job directory without lists is left this long for a writer to fill it.
constexpr auto kLeftoverAge = std::chrono::minutes(1);

bool parseNumber(std::string_view* s, uint64_t* out) {
  size_t n = 0;
  uint64_t v = 0;
  while (n < s->size() && n < 19 && (*s)[n] >= '0' && (*s)[n] <= '9')
    v = v * 10 + ((*s)[n++] - '0');
  if (n == 0 || n >= s->size() || (*s)[n] != '-') return false;
  *out = v;
  s->remove_prefix(n + 1);
  return true;
}

// ".part-<a>-<b>-<list>": the list's name while it is being expanded.
bool parsePendingName(std::string_view name, uint64_t* a, uint64_t* b, std::string* list) {
  if (name.substr(0, kPendingPrefix.size()) != kPendingPrefix) return false;
  name.remove_prefix(kPendingPrefix.size());
  if (!parseNumber(&name, a) || !parseNumber(&name, b) || name.empty() || *b < *a) return false;
  *list = std::string(name);
  return true;
}

std::string pendingName(uint64_t a, uint64_t b, std::string_view list) {
  return platform::format("%s%llu-%llu-", std::string(kPendingPrefix).c_str(),
                          static_cast<unsigned long long>(a), static_cast<unsigned long long>(b)) +
         std::string(list);
}

// Removes `dir` with everything in it, symbolic links as links (never what
// they point to), at most a few levels deep.
void removeTree(const std::string& dir, int depth = 0) {
  platform::ListOptions all;
  all.directories = true;
  all.hidden = true;
  for (const platform::DirEntry& e : platform::listDirectory(dir, "*", all)) {
    const std::string path = platform::joinPath(dir, e.name);
    if (e.directory && !e.symlink && depth < kRemoveDepth) {
      removeTree(path, depth + 1);
    } else {
      (void)platform::removeFile(path);
    }
  }
  (void)platform::removeDirectory(dir);
}

size_t countRequestFiles(const std::string& dir) {
  size_t n = 0;
  platform::forEachEntry(dir, "*.REQ", platform::ListOptions{}, [&n](const platform::DirEntry&) {
    ++n;
    return true;
  });
  return n;
}

std::string shortText(std::string_view s) {
  return platform::singleLine(s.substr(0, std::min(s.size(), kLoggedLineBytes)));
}

// One list of a job: its own name, its name now, and how many of its items
// (non-empty lines) are handled.
struct ListState {
  std::string list;
  std::string current;
  uint64_t position = 0;
};

// One visit of one job by one thread.
class JobRun {
 public:
  JobRun(const BulkQueueConfig& c, const std::string& name)
      : c_(c),
        name_(name),
        dir_(platform::withTrailingSlash(c.bulk_directory) + name + "/"),
        queue_(platform::withTrailingSlash(c.queue_directory)) {
    const uint64_t half = c.max_dir_entries / 2;
    capacity_ = half == 0 ? 1 : half;
    pace_threshold_ = half < 2 ? 2 : half;
  }

  uint64_t run() {
    if (!hasLists()) {
      removeIfLeftover();
      return 0;
    }
    if (!flagAllowsStart() || !lockJob()) return 0;
    readTemplates();
    if (templates_.empty()) {
      foundation::DebugLogf(kTag,
                            "Bulk job %s has no message template M1.REQ: its %zu recipient "
                            "lists cannot be expanded and are removed with the job",
                            name_.c_str(), currentLists().size());
    } else {
      expandRounds();
    }
    if (crashed_) return queued_;
    finish();
    return queued_;
  }

 private:
  // False when a crash test ends the pass here.
  bool step(std::string_view what) {
    if (crashed_) return false;
    if (c_.before_step && !c_.before_step(what)) crashed_ = true;
    return !crashed_;
  }
  bool stopped() const { return crashed_ || failed_; }

  void fail(const char* fmt, const std::string& a, const std::string& b) {
    foundation::DebugLogf(kTag, fmt, a.c_str(), b.c_str());
    failed_ = true;
  }

  bool hasLists() const {
    platform::ListOptions one;
    one.limit = 1;
    if (!platform::listDirectory(dir_, "R*.BLK", one).empty()) return true;
    one.hidden = true;
    return !platform::listDirectory(dir_, ".part-*", one).empty();
  }

  // Lists being expanded (resumed where the last run left them) first,
  // then fresh ones.
  std::vector<ListState> currentLists() {
    std::vector<ListState> out;
    platform::ListOptions hidden;
    hidden.hidden = true;
    hidden.sorted = true;
    for (const platform::DirEntry& e : platform::listDirectory(dir_, ".part-*", hidden)) {
      ListState s;
      uint64_t a = 0, b = 0;
      if (e.symlink || !parsePendingName(e.name, &a, &b, &s.list)) continue;
      s.current = e.name;
      // Its chunk [a, b) is in the queue once its staging directory is gone.
      s.position = platform::pathExists(stagingDirectory(s.list, a)) ? a : b;
      out.push_back(std::move(s));
    }
    platform::ListOptions sorted;
    sorted.sorted = true;
    for (const platform::DirEntry& e : platform::listDirectory(dir_, "R*.BLK", sorted)) {
      if (e.symlink || e.name.size() > kMaxListName) {
        refuseList(e.name);
        continue;
      }
      out.push_back(ListState{e.name, e.name, 0});
    }
    return out;
  }

  void refuseList(const std::string& list) {
    if (refused_lists_logged_) return;
    refused_lists_logged_ = true;
    foundation::DebugLogf(kTag, "Bulk job %s: recipient list %s is refused (%s)", name_.c_str(),
                          shortText(list).c_str(),
                          list.size() > kMaxListName ? "name too long" : "symbolic link");
  }

  std::string stagingDirectory(std::string_view list, uint64_t position) const {
    return queue_ +
           platform::format("%s%llx-%llu-", std::string(kStagingPrefix).c_str(),
                            static_cast<unsigned long long>(inode_),
                            static_cast<unsigned long long>(position)) +
           std::string(list) + "/";
  }

  // A due flag file is deleted; one that is not due keeps the job waiting.
  bool flagAllowsStart() {
    const platform::CalendarTime now = platform::localNow();
    for (const platform::DirEntry& e : platform::listDirectory(dir_, "QDelay-*.FLG")) {
      auto t = parseDelayFlagName(e.name);
      if (!t) {
        foundation::DebugLogf(kTag, "Bulk job %s: flag file %s holds no valid time; starting now",
                              name_.c_str(), shortText(e.name).c_str());
        continue;
      }
      if (laterToTheMinute(*t, now)) return false;
      if (!step("flag")) return false;
      (void)platform::removeFile(dir_ + e.name);
    }
    return true;
  }

  // LOCK.LCK, created when missing and locked without waiting. The holder
  // deletes it when done; a lock taken on a file deleted meanwhile is not
  // ownership, so the name must still refer to the locked file.
  bool lockJob() {
    if (!step("lock")) return false;
    const std::string path = dir_ + std::string(kLockName);
    auto fd = platform::openLocked(path, O_CREAT | O_RDWR);
    if (!fd.ok()) return false;
    auto by_fd = platform::statFd(fd->get());
    auto by_name = platform::statPath(path);
    auto job = platform::statPath(dir_);
    if (!by_fd || !by_name || !job || by_fd->inode != by_name->inode) return false;
    inode_ = job->inode;
    lock_ = std::move(*fd);
    return true;
  }

  void readTemplates() {
    for (unsigned k = 1; k <= kMaxBulkTemplates; ++k) {
      const std::string path = platform::resolvePathNoCase(dir_, platform::format("M%u.REQ", k));
      auto text = platform::readFile(path, kMaxTemplateBytes);
      if (!text.ok()) {
        if (text.status().code() != ENOENT)
          foundation::DebugLogf(kTag, "Bulk job %s: template %s cannot be read: %s", name_.c_str(),
                                platform::baseName(path).c_str(), text.status().message().c_str());
        return;
      }
      templates_.push_back(std::move(*text));
    }
    if (platform::findNameNoCase(dir_, platform::format("M%u.REQ", kMaxBulkTemplates + 1)))
      foundation::DebugLogf(kTag, "Bulk job %s: templates after M%u.REQ are ignored", name_.c_str(),
                            kMaxBulkTemplates);
  }

  void expandRounds() {
    for (int round = 0; round < kRounds && !stopped() && !platform::shutdownRequested(); ++round) {
      std::vector<ListState> lists = currentLists();
      if (lists.empty()) return;
      bool progress = false;
      for (ListState& list : lists) {
        if (stopped() || platform::shutdownRequested()) return;
        progress |= expandList(list);
      }
      if (!progress) return;
    }
  }

  // Expands one list from its position to its end (or to a failure).
  // True when something was handled.
  bool expandList(ListState& list) {
    auto fd = platform::openLocked(dir_ + list.current, O_RDWR);
    if (!fd.ok()) {
      foundation::DebugLogf(kTag, "Bulk job %s: recipient list %s cannot be opened: %s",
                            name_.c_str(), list.current.c_str(), fd.status().message().c_str());
      return false;
    }
    const uint64_t start = list.position;
    partitions_.clear();
    refused_ = 0;
    Chunk chunk;
    uint64_t item = 0;
    LineSplitter splitter;
    auto visit = [&](const LineSplitter::Line& line) {
      if (stopped() || ++item <= list.position) return;
      if (!chunk.open && !openChunk(list, item - 1, &chunk)) return;
      addItem(list, item, line, &chunk);
      if (!stopped() && chunk.files + templates_.size() > capacity_)
        closeChunk(&list, item, &chunk);
    };
    std::string block(kReadBlock, '\0');
    for (;;) {
      size_t got = 0;
      if (!foundation::ReadFileWithRetry(fd->get(), block.data(), block.size(), &got)) {
        fail("Recipient list %s cannot be read: %s", dir_ + list.current,
             platform::Status::fromErrno("read", "").message());
        break;
      }
      splitter.feed(std::string_view(block.data(), got), visit);
      if (got < block.size() || stopped()) break;
    }
    if (!stopped()) splitter.finish(visit);
    if (refused_ > kLoggedRefusals)
      foundation::DebugLogf(kTag, "Bulk job %s: %llu more lines of %s refused", name_.c_str(),
                            static_cast<unsigned long long>(refused_ - kLoggedRefusals),
                            list.list.c_str());
    if (!stopped() && chunk.open) closeChunk(&list, item, &chunk);
    if (!stopped() && step("list")) {
      (void)platform::removeFile(dir_ + list.current);
      if (c_.sync) (void)platform::syncDirectory(dir_);
      list.current.clear();
    }
    fd->reset();
    pace();
    return list.position != start || list.current.empty();
  }

  struct Chunk {
    bool open = false;
    uint64_t start = 0;
    uint64_t files = 0;
    std::string staging;
  };

  // A staging directory for the chunk starting after `start` items: made,
  // or emptied when a crash left it with part of the chunk.
  bool openChunk(const ListState& list, uint64_t start, Chunk* chunk) {
    chunk->start = start;
    chunk->files = 0;
    chunk->staging = stagingDirectory(list.list, start);
    if (!step("stage")) return false;
    if (platform::pathExists(chunk->staging)) removeTree(chunk->staging);
    platform::Status st = platform::makeDirectories(chunk->staging);
    if (!st.ok()) {
      fail("Unable to create %s: %s; the recipient list is kept for a later pass", chunk->staging,
           st.message());
      return false;
    }
    chunk->open = true;
    return true;
  }

  void addItem(const ListState& list, uint64_t item, const LineSplitter::Line& line, Chunk* chunk) {
    RecipientLine r;
    const unsigned templates = static_cast<unsigned>(templates_.size());
    LineVerdict v =
        line.too_long ? LineVerdict::kTooLong : parseRecipientLine(line.text, templates, &r);
    if (v != LineVerdict::kOk) {
      if (++refused_ > kLoggedRefusals) return;
      foundation::DebugLogf(kTag, "Bulk job %s: line %llu of %s refused (%s, %llu bytes): %s",
                            name_.c_str(), static_cast<unsigned long long>(item), list.list.c_str(),
                            lineVerdictText(v), static_cast<unsigned long long>(line.length),
                            shortText(line.text).c_str());
      return;
    }
    for (unsigned k = 1; k <= templates && !stopped(); ++k) {
      if (!step("file")) return;
      const std::string text = bulkRequestText(templates_[k - 1], r.recipient, r.route);
      const std::string path = chunk->staging + requestFileName(r.name, k);
      // The staging directory is invisible until it is renamed whole, so
      // its files need no publishing of their own.
      platform::Status st = platform::writeNewFile(path, text, c_.sync);
      if (st.code() == EEXIST) st = publishUnderNewName(path, text);
      if (!st.ok()) {
        fail("Unable to create %s: %s; the recipient list is kept for a later pass", path,
             st.message());
        return;
      }
      ++chunk->files;
    }
  }

  // Two lines of one list naming the same file: the second recipient
  // still gets its message, under a name of its own.
  platform::Status publishUnderNewName(const std::string& path, const std::string& text) {
    auto fresh = CreateQueueFile(platform::parentDirectory(path), "req", text);
    if (!fresh.ok()) return fresh.status();
    foundation::DebugLogf(kTag, "Bulk job %s: %s is named twice; written as %s", name_.c_str(),
                          platform::baseName(path).c_str(), platform::baseName(*fresh).c_str());
    return platform::Status();
  }

  // Records the chunk as handled and makes its files visible: the list's
  // new name first, then the one rename that moves the staging directory
  // into the queue.
  void closeChunk(ListState* list, uint64_t end, Chunk* chunk) {
    chunk->open = false;
    const std::string next = pendingName(chunk->start, end, list->list);
    if (!step("pending")) return;
    platform::Status st = platform::renamePath(dir_ + list->current, dir_ + next);
    if (!st.ok()) return fail("Unable to rename %s: %s", dir_ + list->current, st.message());
    list->current = next;
    if (c_.sync) (void)platform::syncDirectory(dir_);
    if (chunk->files == 0) {
      if (!step("commit")) return;
      (void)platform::removeDirectory(chunk->staging);
      list->position = end;
      return;
    }
    const std::string staging = chunk->staging.substr(0, chunk->staging.size() - 1);
    for (int attempt = 0; attempt < kPartitionAttempts; ++attempt) {
      const std::string partition =
          queue_ + platform::format("####%04X", NextUniqueMessageId() & 0xFFFFu);
      if (!step("commit")) return;
      st = platform::renameNoReplace(staging, partition);
      if (st.ok()) {
        if (c_.sync) (void)platform::syncDirectory(queue_);
        list->position = end;
        queued_ += chunk->files;
        if (c_.on_queued) c_.on_queued(static_cast<uint32_t>(chunk->files));
        partitions_.push_back(partition + "/");
        return;
      }
      if (st.code() != EEXIST && st.code() != ENOTEMPTY) break;
    }
    fail("Unable to move %s into the queue: %s", staging, st.message());
  }

  // Waits while the partitions this list filled hold at least half of
  // MaxQDirEntries request files together.
  void pace() {
    if (!c_.pace || partitions_.empty() || crashed_) return;
    auto count = [this] {
      size_t n = 0;
      for (const std::string& p : partitions_) n += countRequestFiles(p);
      return n;
    };
    if (count() < pace_threshold_) return;
    std::string where = partitions_.front();
    if (partitions_.size() > 1)
      where += platform::format(" (and %zu more)", partitions_.size() - 1);
    foundation::DebugLogf(kTag, "Waiting on q directory %s", where.c_str());
    while (count() >= pace_threshold_) {
      if (!platform::sleepFor(c_.pace_step)) return;
    }
    foundation::DebugLogf(kTag, "Done waiting on q directory %s", where.c_str());
  }

  void finish() {
    bool writer_gone = true;
    if (auto build = platform::findNameNoCase(dir_, kBuildLockName)) {
      const std::string path = dir_ + *build;
      if (platform::isLockedElsewhere(path)) {
        writer_gone = false;
      } else if (step("build")) {
        (void)platform::removeFile(path);
      }
    }
    const bool finished = writer_gone && !failed_ && (templates_.empty() || currentLists().empty());
    if (finished && step("remove")) {
      removeJob();
      return;
    }
    releaseLock();
  }

  // Removes the job while holding its lock, the lock file last.
  void removeJob() {
    for (const ListState& list : currentLists()) {
      uint64_t a = 0, b = 0;
      std::string ignored;
      if (parsePendingName(list.current, &a, &b, &ignored)) {
        removeTree(stagingDirectory(list.list, a));
        removeTree(stagingDirectory(list.list, b));
      } else {
        removeTree(stagingDirectory(list.list, 0));
      }
    }
    platform::ListOptions all;
    all.directories = true;
    all.hidden = true;
    for (const platform::DirEntry& e : platform::listDirectory(dir_, "*", all)) {
      if (e.name == kLockName) continue;
      const std::string path = dir_ + e.name;
      if (e.directory && !e.symlink) {
        removeTree(path, 1);
      } else {
        (void)platform::removeFile(path);
      }
    }
    releaseLock();
    (void)platform::removeDirectory(dir_);
  }

  void releaseLock() {
    if (!lock_) return;
    (void)platform::removeFile(dir_ + std::string(kLockName));
    lock_.reset();
  }

  // A job directory with no list: left by a crash after its last list, or
  // by a writer that finished after its lists were expanded, or being
  // filled by a writer. Finished unless a writer holds BUILD.LCK; without
  // BUILD.LCK only once nobody has touched it for a minute.
  void removeIfLeftover() {
    if (auto build = platform::findNameNoCase(dir_, kBuildLockName)) {
      if (platform::isLockedElsewhere(dir_ + *build)) return;
    } else {
      auto info = platform::statPath(dir_);
      if (!info || platform::clock().now() - info->modified < kLeftoverAge) return;
    }
    if (!lockJob()) return;
    finish();
  }

  const BulkQueueConfig& c_;
  const std::string name_;
  const std::string dir_;
  const std::string queue_;
  uint64_t capacity_ = 1;
  uint64_t pace_threshold_ = 2;
  uint64_t inode_ = 0;
  platform::UniqueFd lock_;
  std::vector<std::string> templates_;
  std::vector<std::string> partitions_;
  uint64_t queued_ = 0;
  uint64_t refused_ = 0;  // lines of the current list
  bool crashed_ = false;  // a crash test ended the pass
  bool failed_ = false;   // a write failed: leave the job for a later pass
  bool refused_lists_logged_ = false;
};

}  // namespace

BulkQueueConfig bulkQueueConfig() {
  auto s = foundation::settings();
  BulkQueueConfig c;
  c.bulk_directory = foundation::bulkQueueDirectory();
  c.queue_directory = foundation::queueDirectory();
  c.max_dir_entries = s->MaxQDirEntries <= 0 ? 10000u : static_cast<uint64_t>(s->MaxQDirEntries);
  c.sync = s->SyncQueueWrites;
  return c;
}

uint64_t processBulkQueue(const BulkQueueConfig& config) {
  platform::ListOptions jobs;
  jobs.files = false;
  jobs.directories = true;
  jobs.sorted = true;
  uint64_t queued = 0;
  for (const platform::DirEntry& e : platform::listDirectory(config.bulk_directory, "*", jobs)) {
    if (platform::shutdownRequested()) break;
    // A job that is a link could make the thread delete files elsewhere.
    if (e.symlink) continue;
    queued += JobRun(config, e.name).run();
  }
  return queued;
}

void ThreadProcessBulkQ(const QueuedCount& on_queued) {
  while (!platform::shutdownRequested()) {
    try {
      BulkQueueConfig config = bulkQueueConfig();
      config.on_queued = on_queued;
      (void)processBulkQueue(config);
    } catch (const std::exception& e) {
      foundation::DebugLogf(kTag, "Bulk queue pass ended early: %s", e.what());
    }
    if (!platform::sleepFor(kPassPause)) break;
  }
}

}  // namespace vek::queue
