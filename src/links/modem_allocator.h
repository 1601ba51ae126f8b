// ModemAllocator: who holds a GSM modem at a time. A modem link's session
// holds its modem from the start of the session to its end; another user
// of the same modem (MMS retrieval, once it exists) asks for it with
// request() and waits in allocate() until the session gives it back. The
// session looks at requested() between queue passes.
//
// In-process only: modems are named by their link names (compared ignoring
// case), and nothing outside this process shares them.
//
// Thread-safe; one process-wide instance.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace vek::links {

class ModemAllocator {
 public:
  static ModemAllocator& instance();

  // Waits up to `timeout` (ending early on shutdown) until `modem` is free
  // and takes it for `holder`. False when it stayed busy.
  bool allocate(std::string_view modem, std::string_view holder, std::chrono::milliseconds timeout);
  // Gives `modem` back (only its holder's release counts).
  void release(std::string_view modem, std::string_view holder);
  // Another user wants `modem`: its holder should release it soon.
  void request(std::string_view modem);
  bool requested(std::string_view modem) const;
  // The holder now, "" when free.
  std::string holder(std::string_view modem) const;

 private:
  struct Entry {
    std::string holder;
    bool requested = false;
  };
  static std::string key(std::string_view modem);

  mutable std::mutex mu_;
  std::condition_variable freed_;
  std::map<std::string, Entry> modems_;
};

}  // namespace vek::links
