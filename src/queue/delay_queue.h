// The delay queue: releases messages scheduled for later into the outbound
// queue when their minute has come.
//
//   <QDir>/DELAYQ/<yyyymmdd>/<hhmm>/<file>          -> <QDir>/<file>
//   <QDir>/DELAYQ/<yyyymmdd>/<hhmm>/<sub>/<file>    -> <QDir>/<sub>/<file>
//
// A pass looks at date directories of exactly 8 digits dated today or
// earlier, and in them at time directories whose first 4 characters are
// digits and whose date and time are at or before the current local time
// (names matched without regard to case). "At or before" compares the
// fields (year, month, day, hour, minute) with the local time: a time that
// a daylight-saving change skips is released at the first minute after the
// gap, and one that occurs twice at its first occurrence (the directory is
// gone after that). Every file of a due time directory and of its direct
// sub-directories (route partitions and other queue sub-directories) goes
// to the same place under the queue root, created when missing; emptied
// directories are removed (today's date directory only once it is past,
// since writers may be adding later times to it).
//
// A move is one rename that never replaces a file (so the message is never
// in both places, and a file of the same name already queued is never
// overwritten: the delayed one waits, logged, until the name is free).
// Where the rename is impossible (the delay area on another file system)
// the file is copied in three steps that a crash at any point cannot turn
// into two visible copies or none:
//
//   1. the text is written whole to "<dest>/.c-<name>" (hidden: no sender
//      looks at it);
//   2. the original is renamed to ".m-<name>" beside itself: the copy is
//      complete and is now the message;
//   3. ".c-<name>" is renamed to "<name>" without replacing (the message
//      becomes visible), then ".m-<name>" is deleted.
//
// A ".m-<name>" found later means step 3 is due when ".c-<name>" still
// exists and done when it does not. The delay area itself is never visible
// to the senders, so the original there never counts as a second copy.
//
// Threads: one ThreadProcessDelayQ thread is the only mover of the delay
// area. Functions are stateless and thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "queue/bulk_queue.h"

namespace vek::queue {

struct DelayQueueConfig {
  std::string queue_directory;  // QDir
  bool sync = false;            // SyncQueueWrites
  QueuedCount on_queued;
  // Tests: move by copying, as across file systems.
  bool force_copy = false;
  // Crash tests: asked before every change to the file system; false ends
  // the pass there, as a kill -9 would.
  std::function<bool(std::string_view step)> before_step;
};

DelayQueueConfig delayQueueConfig();

// One pass. Returns the number of messages moved into the queue.
uint64_t processDelayQueue(const DelayQueueConfig& config);

// The thread body: a pass, then a one-second pause, until shutdown.
void ThreadProcessDelayQ(const QueuedCount& on_queued);

}  // namespace vek::queue
