// SegmentLocks: keeps all segments of one long message on one link.
//
// A lock file in the segment's queue directory, named by the segment file
// name up to the message id ("<key>-<id>.LCK", queue/segment_order.h),
// names the link that owns the message: "Pending:<link>" while a segment
// is being tried, the plain link name once one went out. A link may take a
// segment only when there is no lock yet (it then creates it, without
// replacing one another link made meanwhile), when the lock is empty, or
// when it names this link. When no segment file of the message is left,
// the lock goes 15 seconds later. (The hourly purge removes locks older
// than four hours, e.g. of a link that went away.)
//
// Not used with `DisableLongMessageSMSCCheck`. One object per link thread;
// confirm() and scheduleRemoval() may be called from its result helpers.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace vek::links {

class SegmentLocks {
 public:
  explicit SegmentLocks(std::string link) : link_(std::move(link)) {}

  // True when this link may take the segment `file_name` (a name in
  // `directory`); the lock then says "Pending:<link>".
  bool acquire(const std::string& directory, std::string_view file_name);
  // A segment went out: the lock names the link plainly.
  void confirm(const std::string& directory, std::string_view file_name);
  // A segment left the queue: when none of its message is left, the lock
  // is removed `delay` later (by removeDue).
  void scheduleRemoval(const std::string& directory, std::string_view file_name,
                       platform::SteadyTime now,
                       std::chrono::milliseconds delay = std::chrono::seconds(15));
  // Removes the locks whose time has come and whose message has no segment left.
  void removeDue(platform::SteadyTime now);

 private:
  struct Removal {
    std::string directory;
    std::string message_prefix;  // "<key>-<id>"
    platform::SteadyTime due;
  };
  const std::string link_;
  std::mutex mu_;
  std::vector<Removal> removals_;
};

}  // namespace vek::links
