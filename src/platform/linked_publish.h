// Publishing a new file whole through an unnamed temporary file: the text
// is written to an O_TMPFILE inode of the target directory and linked
// under its final name only when complete. Same contract as publishFile
// (files.h): a scan never sees half a file, and the link never replaces an
// existing name (EEXIST: choose another). With `sync`, file and directory
// are fsync'ed.
//
// Why not the temporary-name-and-rename of publishFile: that costs three
// directory changes per file (create, then rename's remove and add) made
// under the directory's lock, and ext4 allocates the inode while holding
// it, so writers to one queue directory wait for each other. An unnamed
// inode is allocated without the directory lock and the link is one
// change. A crash leaves no temporary name behind either.
//
// Where the file system has no O_TMPFILE, or /proc is not mounted (the link
// goes through /proc/self/fd), it falls back to publishFile.
// Thread-safe.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::platform {

Status publishFileLinked(const std::string& path, std::string_view data, bool sync = false,
                         mode_t mode = 0644);

}  // namespace vek::platform
