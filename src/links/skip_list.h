// SkipList: the queue files a link thread has found it may not send, so that
// later passes skip them without asking the route rules again.
//
// A sorted array of (name relative to the queue root, seen-in-this-pass).
// Names of 48 characters or more are never entered. It starts with room
// for 1000 entries and grows by 1000. At the start of a pass every "seen"
// flag is cleared; a lookup marks its entry seen; after a pass without a
// connection error the entries not seen are dropped (their files left the
// queue) and the room shrinks to count + 1000.
//
// Owned by one link thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vek::links {

class SkipList {
 public:
  static constexpr size_t kMaxName = 47;
  static constexpr size_t kRoomStep = 1000;

  SkipList() { entries_.reserve(kRoomStep); }

  void startPass();
  // True (and marked seen) when `name` is listed.
  bool contains(std::string_view name);
  // Adds `name` (seen), unless it is too long or already there.
  void add(std::string_view name);
  // After the pass: drop unseen entries when `connection_error` is false.
  void endPass(bool connection_error);
  size_t size() const { return entries_.size(); }
  size_t room() const { return entries_.capacity(); }

 private:
  struct Entry {
    std::string name;
    bool seen = false;
  };
  std::vector<Entry>::iterator find(std::string_view name);
  std::vector<Entry> entries_;
};

}  // namespace vek::links
