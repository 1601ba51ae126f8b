#include "submit/distribution_lists.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <unordered_map>

#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::submit {
namespace {

constexpr size_t kMaxListFileBytes = 64u << 20;

std::mutex& storeMutex() {
  static std::mutex mu;
  return mu;
}

struct DirectoryCheck {
  std::chrono::steady_clock::time_point checked;
  bool exists = false;
};
constexpr auto kRecheckDirectory = std::chrono::seconds(1);
constexpr size_t kMaxCheckedDirectories = 4096;

std::mutex g_dirs_mu;
std::unordered_map<std::string, DirectoryCheck> g_dirs;

void forgetDirectoryChecks() {
  std::scoped_lock lk(g_dirs_mu);
  g_dirs.clear();
}

bool isBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

std::string listDirectory(std::string_view user) {
  std::string dir = hostlib::GetProgramDataDirectory() + "DLists/";
  if (!user.empty()) dir += platform::safePathComponent(user) + "/";
  return dir;
}

bool isValidListName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxListName && platform::isSafePathComponent(name) &&
         name.find("..") == std::string_view::npos;
}

std::vector<ListMember> parseListText(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<ListMember> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t start = 0;
    while (start < line.size() && isBlankOrControl(line[start])) ++start;
    line.remove_prefix(start);
    if (line.empty()) continue;
    size_t cut = 0;
    while (cut < line.size() && !isBlankOrControl(line[cut])) ++cut;
    ListMember m;
    m.address = std::string(line.substr(0, cut));
    m.name = platform::singleLine(platform::trim(line.substr(cut)));
    out.push_back(std::move(m));
  }
  return out;
}

std::string formatListText(const std::vector<ListMember>& members) {
  std::string out;
  for (const ListMember& m : members) {
    out += platform::singleLine(m.address);
    if (!m.name.empty()) {
      out += ' ';
      out += platform::singleLine(m.name);
    }
    out += "\r\n";
  }
  return out;
}

bool listDirectoryExists(const std::string& dir) {
  const auto now = std::chrono::steady_clock::now();
  {
    std::scoped_lock lk(g_dirs_mu);
    auto it = g_dirs.find(dir);
    if (it != g_dirs.end() && now - it->second.checked < kRecheckDirectory)
      return it->second.exists;
  }
  const bool exists = platform::isDirectory(dir);
  std::scoped_lock lk(g_dirs_mu);
  if (g_dirs.size() >= kMaxCheckedDirectories) g_dirs.clear();
  g_dirs[dir] = DirectoryCheck{now, exists};
  return exists;
}

std::vector<std::string> listNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const platform::DirEntry& e : platform::listDirectory(dir, "*.TXT")) {
    names.push_back(e.name.substr(0, e.name.size() - kListExtension.size()));
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return platform::compareNoCase(a, b) < 0;
  });
  return names;
}

std::optional<std::string> findListFile(const std::string& dir, std::string_view name) {
  if (!isValidListName(name)) return std::nullopt;
  auto found = platform::findNameNoCase(dir, std::string(name) + std::string(kListExtension));
  if (!found) return std::nullopt;
  std::string path = dir + *found;
  if (!platform::isRegularFile(path)) return std::nullopt;
  return path;
}

std::vector<ListMember> readListFile(const std::string& path) {
  auto text = platform::readFile(path, kMaxListFileBytes);
  if (!text.ok()) return {};
  return parseListText(*text);
}

platform::Status updateListFile(const std::string& path,
                                const std::function<bool(std::vector<ListMember>*)>& change) {
  std::scoped_lock lk(storeMutex());
  std::vector<ListMember> members = readListFile(path);
  if (!change(&members)) return platform::Status();
  platform::Status st = platform::makeDirectories(platform::parentDirectory(path));
  forgetDirectoryChecks();
  if (!st.ok()) return st;
  return platform::writeFileAtomic(path, formatListText(members));
}

platform::Status removeListFile(const std::string& path) {
  std::scoped_lock lk(storeMutex());
  forgetDirectoryChecks();
  return platform::removeFile(path);
}

}  // namespace vek::submit
