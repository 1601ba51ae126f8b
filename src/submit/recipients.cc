#include "submit/recipients.h"

#include <unordered_map>

#include "platform/files.h"
#include "platform/strings.h"
#include "submit/distribution_lists.h"

namespace vek::submit {
namespace {

bool isSeparator(char c) {
  return c == ',' || c == ';' || static_cast<unsigned char>(c) <= ' ';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The list files of one directory, read at the first item that could name
// one (one directory listing per request, not one per recipient).
class ListLookup {
 public:
  explicit ListLookup(std::string dir) : dir_(std::move(dir)) {}

  // The members of the list `item` names, or null.
  const std::vector<ListMember>* find(std::string_view item) {
    if (dir_.empty() || !isValidListName(item)) return nullptr;
    if (!loaded_) load();
    auto it = files_.find(platform::toLower(item));
    if (it == files_.end()) return nullptr;
    auto members = members_.find(it->second);
    if (members == members_.end())
      members = members_.emplace(it->second, readListFile(dir_ + it->second)).first;
    return &members->second;
  }

 private:
  void load() {
    loaded_ = true;
    if (!listDirectoryExists(dir_)) return;
    for (const platform::DirEntry& e : platform::listDirectory(dir_, "*.TXT")) {
      std::string stem = e.name.substr(0, e.name.size() - kListExtension.size());
      files_.emplace(platform::toLower(stem), e.name);  // the first of two spellings wins
    }
  }

  std::string dir_;
  bool loaded_ = false;
  std::unordered_map<std::string, std::string> files_;
  std::unordered_map<std::string, std::vector<ListMember>> members_;  // by file name
};

}  // namespace

bool isDottedAddress(std::string_view address) {
  int groups = 0;
  size_t i = 0;
  while (true) {
    size_t start = i;
    while (i < address.size() && isDigit(address[i])) ++i;
    size_t len = i - start;
    if (len == 0 || len > 3) return false;
    ++groups;
    if (i == address.size()) return groups == 4;
    if (address[i] != '.' || groups == 4) return false;
    ++i;
  }
}

std::string reduceRecipient(std::string_view item, bool allow_alpha,
                            std::optional<uint16_t>* port) {
  std::string_view a = platform::trim(item);
  if (isDottedAddress(a)) return std::string(a);
  if (allow_alpha) return std::string(a);
  size_t colon = a.rfind(':');
  if (colon != std::string_view::npos && colon + 1 < a.size() && a.size() - colon - 1 <= 5 &&
      platform::isAllDigits(a.substr(colon + 1))) {
    int64_t p = platform::parseLeadingInt(a.substr(colon + 1));
    if (p <= 65535 && port && !port->has_value()) *port = static_cast<uint16_t>(p);
    a = a.substr(0, colon);
  }
  std::string out;
  if (!a.empty() && a.front() == '+') out += '+';
  for (char c : a)
    if (isDigit(c)) out += c;
  if (out == "+") out.clear();
  return out;
}

RecipientList parseRecipients(std::string_view value, const RecipientOptions& options) {
  RecipientList out;
  ListLookup lists(options.list_directory);
  auto add = [&](std::string_view item) {
    std::string r = reduceRecipient(item, options.allow_alpha, &out.destination_port);
    if (r.empty()) return;
    if (out.recipients.size() >= options.max_recipients) {
      out.too_many = true;
      return;
    }
    out.recipients.push_back(std::move(r));
  };
  size_t pos = 0;
  while (pos < value.size() && !out.too_many) {
    while (pos < value.size() && isSeparator(value[pos])) ++pos;
    size_t end = pos;
    while (end < value.size() && !isSeparator(value[end])) ++end;
    if (end == pos) break;
    std::string_view item = value.substr(pos, std::min(end - pos, kMaxRecipientItem));
    pos = end;
    if (const auto* members = lists.find(item)) {
      for (const ListMember& m : *members) add(m.address);
    } else {
      add(item);
    }
  }
  return out;
}

}  // namespace vek::submit
