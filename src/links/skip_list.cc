#include "links/skip_list.h"

#include <algorithm>

namespace vek::links {

std::vector<SkipList::Entry>::iterator SkipList::find(std::string_view name) {
  return std::lower_bound(entries_.begin(), entries_.end(), name,
                          [](const Entry& e, std::string_view n) { return e.name < n; });
}

void SkipList::startPass() {
  for (auto& e : entries_) e.seen = false;
}

bool SkipList::contains(std::string_view name) {
  auto it = find(name);
  if (it == entries_.end() || it->name != name) return false;
  it->seen = true;
  return true;
}

void SkipList::add(std::string_view name) {
  if (name.size() > kMaxName) return;
  auto it = find(name);
  if (it != entries_.end() && it->name == name) {
    it->seen = true;
    return;
  }
  if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.capacity() + kRoomStep);
  entries_.insert(find(name), Entry{std::string(name), true});
}

void SkipList::endPass(bool connection_error) {
  if (connection_error) return;
  std::erase_if(entries_, [](const Entry& e) { return !e.seen; });
  if (entries_.capacity() > entries_.size() + kRoomStep) {
    std::vector<Entry> shrunk;
    shrunk.reserve(entries_.size() + kRoomStep);
    std::move(entries_.begin(), entries_.end(), std::back_inserter(shrunk));
    entries_.swap(shrunk);
  }
}

}  // namespace vek::links
