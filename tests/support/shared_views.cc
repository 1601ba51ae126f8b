#include "support/shared_views.h"

#include <sys/stat.h>

#include "platform/files.h"
#include "platform/process.h"

namespace vek::testing {
namespace {

bool sameFileSystem(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

}  // namespace

SharedDirectoryViews::SharedDirectoryViews(const std::string& base, int count) {
  source_ = platform::joinPath(base, "shared/");
  if (!platform::findProgram("bindfs")) {
    why_ = "the bindfs program is not installed (Debian package bindfs)";
    return;
  }
  if (!platform::makeDirectories(source_).ok()) {
    why_ = "cannot create " + source_;
    return;
  }
  for (int i = 0; i < count; ++i) {
    std::string view = platform::joinPath(base, "view" + std::to_string(i) + "/");
    if (!platform::makeDirectories(view).ok()) {
      why_ = "cannot create " + view;
      return;
    }
    platform::ProcessOptions o;
    o.argv = {"bindfs", "--multithreaded", "--enable-lock-forwarding", source_, view};
    o.merge_stderr = true;
    o.time_limit = std::chrono::seconds(20);
    platform::ProcessResult r = platform::runProcess(o);
    if (!r.exitedWith(0) || sameFileSystem(view, source_)) {
      why_ = "bindfs could not mount a view (is FUSE available?): " + r.output;
      return;
    }
    mounted_.push_back(view);
    views_.push_back(view);
  }
}

SharedDirectoryViews::~SharedDirectoryViews() {
  for (const std::string& view : mounted_) {
    for (const char* tool : {"fusermount3", "fusermount", "umount"}) {
      if (!platform::findProgram(tool)) continue;
      platform::ProcessOptions o;
      o.argv = {tool};
      if (std::string(tool) != "umount") o.argv.push_back("-u");
      o.argv.push_back(view);
      o.time_limit = std::chrono::seconds(20);
      if (platform::runProcess(o).exitedWith(0)) break;
    }
  }
}

}  // namespace vek::testing
