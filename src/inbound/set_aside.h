// Setting inbound files aside: what nothing handled (".SMS") or what was
// given up (".BAD") is kept in the dated set-aside directory
// (foundation::setAsideDirectory(): "SMS-IN/<yyyymmdd>[nn]/") under the
// file's own base name, with the file's time stamp, before the inbound
// file itself goes. A taken name gets "_1", "_2", ... appended.
//
// Thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vek::inbound {

// Writes `text` as the set-aside copy of the inbound file `relative` with
// `extension` (".SMS", ".BAD"). False when no copy could be written (the
// file must then stay). `tag` names the caller in the debug log.
bool copyAside(std::string_view tag, const std::string& relative, const std::string& text,
               platform::SystemTime modified, std::string_view extension);

// Moves the file at `path` whole into the set-aside directory as ".BAD"
// (for a file too large to read). True when moved.
bool moveAside(std::string_view tag, const std::string& path, const std::string& relative);

}  // namespace vek::inbound
