// The bulk queue: turns bulk jobs (a submission to many recipients stored
// as message templates plus recipient lists) into one request file per
// recipient and template, at a pace the outbound queue can absorb.
//
//   <BulkQDir>/<job>/
//     BUILD.LCK                  held (flock) by the writer while it adds files
//     QDelay-<yyyymmddhhmm>.FLG  optional: do not start before that local time
//     M1.REQ ... M99.REQ         templates: a request file without recipient
//     R<n>.BLK                   recipient lists, "<name>=<recipient>[;<route>]"
//     LOCK.LCK                   held (flock) by the bulk thread working on it
//
// A pass visits every job: a due flag file is deleted (one whose name holds
// no valid time is left and the job starts); "LOCK.LCK" is created and
// locked without waiting, so one thread works on a job at a time; the
// templates are read; up to 20 rounds expand every list; then "BUILD.LCK"
// is deleted unless its writer still holds it, and a job with neither
// writer nor lists left is removed. A job without any template has nothing
// to send and is removed the same way (logged).
//
// Expansion and crashes. Every recipient must become its request files
// exactly once, even when the process is killed at any instruction. A list
// is expanded in chunks of at most max(1, MaxQDirEntries / 2) files, so that
// no queue partition ever holds more than half of MaxQDirEntries; all of a
// recipient's files (one per template) stay in one chunk. For the chunk of
// list items [a, b):
//
//   1. the chunk's files are written into a staging directory
//      "<QDir>/.bulk-<job inode>-<a>-<list>/" (hidden: no scan, no sender
//      and no queue cache pass looks at names starting with '.');
//   2. the list is renamed to ".part-<a>-<b>-<list>" in the job directory:
//      it records that the items before b are handled once the staging
//      directory of a is gone;
//   3. the staging directory is renamed, in one step, to a new partition
//      "<QDir>/####<id %04X>/" (never replacing one): all its files become
//      visible to the senders at once, and the staging directory is gone;
//   4. the next chunk starts at b; after the last one the list is deleted.
//
// On every job start (under LOCK.LCK) a list named ".part-<a>-<b>-<list>"
// resumes at a when the staging directory of a still exists (step 3 never
// happened: its files are invisible and are written again) and at b when it
// is gone (step 3 happened). A staging directory left before step 2 is
// emptied when its chunk is written again. Both renames stay inside one
// file system (the staging directory lives in the queue tree), so neither
// can degrade into a copy. A write failure (disk full, permissions) stops
// the job for this pass in the same state a crash would leave, and the
// list is expanded again later: no recipient is dropped. Lines that can
// never become a file (no '=', no recipient, an unusable name, longer than
// 1024 bytes) are refused with a debug-log line.
//
// Pacing: after a list, while the partitions it filled hold at least half
// of MaxQDirEntries request files (at least 2) together, the thread waits
// in steps of a second ("Waiting on q directory" once before, "Done waiting
// on q directory" after), so a job feeds the queue as fast as the links
// empty it.
//
// Threads: three ThreadProcessBulkQ threads share the jobs; each job is
// worked on by the thread that holds its LOCK.LCK. Functions are otherwise
// stateless and thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vek::queue {

// Told how many request files were just put into the outbound queue (the
// queue-size counter).
using QueuedCount = std::function<void(uint32_t files)>;

struct BulkQueueConfig {
  std::string bulk_directory;   // BulkQDir
  std::string queue_directory;  // QDir
  uint64_t max_dir_entries = 10000;
  bool sync = false;  // SyncQueueWrites: files and directories fsync'ed
  QueuedCount on_queued;
  // Pacing: off only where nothing empties the queue (tests, benchmarks).
  bool pace = true;
  std::chrono::milliseconds pace_step{1000};  // one second in service
  // Crash tests: asked before every change to the file system, with the
  // step's name; false abandons the pass there, leaving the files as a
  // kill -9 at that point would.
  std::function<bool(std::string_view step)> before_step;
};

// The configuration from the current settings and directories.
BulkQueueConfig bulkQueueConfig();

// One pass over every job. Returns the number of request files queued.
uint64_t processBulkQueue(const BulkQueueConfig& config);

// A thread body: a pass, then a one-second pause, until shutdown.
void ThreadProcessBulkQ(const QueuedCount& on_queued);

}  // namespace vek::queue
