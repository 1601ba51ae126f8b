#include "submit/bulk_job.h"

#include <fcntl.h>

#include <cassert>

#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "platform/directory_sync.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"
#include "queue/unique_id.h"
#include "submit/request_file.h"

namespace vek::submit {
namespace {

constexpr size_t kMaxNameAddress = 50;
constexpr std::string_view kCounterMark = "@@CTR@@";

void removeJobDirectory(const std::string& dir) {
  for (const platform::DirEntry& e : platform::listDirectory(dir, "*")) {
    (void)platform::removeFile(dir + e.name);
  }
  // The publishers remove their own temporary files when they fail.
  (void)platform::removeDirectory(dir);
}

class JobWriter {
 public:
  JobWriter(const Message& m, const EncodedMessage& content, const BulkJobPlan& plan)
      : m_(m), content_(content), plan_(plan) {
    sync_ = foundation::settings()->SyncQueueWrites;
  }

  platform::Result<std::vector<QueuedFile>> write() {
    const std::string root = platform::withTrailingSlash(plan_.directory);
    const std::string name = platform::format("%08X", queue::NextUniqueMessageId());
    hidden_ = root + "." + name + "/";
    final_ = root + name + "/";
    platform::Status st = platform::makeDirectories(hidden_);
    if (!st.ok()) return st;
    auto lock = platform::openLocked(hidden_ + "BUILD.LCK", O_CREAT | O_RDWR);
    if (!lock.ok()) return fail(lock.status());
    if (m_.delay_until) {
      st = publish("QDelay-" + m_.delayText() + ".FLG", "");
      if (!st.ok()) return fail(st);
    }
    for (size_t k = 0; k < content_.parts.size(); ++k) {
      st = publish(platform::format("M%zu.REQ", k + 1), requestFileHead(m_, content_.parts[k], ""));
      if (!st.ok()) return fail(st);
    }
    st = writeRecipientLists();
    if (!st.ok()) return fail(st);
    st = platform::renameNoReplace(root + "." + name, root + name);
    if (!st.ok()) return fail(st);
    if (sync_) (void)platform::syncDirectory(root);
    // The job is complete: the bulk queue may finish it and delete it.
    (void)platform::removeFile(final_ + "BUILD.LCK");
    return std::move(files_);
  }

 private:
  platform::Status publish(const std::string& name, std::string_view text) {
    return platform::publishFile(hidden_ + name, text, sync_);
  }

  platform::Status fail(const platform::Status& st) {
    removeJobDirectory(hidden_);
    files_.clear();
    return st;
  }

  platform::Status writeRecipientLists() {
    const size_t parts = content_.parts.size();
    const unsigned total = static_cast<unsigned>(parts);
    const std::string prefix = queue::messageIdPrefix();
    std::string block;
    unsigned block_no = 0;
    uint64_t lines = 0;
    for (size_t i = 0; i < m_.recipients.size(); ++i) {
      const std::string& recipient = m_.recipients[i];
      const std::string& route = m_.routeOf(i);
      const uint32_t id = queue::NextUniqueMessageId();
      std::string file;
      if (parts == 1) {
        file = prefix + platform::format("%08X", id) + ".req";
      } else {
        file = "SAR-" + prefix + bulkNameAddress(recipient) +
               platform::format("-%x-%u-", id, total % 256) + std::string(kCounterMark) + ".req";
      }
      block += file + "=" + recipient;
      if (!route.empty()) block += ";" + route;
      block += "\r\n";
      addFiles(file, i, route);
      if (++lines == plan_.recipients_per_block) {
        platform::Status st = publish(platform::format("R%07u.BLK", ++block_no), block);
        if (!st.ok()) return st;
        block.clear();
        lines = 0;
      }
    }
    if (lines != 0) return publish(platform::format("R%07u.BLK", ++block_no), block);
    return platform::Status();
  }

  void addFiles(const std::string& file, size_t recipient, const std::string& route) {
    std::string base = file.substr(0, file.size() - 4);  // without ".req"
    const size_t parts = content_.parts.size();
    for (size_t k = 0; k < parts; ++k) {
      QueuedFile f;
      f.message_id = base;
      if (parts > 1) {
        size_t mark = f.message_id.find(kCounterMark);
        assert(mark != std::string::npos);  // segment names carry the mark
        f.message_id.replace(mark, kCounterMark.size(), std::to_string(k + 1));
      }
      f.recipient = m_.recipients[recipient];
      f.recipient_index = recipient;
      f.route = route;
      f.part = k;
      f.delayed = m_.delay_until.has_value();
      f.bulk = true;
      files_.push_back(std::move(f));
    }
  }

  const Message& m_;
  const EncodedMessage& content_;
  const BulkJobPlan& plan_;
  bool sync_ = false;
  std::string hidden_;
  std::string final_;
  std::vector<QueuedFile> files_;
};

}  // namespace

std::string bulkNameAddress(std::string_view recipient) {
  std::string out;
  for (char c : recipient) {
    if (out.size() >= kMaxNameAddress) break;
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '?' || c == '*' || c == ':' || c == '/' || c == '\\' || c == '|' || c == '=' ||
        c == ';' || u < 0x20 || u == 0x7F)
      c = '!';
    out += c;
  }
  return out;
}

platform::Result<std::vector<QueuedFile>> writeBulkJob(const Message& m,
                                                       const EncodedMessage& content,
                                                       const BulkJobPlan& plan) {
  return JobWriter(m, content, plan).write();
}

}  // namespace vek::submit
