// Configuration files in the classic sectioned key=value form.
//
// Reading: section and key names compare without regard to case; the first
// section of a name and the first key in it win; blanks around names and
// values are trimmed; lines starting with ';' and lines without '=' are
// ignored; an absent key gives the caller's default. Bytes are taken as
// they are (junk never stops the parse).
//
// Writing keeps the file's order and line ends: a key is replaced in place,
// a new key goes after the last line of its section, a new section at the
// end. Files are replaced atomically.
//
// IniFile is an immutable parse (thread-safe to read). IniStore is one file
// on disk with a cached parse that is refreshed when the file's modification
// time or size changes; lookups are lock-free after the freshness check.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/snapshot.h"
#include "platform/status.h"

namespace vek::hostlib {

class IniFile {
 public:
  IniFile() = default;
  static IniFile parse(std::string_view text);

  std::optional<std::string_view> get(std::string_view section, std::string_view key) const;
  // The section's lines that are not comments, as written ("key=value"),
  // in file order; empty when the section is absent.
  std::vector<std::string> sectionLines(std::string_view section) const;
  // key/value pairs of the section in file order (all of them, duplicates too).
  std::vector<std::pair<std::string, std::string>> sectionEntries(std::string_view section) const;
  bool hasSection(std::string_view section) const;
  std::vector<std::string> sectionNames() const;

 private:
  struct Section {
    std::string name;
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  std::vector<Section> sections_;
  // lower(section) -> index of its first occurrence
  std::unordered_map<std::string, size_t> section_index_;
  // lower(section) + '\n' + lower(key) -> value (first occurrence)
  std::unordered_map<std::string, std::string> values_;
};

// Returns `text` with `key` in `section` set to `value`, or removed when
// `value` is nullopt (a nullopt key removes the whole section).
std::string iniSetValue(std::string_view text, std::string_view section,
                        std::optional<std::string_view> key, std::optional<std::string_view> value);

class IniStore {
 public:
  explicit IniStore(std::string path = {});
  IniStore(const IniStore&) = delete;
  IniStore& operator=(const IniStore&) = delete;

  void setPath(std::string path);
  std::string path() const;

  // The value or `def`, cut to buffer_size - 1 bytes (the caller's buffer).
  std::string get(std::string_view section, std::string_view key, std::string_view def = {},
                  size_t buffer_size = 500) const;
  std::shared_ptr<const IniFile> current() const;
  platform::Status set(std::string_view section, std::string_view key, std::string_view value);
  platform::Status remove(std::string_view section, std::string_view key);
  // The file's modification time, nullopt when it does not exist.
  std::optional<platform::SystemTime> modifiedTime() const;
  // Forgets the cached parse (the next read goes to the disk).
  void invalidate();

  // How long a freshness check stays valid. A change made through this
  // store is seen at once; a change by another writer within this time.
  static constexpr std::chrono::milliseconds kRecheck{20};

 private:
  struct Cached {
    std::shared_ptr<const IniFile> file;
    int64_t size = -1;
    platform::SystemTime modified{};
    platform::SteadyTime checked{};
    std::string path;
  };
  std::shared_ptr<const IniFile> refresh() const;

  mutable std::mutex write_mu_;  // serialises writers and reloads
  mutable platform::Snapshot<Cached> cache_;
  std::string path_;
  mutable std::mutex path_mu_;
};

}  // namespace vek::hostlib
