// The outbound queue tree: where a request file goes and how it gets a
// unique name.
//
//   <QDir>/                         messages with no route
//   <QDir>/RT_-_<route>_-_<sub>/    route partition (UseRouteQueues), with
//                                   the writer's sub-directory name appended
//   <QDir>/<sub>###0001/            overflow partition: count / MaxQDirEntries
//   <QDir>/MMSQ__.../               queued MMS notifications (not counted)
//   <QDir>/DELAYQ/20261209/0905/    messages scheduled for later
//
// Names from outside (route, sub-directory, MessageIDPrefix, a segment's
// sender) never leave their directory: ':', '/' and '\' become '-', control
// characters and NUL are dropped, and a directory name never starts with
// '.' (so neither "." nor ".." nor a hidden name can be formed).
//
// Files are published whole (hidden temporary, then a rename that never
// replaces an existing name), so a scan never sees half a file. Every
// function is thread-safe; unique names rest on the unique id counter's
// lock and the no-replace rename.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"

namespace vek::queue {

// "RT_-_" + route + "_-_": the start of a route partition's name.
constexpr std::string_view kRoutePartitionPrefix = "RT_-_";
constexpr std::string_view kRoutePartitionSuffix = "_-_";
constexpr std::string_view kDelayDirectory = "DELAYQ";
constexpr std::string_view kMMSQueuePrefix = "MMSQ__";
// A name a writer may create at most this many times before giving up.
constexpr int kCreateAttempts = 1000;

// Where a new request file goes (path ending in '/'), below `root`:
//  - `scheduled` later than the current local time (to the minute): under
//    "DELAYQ/<yyyymmdd>/<hhmm>/", each level created here; when one cannot
//    be made, the root is used instead;
//  - a route that does not begin with "localuser:" (UseRouteQueues on),
//    a sub-directory name, or a count of at least MaxQDirEntries: one more
//    directory level "RT_-_<route>_-_<sub>###%04X" (each part when it
//    applies), not created here; with a count equal to MaxQDirEntries and no
//    route or sub-directory the file stays in the root.
std::string QueueDirectoryIn(const std::string& root, std::string_view route,
                             std::string_view sub_directory = {}, uint64_t count = 0,
                             const platform::CalendarTime* scheduled = nullptr);
// The same below the configured queue directory (QDir).
std::string GetQueueDirectory(std::string_view route, std::string_view sub_directory = {},
                              uint64_t count = 0,
                              const platform::CalendarTime* scheduled = nullptr);

// Publishes `text` under a new name "<dir><MessageIDPrefix><id %08X>.<ext>"
// ("." only when `extension` is not empty) and returns the full path.
// A taken name takes a new id; the first failure creates the missing
// directories and tries the same name again (so do later failures that
// find the directory gone); after 1000 attempts in all the result is the
// last failure. Writers pass "req", "in", "rec" or "rct". An empty
// directory is refused (EINVAL). `UseTempFileAttribute` has no meaning
// here: files are plain; `SyncQueueWrites` syncs file and directory.
// `MessageIDPrefix` as file names carry it (cleaned, never starting with '.').
std::string messageIdPrefix();

platform::Result<std::string> CreateQueueFile(const std::string& directory,
                                              std::string_view extension, std::string_view text);

// What CreateQueueFile and CreateTemporaryFile (naming_counters.h) share:
// publishes `text` as "<directory><next_name()>" plus "." and the cleaned
// extension when there is one, calling `next_name` again while the name is
// taken, with the directory and attempt rules of CreateQueueFile. The last
// failure is written to the debug log under `log_label`.
platform::Result<std::string> publishUnderFreshName(const std::string& directory,
                                                    std::string_view extension,
                                                    std::string_view text,
                                                    const std::function<std::string()>& next_name,
                                                    const char* log_label);

// A long message's segment, named so that its siblings can be found:
// "<dir>SAR-<MessageIDPrefix><address>-<id %x>-<total>-<number>.<ext>",
// the address cleaned ('?', '*', ':', '/', '\', '|' and control characters
// become '!') and cut to 50 characters, total and number modulo 256.
// Replaces an existing file of that name; creates missing directories and
// tries once more on failure. Returns the full path.
std::string segmentFileName(std::string_view address, uint32_t id, unsigned total, unsigned number,
                            std::string_view extension);
platform::Result<std::string> CreateSegmentFile(const std::string& directory,
                                                std::string_view address, uint32_t id,
                                                unsigned total, unsigned number,
                                                std::string_view extension, std::string_view text);

// The directory name a route partition has (without the writer's
// sub-directory part): "RT_-_" + cleaned route + "_-_".
std::string routePartitionName(std::string_view route);
// The route part of a partition name: the text between "RT_-_" and the
// next "_-_" (the rest when there is none). False when `name` is not a
// route partition.
bool routeOfPartition(std::string_view name, std::string* route);
// Whether a link known by `link_names` (its link name, route name, the
// names it backs up) may look into the queue sub-directory `name`: always
// for a directory that is not a route partition; for a partition when its
// route part equals one of the names, cleaned like a partition name,
// ignoring case.
bool routePartitionOpenTo(std::string_view name, const std::vector<std::string>& link_names);

// One path component made from outside text: ':', '/', '\' -> '-', control
// characters and NUL dropped, cut to `max_len` bytes. Empty stays empty; a
// leading '.' is left for the caller to refuse where the part starts a name.
std::string cleanNamePart(std::string_view text, size_t max_len);

}  // namespace vek::queue
