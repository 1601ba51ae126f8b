// QueueClaim: the one way a consumer takes a queued file, works on it and
// lets it go.
//
//   auto claim = QueueClaim::claim(root, "RT_-_smsc_-_/00001A2B.req");
//   if (!claim.ok()) continue;          // held by another thread, or gone
//   SMSMessage msg;
//   claim->load(&msg);
//   ... send ...
//   claim->release();                   // sent, or failed for good
//   claim->keep(detail);                // or: retry later
//
// Claiming opens the file and takes an exclusive flock without waiting; a
// file another thread holds is skipped, never waited for, and a file
// released between listing and claiming is refused. While the claim
// lives, no other consumer can take the file.
//
// release() truncates the file to 0 bytes (a file a failed unlink leaves
// behind sends nothing), unlinks it and closes it while still holding the
// lock, and removes the file's routing-database entry (its path relative
// to the queue root). A name that meanwhile refers to another file (a
// segment written again under the same name) is left alone.
// keep() rewrites the "[ErrorDetail]" block in place and lets the file go.
// Destroying a claim that was neither released nor kept lets the file go
// unchanged (a link that may not send it leaves it to others).
//
// A claim is owned by one thread; it is movable, not copyable.
#pragma once

#include <string>

#include "platform/status.h"
#include "platform/unique_fd.h"
#include "queue/request_file.h"
#include "queue/request_writer.h"

namespace vek::queue {

class QueueClaim {
 public:
  QueueClaim() = default;  // holds nothing
  QueueClaim(QueueClaim&&) noexcept = default;
  QueueClaim& operator=(QueueClaim&&) noexcept = default;
  QueueClaim(const QueueClaim&) = delete;
  QueueClaim& operator=(const QueueClaim&) = delete;
  ~QueueClaim() = default;

  // Claims `root` + `relative`. Status code EWOULDBLOCK: another holder has
  // it; ENOENT: it is gone (or was released meanwhile).
  static platform::Result<QueueClaim> claim(const std::string& root, const std::string& relative);

  bool held() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // The path relative to the root: the routing-database key.
  const std::string& relative() const { return relative_; }

  // LoadSMSMessage on the held file.
  bool load(SMSMessage* msg, ModemRouteResolver resolve = nullptr) const;
  // Sent, or failed for good: the file goes (see above).
  platform::Status release();
  // Retry later: the file stays with `detail` as its only "[ErrorDetail]".
  platform::Status keep(const ErrorDetail& detail);
  // Lets the file go unchanged.
  void unclaim() { fd_.reset(); }

 private:
  QueueClaim(platform::UniqueFd fd, std::string path, std::string relative)
      : fd_(std::move(fd)), path_(std::move(path)), relative_(std::move(relative)) {}

  platform::UniqueFd fd_;
  std::string path_;
  std::string relative_;
};

}  // namespace vek::queue
