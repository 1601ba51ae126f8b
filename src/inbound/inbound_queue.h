// The inbound directory as a queue: where a new inbound file goes, and the
// wake-up that follows it.
//
// New files go to the inbound directory, or to a batch sub-directory once
// more files wait than `MaxQDirEntries` (foundation::inboundBatchDirectory)
// so that no single directory grows without bound in a burst. The number
// waiting is this process's own count: files written minus files finished
// since start-up (files left from an earlier run are not counted; the
// count only decides where new files go).
//
// After an ".in" file the inbound wake-up event A is set (the threads of
// kinds 0 and 1 wait on it), after an ".rec" file event B (kind 2), after
// an ".rct" file the receipt thread's event (which also looks every second
// for receipts whose retry time has come).
//
// Thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "inbound/inbound_file.h"
#include "platform/event.h"

namespace vek::inbound {

// The directory (ending in '/') for a new inbound file.
std::string newInboundFileDirectory();
// A complete file of `kind` was published: count it and wake its threads.
void inboundFileWritten(InboundKind kind);
// A waiting file was finished (deleted or set aside).
void inboundFileFinished();
// The receipt thread's wake-up, set after each ".rct" file.
platform::Event& receiptEvent();
// Files waiting by this process's count.
uint64_t inboundFilesWaiting();

}  // namespace vek::inbound
