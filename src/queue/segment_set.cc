#include "queue/segment_set.h"

#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "platform/directory_sync.h"
#include "platform/files.h"

namespace vek::queue {
namespace {

void removeAll(const std::vector<std::string>& paths, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) (void)platform::removeFile(paths[i]);
}

}  // namespace

platform::Result<std::vector<std::string>> PublishSegmentSet(
    const std::string& directory_in, const std::vector<SegmentFileText>& files) {
  const std::string directory = platform::withTrailingSlash(directory_in);
  const bool sync = foundation::settings()->SyncQueueWrites;
  std::vector<std::string> hidden, paths;
  hidden.reserve(files.size());
  paths.reserve(files.size());
  for (const SegmentFileText& f : files) {
    hidden.push_back(directory + "." + f.name + ".part");
    paths.push_back(directory + f.name);
  }

  bool made_directory = false;
  for (size_t i = 0; i < files.size(); ++i) {
    platform::Status st = platform::writeFileAtomic(hidden[i], files[i].text, sync);
    if (!st.ok() && !made_directory) {
      made_directory = true;
      (void)platform::makeDirectories(directory);
      st = platform::writeFileAtomic(hidden[i], files[i].text, sync);
    }
    if (!st.ok()) {
      removeAll(hidden, 0, i);
      foundation::DebugLogf("PublishSegmentSet", "Error %d writing %s: %s", st.code(),
                            paths[i].c_str(), st.message().c_str());
      return st;
    }
  }

  for (size_t i = 0; i < files.size(); ++i) {
    platform::Status st = platform::renamePath(hidden[i], paths[i]);
    if (!st.ok()) {
      removeAll(hidden, i, files.size());
      removeAll(paths, 0, i);
      foundation::DebugLogf("PublishSegmentSet", "Error %d publishing %s: %s", st.code(),
                            paths[i].c_str(), st.message().c_str());
      return st;
    }
  }
  // The files are visible and will be sent; a failed directory sync only
  // weakens their survival of a power loss, so it is logged, not returned.
  if (sync && !files.empty()) {
    platform::Status st = platform::syncDirectory(directory);
    if (!st.ok()) {
      foundation::DebugLogf("PublishSegmentSet", "Error %d syncing %s: %s", st.code(),
                            directory.c_str(), st.message().c_str());
    }
  }
  return paths;
}

}  // namespace vek::queue
