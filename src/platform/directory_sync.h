// Making a directory's entries durable: after a file is renamed into
// place, fsync on the directory writes the new entry to disk, so the name
// survives a power loss as well as the data (which the writer synced
// before the rename). Thread-safe; no state.
#pragma once

#include <string>

#include "platform/status.h"

namespace vek::platform {

// fsync(2) of the directory `dir` (with or without a trailing '/').
Status syncDirectory(const std::string& dir);

}  // namespace vek::platform
