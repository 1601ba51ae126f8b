#include "http/web/templates.h"

#include <chrono>
#include <mutex>
#include <unordered_map>

#include "hostlib/host.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

constexpr auto kRecheck = std::chrono::seconds(2);
constexpr size_t kMaxTemplateBytes = 4u << 20;

struct CachedTemplate {
  platform::SteadyTime checked;
  std::shared_ptr<const std::string> text;
};

std::mutex g_mu;
std::unordered_map<std::string, CachedTemplate> g_cache;  // path key -> template

}  // namespace

std::string programHtmlDirectory() {
  const std::string program = hostlib::GetRealProgramDirectory();
  auto html = platform::findNameNoCase(program, "HTML");
  return program + (html ? *html : std::string("HTML")) + "/";
}

std::string resolveNoCase(const std::string& dir, std::string_view relative) {
  std::string path = platform::withTrailingSlash(dir);
  std::vector<std::string> parts = platform::split(relative, "/");
  for (size_t i = 0; i < parts.size(); ++i) {
    auto found = platform::findNameNoCase(path, parts[i]);
    if (!found) return std::string();
    path += *found;
    if (i + 1 < parts.size()) path += "/";
  }
  return path;
}

std::shared_ptr<const std::string> readTemplateFile(const std::string& path) {
  if (path.empty() || !platform::isRegularFile(path)) return nullptr;
  auto text = platform::readFile(path, kMaxTemplateBytes);
  if (!text.ok()) return nullptr;
  return std::make_shared<const std::string>(std::move(*text));
}

std::shared_ptr<const std::string> programTemplate(std::string_view name) {
  const std::string program = hostlib::GetRealProgramDirectory();
  const std::string key = program + "\n" + platform::toLower(name);
  const auto now = platform::monotonicNow();
  {
    std::scoped_lock lk(g_mu);
    auto it = g_cache.find(key);
    if (it != g_cache.end() && now - it->second.checked < kRecheck) return it->second.text;
  }
  auto text = readTemplateFile(resolveNoCase(program, "HTML/" + std::string(name)));
  std::scoped_lock lk(g_mu);
  g_cache[key] = CachedTemplate{now, text};
  return text;
}

std::string replaceAll(std::string_view text, std::string_view marker, std::string_view value) {
  std::string out;
  if (marker.empty()) return std::string(text);
  size_t pos = 0;
  while (true) {
    size_t at = text.find(marker, pos);
    if (at == std::string_view::npos) break;
    out.append(text.substr(pos, at - pos));
    out.append(value);
    pos = at + marker.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::vector<std::string_view> templateLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

void clearTemplateCache() {
  std::scoped_lock lk(g_mu);
  g_cache.clear();
}

}  // namespace vek::http
