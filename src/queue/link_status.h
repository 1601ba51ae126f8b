// Link status files: a link is down while the file "<name>.ERR" in the
// private data directory exists and is not empty. The name is the link
// name with ':', '/' and '\' turned into '-' (control characters dropped),
// so no link name can point outside that directory. The link sender writes
// the text of its last failure there and removes the file when the link
// works again; route selection reads it for backup links and the web pages
// show it.
//
// Files are replaced whole, so a reader never sees half a text.
// Thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::queue {

// "<dir><cleaned name>.ERR"; `dir` ends in '/'.
std::string linkStatusPathIn(const std::string& dir, std::string_view link_name);
// The same in the private data directory.
std::string linkStatusPath(std::string_view link_name);

platform::Status setLinkStatus(std::string_view link_name, std::string_view text);
platform::Status clearLinkStatus(std::string_view link_name);
// "" when the link is up.
std::string linkStatusText(std::string_view link_name);
bool linkIsDown(std::string_view link_name);

}  // namespace vek::queue
