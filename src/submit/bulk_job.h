// A bulk job: a submission to more recipients than one queue directory
// should hold, stored compactly for the bulk queue threads to expand:
//
//   <BulkQDir>/<id %08X>/
//     BUILD.LCK            held (flock) while the job is written
//     QDelay-<yyyymmddhhmm>.FLG   when the job must wait for DelayUntil
//     M1.REQ, M2.REQ ...   one template per part: the request file
//                          without its recipient
//     R0000001.BLK ...     recipient lists of `recipients_per_block` lines:
//                          "<file name>=<recipient>[;<route>]\r\n"
//
// File names in the lists are "<prefix><id %08X>.req" for a single
// message and "SAR-<prefix><recipient>-<id %x>-<total>-@@CTR@@.req" for a
// long message (the bulk thread puts the template number in place of
// "@@CTR@@"); every recipient gets its own id.
//
// The job is written in a hidden directory (".<id>") that no scan sees and
// renamed into place only when every file is complete, so the bulk queue
// never expands half a job; a job that fails on the way is removed again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "submit/message.h"
#include "submit/queueing.h"

namespace vek::submit {

// The bulk thread reads templates "M1.REQ" to "M99.REQ".
inline constexpr size_t kMaxBulkTemplates = 99;

struct BulkJobPlan {
  std::string directory;  // the bulk queue directory
  uint64_t recipients_per_block = 10000;
};

// Writes the job; the files it names, in recipient and part order (their
// paths are empty: the bulk thread creates them), or the failure.
platform::Result<std::vector<QueuedFile>> writeBulkJob(const Message& m,
                                                       const EncodedMessage& content,
                                                       const BulkJobPlan& plan);

// A recipient as part of a file name in a recipient list: characters that
// a path or the list's line form would misread become '!', cut to 50.
std::string bulkNameAddress(std::string_view recipient);

}  // namespace vek::submit
