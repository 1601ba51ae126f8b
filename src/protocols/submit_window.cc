#include "protocols/submit_window.h"

#include <string>
#include <vector>

namespace vek::protocols {

const SubmitWindow::Entry* SubmitWindow::find(uint32_t number) const {
  auto it = entries_.find(number);
  return it == entries_.end() ? nullptr : &it->second;
}

std::optional<SubmitWindow::Entry> SubmitWindow::take(uint32_t number) {
  auto it = entries_.find(number);
  if (it == entries_.end()) return std::nullopt;
  Entry e = std::move(it->second);
  entries_.erase(it);
  return e;
}

bool SubmitWindow::expire(platform::SteadyTime now, std::chrono::milliseconds timeout,
                          platform::SteadyTime last_received, uint32_t code) {
  bool silent = false;
  std::vector<std::shared_ptr<AsyncSubmit>> done;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->second.sent < timeout) {
      ++it;
      continue;
    }
    silent = silent || last_received < it->second.sent;
    done.push_back(std::move(it->second.ctx));
    it = entries_.erase(it);
  }
  // Completed after the map is settled: a context may look at the window.
  for (auto& ctx : done)
    if (ctx) ctx->complete(code, std::string());
  return silent;
}

void SubmitWindow::failAll(uint32_t code) {
  auto entries = std::move(entries_);
  entries_.clear();
  for (auto& [number, e] : entries)
    if (e.ctx) e.ctx->complete(code, std::string());
}

}  // namespace vek::protocols
