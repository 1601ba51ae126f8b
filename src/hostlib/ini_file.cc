#include "hostlib/ini_file.h"

#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::hostlib {

using platform::equalsNoCase;
using platform::toLower;
using platform::trim;

namespace {

std::string valueKey(std::string_view section, std::string_view key) {
  std::string k = toLower(section);
  k += '\n';
  k += toLower(key);
  return k;
}

// Splits into lines without their "\r\n" / "\n" ends.
std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}

// "[name]" -> name; nullopt when the line is not a section header.
std::optional<std::string_view> sectionHeader(std::string_view line) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  size_t close = t.find(']');
  std::string_view name = close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1);
  return trim(name);
}

std::string_view stripBom(std::string_view text) {
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
    text.remove_prefix(3);
  return text;
}

}  // namespace

IniFile IniFile::parse(std::string_view text) {
  IniFile f;
  Section* current = nullptr;
  bool current_is_first = false;
  for (std::string_view line : lines(stripBom(text))) {
    if (auto name = sectionHeader(line)) {
      f.sections_.push_back(Section{std::string(*name), {}, {}});
      current = &f.sections_.back();
      auto [it, inserted] = f.section_index_.emplace(toLower(*name), f.sections_.size() - 1);
      current_is_first = inserted;
      continue;
    }
    if (current == nullptr) continue;  // text before the first section
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';') continue;
    current->lines.emplace_back(t);
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = trim(t.substr(0, eq));
    std::string_view value = trim(t.substr(eq + 1));
    if (key.empty()) continue;
    current->entries.emplace_back(std::string(key), std::string(value));
    // Duplicate sections: only the first one answers lookups.
    if (current_is_first) f.values_.emplace(valueKey(current->name, key), std::string(value));
  }
  return f;
}

std::optional<std::string_view> IniFile::get(std::string_view section, std::string_view key) const {
  auto it = values_.find(valueKey(section, key));
  if (it == values_.end()) return std::nullopt;
  return std::string_view(it->second);
}

std::vector<std::string> IniFile::sectionLines(std::string_view section) const {
  auto it = section_index_.find(toLower(section));
  if (it == section_index_.end()) return {};
  return sections_[it->second].lines;
}

std::vector<std::pair<std::string, std::string>> IniFile::sectionEntries(
    std::string_view section) const {
  auto it = section_index_.find(toLower(section));
  if (it == section_index_.end()) return {};
  return sections_[it->second].entries;
}

bool IniFile::hasSection(std::string_view section) const {
  return section_index_.count(toLower(section)) != 0;
}

std::vector<std::string> IniFile::sectionNames() const {
  std::vector<std::string> out;
  for (const auto& s : sections_) out.push_back(s.name);
  return out;
}

std::string iniSetValue(std::string_view text, std::string_view section,
                        std::optional<std::string_view> key,
                        std::optional<std::string_view> value) {
  std::string_view body = stripBom(text);
  std::string_view bom = text.substr(0, text.size() - body.size());
  std::vector<std::string_view> ls = lines(body);
  const std::string eol =
      body.find("\r\n") != std::string_view::npos || body.empty() ? "\r\n" : "\n";
  std::string clean_value = value ? platform::singleLine(*value) : std::string();
  std::string clean_key = key ? platform::singleLine(*key) : std::string();

  // Locate the first section of that name and the first matching key in it.
  size_t sec_start = std::string::npos, sec_end = ls.size(), key_line = std::string::npos;
  for (size_t i = 0; i < ls.size(); ++i) {
    auto name = sectionHeader(ls[i]);
    if (sec_start == std::string::npos) {
      if (name && equalsNoCase(*name, section)) sec_start = i;
      continue;
    }
    if (name) {
      sec_end = i;
      break;
    }
    if (key_line != std::string::npos || !key) continue;
    std::string_view t = trim(ls[i]);
    if (t.empty() || t.front() == ';') continue;
    size_t eq = t.find('=');
    if (eq != std::string_view::npos && equalsNoCase(trim(t.substr(0, eq)), *key)) key_line = i;
  }

  std::vector<std::string> out(ls.begin(), ls.end());
  // A final line end leaves an empty last piece: keep it as the file's end.
  bool trailing_eol = !body.empty() && body.back() == '\n';
  if (trailing_eol && !out.empty() && out.back().empty()) out.pop_back();

  if (!key) {  // remove the section
    if (sec_start != std::string::npos)
      out.erase(out.begin() + static_cast<long>(sec_start),
                out.begin() + static_cast<long>(std::min(sec_end, out.size())));
  } else if (key_line != std::string::npos) {
    if (value) {
      out[key_line] = clean_key + "=" + clean_value;
    } else {
      out.erase(out.begin() + static_cast<long>(key_line));
    }
  } else if (value) {
    std::string entry = clean_key + "=" + clean_value;
    if (sec_start == std::string::npos) {
      if (!out.empty() && !trim(out.back()).empty()) out.emplace_back();
      std::string header(1, '[');
      header += platform::singleLine(section);
      header += ']';
      out.push_back(std::move(header));
      out.push_back(entry);
    } else {
      size_t insert_at = std::min(sec_end, out.size());
      while (insert_at > sec_start + 1 && trim(out[insert_at - 1]).empty()) --insert_at;
      out.insert(out.begin() + static_cast<long>(insert_at), entry);
    }
  }

  std::string result(bom);
  for (const auto& l : out) {
    result += l;
    result += eol;
  }
  return result;
}

IniStore::IniStore(std::string path)
    : cache_(std::make_shared<const Cached>()), path_(std::move(path)) {}

void IniStore::setPath(std::string path) {
  {
    std::scoped_lock lk(path_mu_);
    path_ = std::move(path);
  }
  invalidate();
}

std::string IniStore::path() const {
  std::scoped_lock lk(path_mu_);
  return path_;
}

void IniStore::invalidate() {
  cache_.publish(std::make_shared<const Cached>());
}

std::shared_ptr<const IniFile> IniStore::refresh() const {
  auto cached = cache_.get();
  // Real time: the bound is on how stale another process's change may look.
  auto now = platform::realMonotonicNow();
  if (cached->file && now - cached->checked < kRecheck) return cached->file;

  std::scoped_lock lk(write_mu_);
  cached = cache_.get();  // another reader may have refreshed meanwhile
  if (cached->file && now - cached->checked < kRecheck) return cached->file;
  std::string p = path();
  auto info = platform::statPath(p);
  int64_t size = info ? info->size : -1;
  platform::SystemTime modified = info ? info->modified : platform::SystemTime{};
  auto next = std::make_shared<Cached>();
  next->checked = now;
  next->path = p;
  next->size = size;
  next->modified = modified;
  if (cached->file && cached->path == p && cached->size == size && cached->modified == modified) {
    next->file = cached->file;
  } else {
    // Configuration files are small; a huge one is read up to 16 MB.
    auto text =
        info ? platform::readFile(p, 16u << 20) : platform::Result<std::string>(std::string());
    next->file = std::make_shared<const IniFile>(IniFile::parse(text.ok() ? *text : std::string()));
  }
  cache_.publish(std::shared_ptr<const Cached>(next));
  return next->file;
}

std::shared_ptr<const IniFile> IniStore::current() const {
  return refresh();
}

std::string IniStore::get(std::string_view section, std::string_view key, std::string_view def,
                          size_t buffer_size) const {
  auto file = refresh();
  auto v = file->get(section, key);
  std::string_view value = v ? *v : def;
  if (buffer_size == 0) return std::string();
  if (value.size() > buffer_size - 1) value = value.substr(0, buffer_size - 1);
  return std::string(value);
}

platform::Status IniStore::set(std::string_view section, std::string_view key,
                               std::string_view value) {
  std::scoped_lock lk(write_mu_);
  std::string p = path();
  auto text = platform::readFile(p, 16u << 20);
  std::string updated = iniSetValue(text.ok() ? *text : std::string(), section, key, value);
  platform::Status st = platform::writeFileAtomic(p, updated);
  cache_.publish(std::make_shared<const Cached>());
  return st;
}

platform::Status IniStore::remove(std::string_view section, std::string_view key) {
  std::scoped_lock lk(write_mu_);
  std::string p = path();
  auto text = platform::readFile(p, 16u << 20);
  if (!text.ok()) return platform::Status();
  std::string updated = iniSetValue(*text, section, key, std::nullopt);
  platform::Status st = platform::writeFileAtomic(p, updated);
  cache_.publish(std::make_shared<const Cached>());
  return st;
}

std::optional<platform::SystemTime> IniStore::modifiedTime() const {
  auto info = platform::statPath(path());
  if (!info) return std::nullopt;
  return info->modified;
}

}  // namespace vek::hostlib
