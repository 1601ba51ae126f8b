// Several views of one directory through bindfs (FUSE), each its own file
// system, with flock forwarded to the directory underneath: the stand-in for
// several hosts (NFS clients) sharing one queue directory. Like those, the
// views have no O_TMPFILE and no RENAME_NOREPLACE.
//
// Needs the bindfs program and a usable FUSE; when either is missing,
// ready() is false and why() says what is missing (tests skip with it).
// The views are unmounted by the destructor, so declare an object of this
// class after the TempDir that holds `base`.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vek::testing {

class SharedDirectoryViews {
 public:
  // Makes `base`/shared and mounts `count` views of it as `base`/view<i>.
  SharedDirectoryViews(const std::string& base, int count);
  ~SharedDirectoryViews();
  SharedDirectoryViews(const SharedDirectoryViews&) = delete;
  SharedDirectoryViews& operator=(const SharedDirectoryViews&) = delete;

  bool ready() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  // The directory itself and the views (each ending in '/').
  const std::string& source() const { return source_; }
  const std::string& view(size_t i) const { return views_.at(i); }

 private:
  std::string source_;
  std::vector<std::string> views_;
  std::vector<std::string> mounted_;
  std::string why_;
};

#define VEK_REQUIRE_SHARED_VIEWS(views)                                         \
  do {                                                                          \
    if (!(views).ready()) GTEST_SKIP() << "no bindfs views: " << (views).why(); \
  } while (0)

}  // namespace vek::testing
