// LinkSender: the work of one logged-in link connection: queue passes,
// the per-message steps, synchronous submits with their throttle pauses,
// the asynchronous window, keep-alive and the idle yield, and the orderly
// end of the connection. The thread around it (sender_thread.h) owns the
// connection's life: start, backup waiting, roles, connect and reconnect.
//
// A queue pass walks the queue root and its sub-directories (root first;
// route partitions of other links, and the delay area, are skipped). For
// each "*.REQ" file, in listing order:
//   skip list (`UseExperimentalLogic`), files known not to be due, the
//   routing-database entry (MessageRoutesCheck), a segment whose lower
//   sibling is still queued; then claim (a file another thread holds is
//   skipped), read whole, examine (unsound files are set aside as ".BAD"),
//   "Processing <file>...", the route the message names (a route no link
//   serves fails it), the retry time, local accounts, the route rules
//   (MayLinkSend; no link at all fails it), the segment lock, the submit.
// Files of the throttle-resubmit queue go first. After a segment went out,
// its next segment follows at once. With `SeparateUserQueues`, more than
// `UserQueueThreshold` messages from one sub-directory move the pass on.
// A pass ends early on a connection error, shutdown, a settings change
// (checked every 256th message) or a throttle restart.
//
// Directory listings are kept between passes (one cursor per directory)
// and taken again when used up or older than 2 s, so a large queue is not
// listed again for every few messages, and a file put into the queue by
// anything else is seen within 2 s.
//
// One object per connection, driven by the sender thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/settings.h"
#include "links/async_window.h"
#include "links/link_protocol.h"
#include "links/outcome.h"
#include "links/segment_lock.h"
#include "links/send_job.h"
#include "links/skip_list.h"
#include "platform/clock.h"
#include "queue/route_selection.h"
#include "queue/send_gate.h"

namespace vek::hostlib {
class IniFile;
}

namespace vek::links {

enum class ConnectionEnd {
  kNone,
  kConnectionError,  // the connection broke (or a keep-alive failed)
  kStop,             // shutdown
  kReload,           // the settings changed: reconnect with fresh ones
  kLinkGone,         // `Modem%u` no longer names this link
  kThrottleRestart,  // restart the pass after a throttle pause
  kStandDown,        // a backup link whose primary is up again
};

struct PassStats {
  size_t files = 0;      // names looked at
  size_t submitted = 0;  // messages handed to the connection
  size_t handled = 0;    // files finished without a submit (set aside, failed, local)
};

// Per-thread state that outlives one connection.
struct SenderState {
  SkipList skip;
  // Files whose retry time has not come: skipped until then (steady clock).
  std::unordered_map<std::string, platform::SteadyTime> not_due;
  // Files that could not be read, with the failed attempts.
  std::unordered_map<std::string, int> read_failures;
  // Files that could not be set aside: never looked at again by this thread.
  std::unordered_set<std::string> unusable;
  uint64_t sent_total = 0;
};

class LinkSender {
 public:
  struct Options {
    std::string queue_root;  // ends in '/'
    unsigned link_number = 0;
    LinkRole role = LinkRole::kTransmitter;
    // Asked after every pass: true ends the connection (a backup link
    // whose primary works again).
    std::function<bool()> stand_down;
  };

  LinkSender(LinkProtocol& proto, std::shared_ptr<Outcomes> outcomes, SegmentLocks& locks,
             AsyncWindow& window, SenderState& state, Options options);
  ~LinkSender();
  LinkSender(const LinkSender&) = delete;
  LinkSender& operator=(const LinkSender&) = delete;

  // One queue pass.
  ConnectionEnd runPass(PassStats* stats);
  // After a pass: keep-alive, then the idle yield (up to 1 s, not beyond
  // the keep-alive time, ending early when the queue changes). No idle
  // wait when the pass sent something.
  ConnectionEnd idle(const PassStats& last_pass);
  // Passes and idle until the connection ends; the reason.
  ConnectionEnd run();
  // Ending the connection: written outcomes for what was sent, answers
  // awaited (at most `CommandTimeout`, and at most 20 s on shutdown)
  // unless the connection broke, then close (unbind when orderly) and
  // every unanswered file left queued as it was.
  void finish(ConnectionEnd why);

  // The settings reload check (after every pass, every 256th message).
  ConnectionEnd checkSettings();

 private:
  enum class FileResult { kSkipped, kHandled, kSubmitted };
  struct PassConfig;

  void refreshConfig();
  bool skipDirectory(const std::string& name) const;
  void processDirectory(const std::string& sub);
  bool setAsideIfEmpty(const std::string& relative);
  FileResult processFile(const std::string& directory, const std::string& relative,
                         const std::string& name, uint32_t throttle_resubmits);
  FileResult processClaimed(SendJob& job);
  bool readClaimed(SendJob& job, std::string* text);
  void takeThrottleResubmits();
  void pruneNotDue();
  void mergeSegments(SendJob& job);

  FileResult submit(SendJob job);
  FileResult submitSync(SendJob job);
  FileResult submitAsync(SendJob job);
  void afterSubmit();
  void followSegment(const std::string& directory, const std::string& relative,
                     const std::string& name);
  void immediateFailure(SendJob& job, uint32_t code);

  // Yields for up to `wait` and takes answers; false when the connection
  // broke or shutdown was asked (end_ is set then).
  bool service(std::chrono::milliseconds wait);
  bool waitForGate();
  bool waitForWindowRoom();
  bool waitYielding(std::chrono::milliseconds total);
  void flushSent();
  void settleWindow(std::chrono::milliseconds bound);
  bool queueChanged();
  void noteExchange();

  LinkProtocol& proto_;
  std::shared_ptr<Outcomes> outcomes_;
  SegmentLocks& locks_;
  AsyncWindow& window_;
  SenderState& state_;
  const Options opt_;
  std::unique_ptr<PassConfig> cfg_;
  queue::SendGate gate_;

  ConnectionEnd end_ = ConnectionEnd::kNone;
  // Directory cursors between passes.
  struct Cursor {
    std::vector<std::string> names;
    size_t next = 0;
    platform::SteadyTime listed{};
  };
  std::unordered_map<std::string, Cursor> cursors_;
  // The root's own files from the walk that found the sub-directories.
  std::vector<std::string> root_files_;
  bool root_listed_ = false;
  // Directories whose modification time wakes the idle wait.
  std::vector<std::pair<std::string, platform::SystemTime>> watched_;
  // Synchronous successes waiting for their ids to be stored.
  std::vector<SendJob> sent_jobs_;
  std::vector<std::string> sent_ids_;
  platform::SteadyTime oldest_sent_{};
  platform::SteadyTime last_exchange_{};
  uint64_t since_check_ = 0;
  // The parse of "SMSGW.INI" the last reload check looked at.
  std::shared_ptr<const hostlib::IniFile> checked_ini_;
};

}  // namespace vek::links
