// Files and directories: the Linux side of the gateway's file protocols.
//
// - Claims: "open with no sharing" is open + flock(LOCK_EX | LOCK_NB). A
//   lock that fails means another thread holds the file: skip it, never wait.
//   flock, not fcntl: fcntl locks are per process and two of our threads must
//   exclude each other.
// - Publishing: a new queue or inbound file is written whole to an unnamed
//   temporary inode of its directory, or where the file system has none to
//   a hidden temporary name (unique across hosts), and only then linked
//   under its final name (renameat2 RENAME_NOREPLACE, or link() + unlink()
//   on shared file systems that lack it; decided per file system), so a
//   scanner never sees half a file and exclusive creation keeps its
//   meaning (EEXIST: the name is taken).
// - Names: Linux is case-sensitive, the gateway's names are not. Directory
//   walks match patterns without regard to case and never return names that
//   start with '.', which are reserved for temporary files.
//
// Paths are UTF-8 byte strings; directory paths may or may not end in '/'.
// Every function is thread-safe; none keeps state.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::platform {

// "dir" + "/" + "name" without doubling the separator.
std::string joinPath(std::string_view dir, std::string_view name);
// `dir` with exactly one trailing '/'.
std::string withTrailingSlash(std::string_view dir);
// The directory part of `path` with its trailing '/' ("" for a bare name).
std::string parentDirectory(std::string_view path);
// The last component of `path`.
std::string baseName(std::string_view path);

bool pathExists(const std::string& path);
bool isDirectory(const std::string& path);
bool isRegularFile(const std::string& path);

struct FileInfo {
  int64_t size = 0;
  SystemTime modified{};
  SystemTime born{};  // birth time, or the modification time where the file system has none
  bool directory = false;
  ino_t inode = 0;
};
std::optional<FileInfo> statPath(const std::string& path);
std::optional<FileInfo> statFd(int fd);
Status setModifiedTime(const std::string& path, SystemTime t);

// Whole-file read, refusing files above `max_bytes`.
Result<std::string> readFile(const std::string& path, size_t max_bytes = 64u << 20);
// Reads everything left on `fd` (at most max_bytes).
Result<std::string> readAll(int fd, size_t max_bytes = 64u << 20);
// write(2) until done; EINTR is retried, partial writes continued.
Status writeAll(int fd, std::string_view data);

// Replaces `path` atomically (temporary file + rename). For state files.
Status writeFileAtomic(const std::string& path, std::string_view data, bool sync = false,
                       mode_t mode = 0640);
// Creates `path` whole and only if it does not exist yet: Status code EEXIST
// when the name is taken. With `sync`, file and directory are fsync'ed.
Status publishFile(const std::string& path, std::string_view data, bool sync = false,
                   mode_t mode = 0640);
// Creates `path` (EEXIST when the name is taken) and writes `data` in
// place: a reader could see the file half-written, so this is only for a
// directory no reader looks into until it is published whole by a rename.
Status writeNewFile(const std::string& path, std::string_view data, bool sync = false,
                    mode_t mode = 0640);
Status appendToFile(const std::string& path, std::string_view data, mode_t mode = 0640);
// How publishFile() publishes in `dir`'s file system, as far as learned so
// far: "unnamed" (O_TMPFILE), "rename" (RENAME_NOREPLACE) or "link"
// (link + unlink). For the debug log and tests.
const char* publishRouteFor(const std::string& dir);
// The hidden temporary name a write of `path` would use next: ".~tmp-",
// the host name, the process id, a random number drawn once per process
// and a counter, so that gateways on several hosts never share one.
std::string temporaryNameFor(const std::string& path);

// The process's file creation mask, 027: the gateway's files hold message
// texts, recipients and link passwords, so others get nothing and the group
// may read. Called once at start-up, before any thread runs.
void restrictFileCreationMask();

// Removes what interrupted publishes left in `dir` and its sub-directories
// (down to `depth` levels below it): the hidden temporaries ".~tmp-*" and
// ".*.part" whose last change is at least `min_age` old by the clock. A
// younger one may belong to a writer at work, also one of another gateway
// sharing the directory. Returns how many were removed.
size_t removeStaleTemporaries(const std::string& dir, int depth, std::chrono::seconds min_age);

// mkdir -p. Existing directories are fine.
Status makeDirectories(const std::string& path, mode_t mode = 0750);
Status removeFile(const std::string& path);                              // ENOENT is success
Status removeDirectory(const std::string& path);                         // empty directories only
Status renamePath(const std::string& from, const std::string& to);       // replaces
Status renameNoReplace(const std::string& from, const std::string& to);  // EEXIST when taken

// Directory walk. `pattern` uses '*' and '?' without regard to case.
struct DirEntry {
  std::string name;
  bool directory = false;
  bool symlink = false;  // the entry itself is a symbolic link (`directory` says where it points)
};
struct ListOptions {
  bool files = true;
  bool directories = false;
  bool sorted = false;  // by name; otherwise directory order
  size_t limit = SIZE_MAX;
  // Also names starting with '.' (never "." or ".."): for the code that
  // owns such temporaries and must clean them up after a crash.
  bool hidden = false;
};
std::vector<DirEntry> listDirectory(const std::string& dir, std::string_view pattern = "*",
                                    const ListOptions& options = {});
// Calls `visit` for each matching entry until it returns false.
void forEachEntry(const std::string& dir, std::string_view pattern, const ListOptions& options,
                  const std::function<bool(const DirEntry&)>& visit);
// The name in `dir` equal to `name`: the exact one if it exists, otherwise
// the first one equal ignoring case.
std::optional<std::string> findNameNoCase(const std::string& dir, std::string_view name);
// `dir`/`name` resolved with findNameNoCase; the exact path when nothing matches.
std::string resolvePathNoCase(const std::string& dir, std::string_view name);

// Opens `path` and takes an exclusive flock without waiting. Status code
// EWOULDBLOCK when another holder has it; ENOENT when the file is gone.
// With O_CREAT in `flags` the file is created when missing.
Result<UniqueFd> openLocked(const std::string& path, int flags, mode_t mode = 0640);
// Like openLocked for an existing file that may be released by another
// thread (or another gateway sharing the queue) at any moment: after the
// lock is taken it checks that the file is still linked under the name and
// not empty (a release truncates first), so a claim never wins a file that
// was already sent. Status code ENOENT then.
Result<UniqueFd> claimFile(const std::string& path);
// True when another open file description holds a flock on `path`.
bool isLockedElsewhere(const std::string& path);
// Truncate to 0, unlink, close, while still holding the lock.
Status releaseClaimedFile(const std::string& path, UniqueFd fd);

}  // namespace vek::platform
