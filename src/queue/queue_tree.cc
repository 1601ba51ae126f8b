#include "queue/queue_tree.h"

#include <cerrno>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/settings.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/unique_id.h"

namespace vek::queue {
namespace {

// Linux allows 255 bytes per name; the overflow suffix and the file-name
// parts around a prefix need the rest.
constexpr size_t kMaxDirectoryName = 240;
constexpr size_t kMaxPrefix = 99;
constexpr size_t kMaxSegmentAddress = 50;
constexpr std::string_view kLocalUser = "localuser:";

bool isControl(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

uint64_t maxDirEntries() {
  int32_t v = foundation::settings()->MaxQDirEntries;
  return v <= 0 ? 10000u : static_cast<uint64_t>(v);
}

// A leading '.' would make the name hidden from every scan, or "." / "..".
void refuseLeadingDot(std::string* name) {
  if (!name->empty() && name->front() == '.') name->front() = '_';
}

// Later than now, field by field down to the minute.
bool laterThanNow(const platform::CalendarTime& t) {
  platform::CalendarTime now = platform::localNow();
  const int a[] = {t.year, t.month, t.day, t.hour, t.minute};
  const int b[] = {now.year, now.month, now.day, now.hour, now.minute};
  for (size_t i = 0; i < 5; ++i)
    if (a[i] != b[i]) return a[i] > b[i];
  return false;
}

// root + "DELAYQ/<date>/<time>/", each level created; "" when one fails.
std::string delayDirectory(const std::string& root, const platform::CalendarTime& t) {
  std::string dir = root;
  const std::string levels[] = {std::string(kDelayDirectory),
                                platform::format("%04d%02d%02d", t.year, t.month, t.day),
                                platform::format("%02d%02d", t.hour, t.minute)};
  for (const std::string& level : levels) {
    dir += level + "/";
    if (!platform::isDirectory(dir) && !platform::makeDirectories(dir).ok()) return std::string();
  }
  return dir;
}

// The address part of a segment name.
std::string segmentAddress(std::string_view address) {
  std::string out;
  for (char c : address) {
    if (out.size() >= kMaxSegmentAddress) break;
    if (c == '?' || c == '*' || c == ':' || c == '/' || c == '\\' || c == '|' || isControl(c))
      c = '!';
    out += c;
  }
  return out;
}

}  // namespace

std::string messageIdPrefix() {
  std::string prefix = cleanNamePart(foundation::settings()->MessageIDPrefix, kMaxPrefix);
  refuseLeadingDot(&prefix);
  return prefix;
}

std::string cleanNamePart(std::string_view text, size_t max_len) {
  std::string out;
  out.reserve(std::min(text.size(), max_len));
  for (char c : text) {
    if (out.size() >= max_len) break;
    if (isControl(c)) continue;
    if (c == ':' || c == '/' || c == '\\') c = '-';
    out += c;
  }
  return out;
}

std::string routePartitionName(std::string_view route) {
  return std::string(kRoutePartitionPrefix) + cleanNamePart(route, kMaxDirectoryName) +
         std::string(kRoutePartitionSuffix);
}

std::string QueueDirectoryIn(const std::string& root_in, std::string_view route,
                             std::string_view sub_directory, uint64_t count,
                             const platform::CalendarTime* scheduled) {
  const std::string root = platform::withTrailingSlash(root_in);
  std::string dir = root;
  if (scheduled != nullptr && laterThanNow(*scheduled)) {
    std::string delayed = delayDirectory(root, *scheduled);
    if (!delayed.empty()) dir = delayed;
  }
  const uint64_t max = maxDirEntries();
  const bool local_user =
      route.size() >= kLocalUser.size() && platform::startsWithNoCase(route, kLocalUser);
  if (sub_directory.empty() && count <= max && (route.empty() || local_user)) return dir;

  std::string name;
  if (!route.empty() && !local_user && foundation::settings()->UseRouteQueues) {
    name = routePartitionName(route);
  }
  name += sub_directory;
  name = cleanNamePart(name, kMaxDirectoryName);
  if (count >= max)
    name += platform::format("###%04llX", static_cast<unsigned long long>(count / max));
  // A route with UseRouteQueues off and nothing else appended: the root.
  if (name.empty()) return dir;
  refuseLeadingDot(&name);
  return dir + name + "/";
}

std::string GetQueueDirectory(std::string_view route, std::string_view sub_directory,
                              uint64_t count, const platform::CalendarTime* scheduled) {
  return QueueDirectoryIn(foundation::queueDirectory(), route, sub_directory, count, scheduled);
}

platform::Result<std::string> publishUnderFreshName(const std::string& directory_in,
                                                    std::string_view extension,
                                                    std::string_view text,
                                                    const std::function<std::string()>& next_name,
                                                    const char* log_label) {
  // "" would become "/", the file system's root.
  if (directory_in.empty())
    return platform::Status::error(std::string(log_label) + ": no directory", EINVAL);
  const std::string directory = platform::withTrailingSlash(directory_in);
  const std::string ext = cleanNamePart(extension, 16);
  const bool sync = foundation::settings()->SyncQueueWrites;
  platform::Status last;
  std::string path;
  bool same_name_again = false;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!same_name_again) {
      path = directory + next_name();
      if (!ext.empty()) path += "." + ext;
    }
    same_name_again = false;
    last = platform::publishFile(path, text, sync);
    if (last.ok()) return path;
    // The directory may not exist yet (partitions are made by their first
    // file), or a scan removed it as empty a moment ago.
    if (attempt == 0 || last.code() == ENOENT) {
      (void)platform::makeDirectories(directory);
      same_name_again = attempt == 0;
    }
  }
  foundation::DebugLogf(log_label, "No unique name in %s after %d attempts: %s", directory.c_str(),
                        kCreateAttempts, last.message().c_str());
  return last;
}

platform::Result<std::string> CreateQueueFile(const std::string& directory,
                                              std::string_view extension, std::string_view text) {
  const std::string prefix = messageIdPrefix();
  return publishUnderFreshName(
      directory, extension, text,
      [&prefix] { return prefix + platform::format("%08X", NextUniqueMessageId()); },
      "CreateQueueFile");
}

std::string segmentFileName(std::string_view address, uint32_t id, unsigned total, unsigned number,
                            std::string_view extension) {
  std::string name = "SAR-" + messageIdPrefix() + segmentAddress(address) +
                     platform::format("-%x-%u-%u", id, total % 256, number % 256);
  std::string ext = cleanNamePart(extension, 16);
  if (!ext.empty()) name += "." + ext;
  return name;
}

platform::Result<std::string> CreateSegmentFile(const std::string& directory_in,
                                                std::string_view address, uint32_t id,
                                                unsigned total, unsigned number,
                                                std::string_view extension, std::string_view text) {
  if (directory_in.empty())
    return platform::Status::error("CreateSegmentFile: no directory", EINVAL);
  const std::string directory = platform::withTrailingSlash(directory_in);
  const std::string path = directory + segmentFileName(address, id, total, number, extension);
  const bool sync = foundation::settings()->SyncQueueWrites;
  platform::Status st = platform::writeFileAtomic(path, text, sync);
  if (!st.ok()) {
    (void)platform::makeDirectories(directory);
    st = platform::writeFileAtomic(path, text, sync);
  }
  if (!st.ok()) return st;
  return path;
}

bool routeOfPartition(std::string_view name, std::string* route) {
  if (!platform::startsWithNoCase(name, kRoutePartitionPrefix)) return false;
  std::string_view rest = name.substr(kRoutePartitionPrefix.size());
  size_t end = rest.find(kRoutePartitionSuffix);
  *route = std::string(end == std::string_view::npos ? rest : rest.substr(0, end));
  return true;
}

bool routePartitionOpenTo(std::string_view name, const std::vector<std::string>& link_names) {
  std::string route;
  if (!routeOfPartition(name, &route)) return true;
  for (const std::string& link : link_names) {
    if (platform::equalsNoCase(route, cleanNamePart(link, kMaxDirectoryName))) return true;
  }
  return false;
}

}  // namespace vek::queue
