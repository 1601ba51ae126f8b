#include "queue/delay_queue.h"

#include <cerrno>
#include <exception>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/settings.h"
#include "platform/directory_sync.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"

namespace vek::queue {
namespace {

constexpr std::string_view kTag = "ThreadProcessDelayQ";
constexpr std::string_view kCopyPrefix = ".c-";
constexpr std::string_view kMovingPrefix = ".m-";
constexpr size_t kMaxName = 255;
constexpr auto kPassPause = std::chrono::milliseconds(1000);

bool leadingDigits(std::string_view s, size_t n, int* value) {
  if (s.size() < n) return false;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *value = v;
  return true;
}

platform::ListOptions directoriesOnly() {
  platform::ListOptions o;
  o.files = false;
  o.directories = true;
  o.sorted = true;
  return o;
}

// Renames without replacing. A file system without the no-replace flag
// gets a plain rename after a check that the name is free (the only other
// writers of queue names pick fresh unique ones).
platform::Status moveNoReplace(const std::string& from, const std::string& to) {
  platform::Status st = platform::renameNoReplace(from, to);
  if (st.code() != EINVAL) return st;
  if (platform::pathExists(to)) return platform::Status::error(to + ": exists", EEXIST);
  return platform::renamePath(from, to);
}

class DelayPass {
 public:
  explicit DelayPass(const DelayQueueConfig& c)
      : c_(c), root_(platform::withTrailingSlash(c.queue_directory)) {}

  uint64_t run() {
    auto area = platform::findNameNoCase(root_, kDelayDirectory);
    if (!area) return 0;
    const std::string delay = root_ + *area + "/";
    const platform::CalendarTime now = platform::localNow();
    const int today = now.year * 10000 + now.month * 100 + now.day;
    const int minute = now.hour * 100 + now.minute;
    for (const platform::DirEntry& d : platform::listDirectory(delay, "*", directoriesOnly())) {
      int date = 0;
      if (d.symlink || d.name.size() != 8 || !leadingDigits(d.name, 8, &date) || date > today)
        continue;
      const std::string date_dir = delay + d.name + "/";
      for (const platform::DirEntry& t :
           platform::listDirectory(date_dir, "*", directoriesOnly())) {
        int hhmm = 0;
        if (t.symlink || !leadingDigits(t.name, 4, &hhmm) || (date == today && hhmm > minute))
          continue;
        releaseTime(date_dir + t.name + "/");
        if (crashed_) return moved_;
      }
      // Today's directory stays: a writer may be creating a later time in
      // it, and removing it under the writer would make the writer give up
      // the delay area and queue the message at once.
      if (date == today) continue;
      if (!step("rmdir")) return moved_;
      (void)platform::removeDirectory(date_dir);
    }
    return moved_;
  }

 private:
  bool step(std::string_view what) {
    if (crashed_) return false;
    if (c_.before_step && !c_.before_step(what)) crashed_ = true;
    return !crashed_;
  }

  void releaseTime(const std::string& time_dir) {
    moveFiles(time_dir, root_);
    for (const platform::DirEntry& s : platform::listDirectory(time_dir, "*", directoriesOnly())) {
      if (crashed_) return;
      if (s.symlink) {
        foundation::DebugLogf(kTag, "%s%s is a symbolic link; left in place", time_dir.c_str(),
                              s.name.c_str());
        continue;
      }
      const std::string sub = time_dir + s.name + "/";
      moveFiles(sub, root_ + s.name + "/");
      if (!step("rmdir")) return;
      (void)platform::removeDirectory(sub);
    }
    if (!step("rmdir")) return;
    (void)platform::removeDirectory(time_dir);
  }

  void moveFiles(const std::string& from, const std::string& to) {
    platform::ListOptions files;
    files.hidden = true;
    for (const platform::DirEntry& e : platform::listDirectory(from, "*", files)) {
      if (crashed_) return;
      if (e.symlink) {
        foundation::DebugLogf(kTag, "%s%s is a symbolic link; left in place", from.c_str(),
                              e.name.c_str());
      } else if (e.name.compare(0, kMovingPrefix.size(), kMovingPrefix) == 0) {
        finishCopy(from, to, e.name.substr(kMovingPrefix.size()));
      } else if (e.name[0] != '.') {  // hidden: a writer's temporary
        moveOne(from, to, e.name);
      }
    }
  }

  void moveOne(const std::string& from, const std::string& to, const std::string& name) {
    if (!c_.force_copy) {
      if (!step("rename")) return;
      platform::Status st = moveNoReplace(from + name, to + name);
      if (st.code() == ENOENT && platform::pathExists(from + name)) {
        (void)platform::makeDirectories(to);
        st = moveNoReplace(from + name, to + name);
      }
      if (st.ok()) return queued(to);
      if (st.code() != EXDEV) return refused(from + name, st);
    }
    copyAcross(from, to, name);
  }

  void copyAcross(const std::string& from, const std::string& to, const std::string& name) {
    if (name.size() + kCopyPrefix.size() > kMaxName)
      return refused(from + name, platform::Status::error("name too long to copy", ENAMETOOLONG));
    auto text = platform::readFile(from + name);
    if (!text.ok()) return refused(from + name, text.status());
    auto info = platform::statPath(from + name);
    const std::string copy = to + std::string(kCopyPrefix) + name;
    if (!step("copy")) return;
    platform::Status st = platform::makeDirectories(to);
    if (st.ok()) st = platform::writeFileAtomic(copy, *text, c_.sync);
    if (!st.ok()) return refused(from + name, st);
    // The copy stands in for the original: it keeps its age for expiry.
    if (info) (void)platform::setModifiedTime(copy, info->modified);
    if (!step("mark")) return;
    st = platform::renamePath(from + name, from + std::string(kMovingPrefix) + name);
    if (!st.ok()) return refused(from + name, st);
    if (c_.sync) (void)platform::syncDirectory(from);
    finishCopy(from, to, name);
  }

  // The original is marked as copied: publish the copy unless that
  // already happened, then drop the original.
  void finishCopy(const std::string& from, const std::string& to, const std::string& name) {
    const std::string copy = to + std::string(kCopyPrefix) + name;
    if (platform::pathExists(copy)) {
      if (!step("publish")) return;
      platform::Status st = moveNoReplace(copy, to + name);
      if (!st.ok()) return refused(from + name, st);
      queued(to);
    }
    if (!step("drop")) return;
    (void)platform::removeFile(from + std::string(kMovingPrefix) + name);
  }

  void queued(const std::string& to) {
    if (c_.sync) (void)platform::syncDirectory(to);
    ++moved_;
    if (c_.on_queued) c_.on_queued(1);
  }

  void refused(const std::string& path, const platform::Status& st) {
    foundation::DebugLogf(kTag, "Unable to move %s into the queue: %s; tried again next pass",
                          path.c_str(), st.message().c_str());
  }

  const DelayQueueConfig& c_;
  const std::string root_;
  uint64_t moved_ = 0;
  bool crashed_ = false;
};

}  // namespace

DelayQueueConfig delayQueueConfig() {
  DelayQueueConfig c;
  c.queue_directory = foundation::queueDirectory();
  c.sync = foundation::settings()->SyncQueueWrites;
  return c;
}

uint64_t processDelayQueue(const DelayQueueConfig& config) {
  return DelayPass(config).run();
}

void ThreadProcessDelayQ(const QueuedCount& on_queued) {
  while (!platform::shutdownRequested()) {
    try {
      DelayQueueConfig config = delayQueueConfig();
      config.on_queued = on_queued;
      (void)processDelayQueue(config);
    } catch (const std::exception& e) {
      foundation::DebugLogf(kTag, "Delay queue pass ended early: %s", e.what());
    }
    if (!platform::sleepFor(kPassPause)) break;
  }
}

}  // namespace vek::queue
