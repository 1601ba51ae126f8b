// Publishing the request files of one long message as a set: all of them
// become visible, or none does.
//
// Every file is first written whole under a hidden name in the target
// directory ('.' + its name + ".part": no scan returns it), so the writes
// that can fail (no space, no directory, I/O errors) all happen before any
// segment is visible. Then the files are renamed into place in ascending
// order (an older file of the same name is replaced, as CreateSegmentFile
// does), so a link sender that sees segment n also sees every lower
// segment that is still queued. When anything fails, what was written is
// removed again, names already published included, and the failure is
// returned.
//
// Thread-safe: names of different long messages never collide (each has
// its own unique id); no state is kept.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace vek::queue {

struct SegmentFileText {
  std::string name;  // base name, from segmentFileName()
  std::string text;  // the whole request file
};

// Publishes `files` in `directory` (created when missing) and returns
// their full paths in the same order. With SyncQueueWrites on, data and
// directory entries are synced.
platform::Result<std::vector<std::string>> PublishSegmentSet(
    const std::string& directory, const std::vector<SegmentFileText>& files);

}  // namespace vek::queue
