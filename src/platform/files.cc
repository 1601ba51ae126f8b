#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/directory_sync.h"
#include "platform/random_bytes.h"
#include "platform/strings.h"

namespace vek::platform {
namespace {

SystemTime fromStatxTs(const struct statx_timestamp& ts) {
  return SystemTime{} + std::chrono::seconds(ts.tv_sec) +
         std::chrono::duration_cast<SystemTime::duration>(std::chrono::nanoseconds(ts.tv_nsec));
}

std::optional<FileInfo> fromStatx(const struct statx& sx) {
  FileInfo info;
  info.size = static_cast<int64_t>(sx.stx_size);
  info.modified = fromStatxTs(sx.stx_mtime);
  info.born = (sx.stx_mask & STATX_BTIME) ? fromStatxTs(sx.stx_btime) : info.modified;
  info.directory = S_ISDIR(sx.stx_mode);
  info.inode = static_cast<ino_t>(sx.stx_ino);
  return info;
}

// What makes temporary names unique across hosts sharing a directory: the
// host name (letters, digits and '-' only, at most 32) and a random number
// drawn per process (again after a fork), beside the process id and a
// counter.
std::string temporaryStem() {
  static std::mutex mu;
  static pid_t owner = 0;
  static std::string stem;
  std::scoped_lock lk(mu);
  const pid_t me = ::getpid();
  if (owner != me) {
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::string h;
    for (const char* c = host; *c && h.size() < 32; ++c)
      if (isalnum(static_cast<unsigned char>(*c)) || *c == '-') h += *c;
    if (h.empty()) h = "host";
    uint64_t salt = 0;
    if (auto r = secureRandomBytes(sizeof salt); r.ok() && r->size() == sizeof salt)
      std::memcpy(&salt, r->data(), sizeof salt);
    stem = format(".~tmp-%s-%d-%016llx-", h.c_str(), static_cast<int>(me),
                  static_cast<unsigned long long>(salt));
    owner = me;
  }
  return stem;
}

// A name no scan pattern matches (leading dot), unique across processes and
// hosts.
std::string temporarySibling(const std::string& path) {
  static std::atomic<uint64_t> counter{0};
  return parentDirectory(path) + temporaryStem() +
         std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
}

// Writes `data` to a fresh temporary sibling of `path`; returns its name.
Result<std::string> writeTemporary(const std::string& path, std::string_view data, bool sync,
                                   mode_t mode) {
  std::string tmp = temporarySibling(path);
  UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd) return Status::fromErrno("create", tmp);
  Status st = writeAll(fd.get(), data);
  if (st.ok() && sync && ::fsync(fd.get()) != 0) st = Status::fromErrno("fsync", tmp);
  if (!st.ok()) {
    ::unlink(tmp.c_str());
    return st;
  }
  return tmp;
}

}  // namespace

std::string joinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '/') out += '/';
  while (!name.empty() && name.front() == '/' && !out.empty()) name.remove_prefix(1);
  out += name;
  return out;
}

std::string withTrailingSlash(std::string_view dir) {
  std::string out(dir);
  while (out.size() > 1 && out.back() == '/' && out[out.size() - 2] == '/') out.pop_back();
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string parentDirectory(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  return std::string(path.substr(0, slash + 1));
}

std::string baseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool pathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<FileInfo> statPath(const std::string& path) {
  struct statx sx;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return std::nullopt;
  return fromStatx(sx);
}

std::optional<FileInfo> statFd(int fd) {
  struct statx sx;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return std::nullopt;
  return fromStatx(sx);
}

Status setModifiedTime(const std::string& path, SystemTime t) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(ns / 1000000000);
  times[1].tv_nsec = static_cast<long>(ns % 1000000000);
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    return Status::fromErrno("utimensat", path);
  return Status();
}

Result<std::string> readAll(int fd, size_t max_bytes) {
  std::string out;
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::fromErrno("read", "");
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > max_bytes)
      return Status::error("file too large", EFBIG);
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

Result<std::string> readFile(const std::string& path, size_t max_bytes) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return Status::fromErrno("open", path);
  struct stat st;
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
    if (static_cast<uint64_t>(st.st_size) > max_bytes)
      return Status::error(path + ": file too large", EFBIG);
    std::string out;
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < out.size()) {
      ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::fromErrno("read", path);
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    out.resize(got);
    // The file may have grown since fstat: take the rest too (bounded).
    auto more = readAll(fd.get(), max_bytes - got);
    if (!more.ok()) return more.status();
    out += *more;
    return out;
  }
  return readAll(fd.get(), max_bytes);
}

Status writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::fromErrno("write", "");
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return Status();
}

Status writeFileAtomic(const std::string& path, std::string_view data, bool sync, mode_t mode) {
  auto tmp = writeTemporary(path, data, sync, mode);
  if (!tmp.ok()) return tmp.status();
  if (::rename(tmp->c_str(), path.c_str()) != 0) {
    Status st = Status::fromErrno("rename", path);
    ::unlink(tmp->c_str());
    return st;
  }
  if (sync) return syncDirectory(parentDirectory(path));
  return Status();
}

namespace {

// How a file system lets a whole file appear under its final name without
// ever replacing another:
//   kUnnamed  an O_TMPFILE inode linked in with linkat (local file systems);
//   kRename   a hidden temporary name, renameat2(RENAME_NOREPLACE);
//   kLink     a hidden temporary name, link() to the final name, unlink()
//             (shared file systems: NFSv4, CephFS, FUSE, which have neither).
// Learned per file system (device number), from the first publish there
// that finds a route missing; a route only ever gives way to a later one.
enum class PublishRoute : uint8_t { kUnnamed = 0, kRename = 1, kLink = 2 };

class PublishRoutes {
 public:
  PublishRoute get(dev_t dev) {
    std::scoped_lock lk(mu_);
    for (const auto& [d, r] : known_)
      if (d == dev) return r;
    return PublishRoute::kUnnamed;
  }
  void demote(dev_t dev, PublishRoute to) {
    std::scoped_lock lk(mu_);
    for (auto& [d, r] : known_) {
      if (d == dev) {
        if (r < to) r = to;
        return;
      }
    }
    known_.emplace_back(dev, to);
  }

 private:
  std::mutex mu_;
  std::vector<std::pair<dev_t, PublishRoute>> known_;  // one entry per file system
};

PublishRoutes& publishRoutes() {
  static PublishRoutes routes;
  return routes;
}

Status syncParent(const std::string& dir, bool sync) {
  if (!sync) return Status();
  return syncDirectory(dir.empty() ? "." : dir);
}

bool isMissingRoute(int err) {
  return err == EINVAL || err == EOPNOTSUPP || err == ENOSYS || err == EISDIR;
}

// link() of the temporary to the final name, then unlink() of the
// temporary. Over NFS a link whose reply was lost is retried by the client
// and then reports EEXIST although it worked: the temporary's link count
// and the final name's inode tell.
Status publishByLink(const std::string& tmp, const std::string& path) {
  if (::link(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    struct stat t, f;
    bool ours = err == EEXIST && ::lstat(tmp.c_str(), &t) == 0 && t.st_nlink == 2 &&
                ::lstat(path.c_str(), &f) == 0 && f.st_ino == t.st_ino && f.st_dev == t.st_dev;
    if (!ours) {
      ::unlink(tmp.c_str());
      return Status::fromErrno(err, "publish", path);
    }
  }
  ::unlink(tmp.c_str());
  return Status();
}

// The two routes through a hidden temporary name.
Status publishByName(const std::string& path, std::string_view data, bool sync, mode_t mode,
                     dev_t dev, PublishRoute route) {
  auto tmp = writeTemporary(path, data, sync, mode);
  if (!tmp.ok()) return tmp.status();
  const std::string dir = parentDirectory(path);
  if (route == PublishRoute::kRename) {
    if (::renameat2(AT_FDCWD, tmp->c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
      return syncParent(dir, sync);
    int err = errno;
    if (!isMissingRoute(err)) {
      ::unlink(tmp->c_str());
      return Status::fromErrno(err, "publish", path);
    }
    publishRoutes().demote(dev, PublishRoute::kLink);
  }
  Status st = publishByLink(*tmp, path);
  if (!st.ok()) return st;
  return syncParent(dir, sync);
}

// The unnamed-inode route; `*missing` is set when this file system lacks it.
Status publishUnnamed(const std::string& path, std::string_view data, bool sync, mode_t mode,
                      bool* missing) {
  const std::string dir = parentDirectory(path);
  UniqueFd fd(::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!fd) {
    int err = errno;
    if (!isMissingRoute(err)) return Status::fromErrno(err, "create", path);
    *missing = true;
    return Status();
  }
  Status st = writeAll(fd.get(), data);
  if (!st.ok()) return st;
  if (sync && ::fsync(fd.get()) != 0) return Status::fromErrno("fsync", path);
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd.get());
  if (::linkat(AT_FDCWD, proc, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    int err = errno;
    if (err == ENOENT && ::access(proc, F_OK) != 0) {  // no /proc: the link cannot be made
      *missing = true;
      return Status();
    }
    return Status::fromErrno(err, "publish", path);
  }
  return syncParent(dir, sync);
}

}  // namespace

const char* publishRouteFor(const std::string& dir) {
  struct stat ds;
  if (::stat(dir.empty() ? "." : dir.c_str(), &ds) != 0) return "unknown";
  switch (publishRoutes().get(ds.st_dev)) {
    case PublishRoute::kUnnamed:
      return "unnamed";
    case PublishRoute::kRename:
      return "rename";
    case PublishRoute::kLink:
      return "link";
  }
  return "unknown";
}

std::string temporaryNameFor(const std::string& path) {
  return temporarySibling(path);
}

// The text goes to an unnamed O_TMPFILE inode of the target directory and is
// linked under its final name only when complete. A temporary name and a
// rename would cost three directory changes per file under the directory's
// lock (and ext4 allocates the inode while holding it), so writers to one
// busy queue directory would wait for each other; an unnamed inode is
// allocated without that lock and the link is one change. A crash leaves no
// temporary name behind either. Where the file system lacks it (or /proc is
// not mounted: the link goes through /proc/self/fd), the routes through a
// hidden temporary name take over, for that file system only.
Status publishFile(const std::string& path, std::string_view data, bool sync, mode_t mode) {
  const std::string dir = parentDirectory(path);
  struct stat ds;
  if (::stat(dir.empty() ? "." : dir.c_str(), &ds) != 0) return Status::fromErrno("create", path);
  PublishRoute route = publishRoutes().get(ds.st_dev);
  if (route == PublishRoute::kUnnamed) {
    bool missing = false;
    Status st = publishUnnamed(path, data, sync, mode, &missing);
    if (!missing) return st;
    publishRoutes().demote(ds.st_dev, PublishRoute::kRename);
    route = publishRoutes().get(ds.st_dev);
  }
  return publishByName(path, data, sync, mode, ds.st_dev, route);
}

void restrictFileCreationMask() {
  ::umask(027);
}

namespace {

bool isPublishTemporary(std::string_view name) {
  if (name.rfind(".~tmp-", 0) == 0) return true;
  return name.size() > 6 && name.front() == '.' && name.substr(name.size() - 5) == ".part";
}

size_t sweepTemporaries(const std::string& dir, int depth, SystemTime cutoff) {
  size_t removed = 0;
  std::vector<std::string> subdirs;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  while (struct dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = joinPath(dir, name);
    if (isPublishTemporary(name)) {
      struct stat st;
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          SystemTime{} + std::chrono::seconds(st.st_mtim.tv_sec) <= cutoff &&
          ::unlink(path.c_str()) == 0)
        ++removed;
      continue;
    }
    if (depth > 0 && name.front() != '.' &&
        (e->d_type == DT_DIR || (e->d_type == DT_UNKNOWN && isDirectory(path))))
      subdirs.push_back(std::move(path));
  }
  ::closedir(d);
  for (const std::string& sub : subdirs) removed += sweepTemporaries(sub, depth - 1, cutoff);
  return removed;
}

}  // namespace

size_t removeStaleTemporaries(const std::string& dir, int depth, std::chrono::seconds min_age) {
  return sweepTemporaries(dir, depth, clock().now() - min_age);
}

Status writeNewFile(const std::string& path, std::string_view data, bool sync, mode_t mode) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd) return Status::fromErrno("create", path);
  Status st = writeAll(fd.get(), data);
  if (st.ok() && sync && ::fsync(fd.get()) != 0) st = Status::fromErrno("fsync", path);
  if (!st.ok()) ::unlink(path.c_str());
  return st;
}

Status appendToFile(const std::string& path, std::string_view data, mode_t mode) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, mode));
  if (!fd) return Status::fromErrno("open", path);
  return writeAll(fd.get(), data);
}

Status makeDirectories(const std::string& path, mode_t mode) {
  if (path.empty()) return Status();
  std::string partial;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    partial = path.substr(0, slash);
    pos = slash + 1;
    if (partial.empty() || partial == "." || partial == "..") continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST)
      return Status::fromErrno("mkdir", partial);
  }
  if (!isDirectory(path)) return Status::error(path + ": not a directory", ENOTDIR);
  return Status();
}

Status removeFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Status::fromErrno("unlink", path);
  return Status();
}

Status removeDirectory(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) return Status::fromErrno("rmdir", path);
  return Status();
}

Status renamePath(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return Status::fromErrno("rename", from);
  return Status();
}

Status renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
    return Status::fromErrno("rename", from);
  return Status();
}

void forEachEntry(const std::string& dir, std::string_view pattern, const ListOptions& options,
                  const std::function<bool(const DirEntry&)>& visit) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return;
  size_t count = 0;
  while (count < options.limit) {
    struct dirent* e = ::readdir(d);
    if (e == nullptr) break;
    if (e->d_name[0] == '.') {  // ".", "..", temporaries
      const bool dots = e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0');
      if (dots || !options.hidden) continue;
    }
    bool is_dir;
    bool is_link = e->d_type == DT_LNK;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      is_link = ::lstat(joinPath(dir, e->d_name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }
    if (e->d_type == DT_UNKNOWN || is_link) {
      is_dir = isDirectory(joinPath(dir, e->d_name));
    } else {
      is_dir = e->d_type == DT_DIR;
    }
    if (is_dir ? !options.directories : !options.files) continue;
    if (!globMatchNoCase(pattern, e->d_name)) continue;
    ++count;
    if (!visit(DirEntry{e->d_name, is_dir, is_link})) break;
  }
  ::closedir(d);
}

std::vector<DirEntry> listDirectory(const std::string& dir, std::string_view pattern,
                                    const ListOptions& options) {
  std::vector<DirEntry> out;
  ListOptions unlimited = options;
  if (options.sorted) unlimited.limit = SIZE_MAX;
  forEachEntry(dir, pattern, unlimited, [&](const DirEntry& e) {
    out.push_back(e);
    return true;
  });
  if (options.sorted) {
    std::sort(out.begin(), out.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    if (out.size() > options.limit) out.resize(options.limit);
  }
  return out;
}

std::optional<std::string> findNameNoCase(const std::string& dir, std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
  std::string exact = joinPath(dir, name);
  if (pathExists(exact)) return std::string(name);
  std::optional<std::string> found;
  ListOptions opts;
  opts.directories = true;
  forEachEntry(dir, "*", opts, [&](const DirEntry& e) {
    if (equalsNoCase(e.name, name)) {
      found = e.name;
      return false;
    }
    return true;
  });
  return found;
}

std::string resolvePathNoCase(const std::string& dir, std::string_view name) {
  auto found = findNameNoCase(dir, name);
  return joinPath(dir, found ? *found : std::string(name));
}

Result<UniqueFd> openLocked(const std::string& path, int flags, mode_t mode) {
  UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC, mode));
  if (!fd) return Status::fromErrno("open", path);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return Status::fromErrno("flock", path);
  }
  return fd;
}

Result<UniqueFd> claimFile(const std::string& path) {
  auto fd = openLocked(path, O_RDWR);
  if (!fd.ok()) return fd;
  // The previous holder may have released the file between our listing (or
  // open) and our lock: unlinked it (link count 0, or the name now names
  // another file) or, where its unlink failed, left it truncated. Another
  // gateway on a shared queue may have sent it meanwhile. Either way we
  // hold a lock on a dead file.
  // AT_STATX_FORCE_SYNC: on a shared file system (NFS, FUSE) the client's
  // cached attributes may predate the other host's release; ask the server.
  // Local file systems ignore the flag.
  constexpr int kFresh = AT_STATX_FORCE_SYNC;
  constexpr unsigned kWanted = STATX_NLINK | STATX_SIZE | STATX_INO;
  struct statx by_fd, by_name;
  if (::statx(fd->get(), "", AT_EMPTY_PATH | kFresh, kWanted, &by_fd) != 0 ||
      by_fd.stx_nlink == 0 || by_fd.stx_size == 0 ||
      ::statx(AT_FDCWD, path.c_str(), kFresh, kWanted, &by_name) != 0 ||
      by_name.stx_ino != by_fd.stx_ino || by_name.stx_dev_major != by_fd.stx_dev_major ||
      by_name.stx_dev_minor != by_fd.stx_dev_minor) {
    return Status::error(path + ": released by another holder", ENOENT);
  }
  return fd;
}

bool isLockedElsewhere(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  ::flock(fd.get(), LOCK_UN);
  return false;
}

Status releaseClaimedFile(const std::string& path, UniqueFd fd) {
  Status st;
  if (fd && ::ftruncate(fd.get(), 0) != 0) st = Status::fromErrno("ftruncate", path);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT && st.ok())
    st = Status::fromErrno("unlink", path);
  fd.reset();
  return st;
}

}  // namespace vek::platform
