#include "platform/sanitize.h"

#include "platform/strings.h"

namespace vek::platform {

std::string hyphenate(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c == ':' || c == '/' || c == '\\') c = '-';
  return out;
}

std::string safePathComponent(std::string_view name, size_t max_len) {
  std::string out;
  out.reserve(std::min(name.size(), max_len));
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    if (c == ':' || c == '/' || c == '\\') c = '-';
    out += c;
    if (out.size() >= max_len) break;
  }
  if (!out.empty() && out.front() == '.') out.front() = '_';
  if (out.empty()) out.assign(1, '_');
  return out;
}

bool isSafePathComponent(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

bool isContainedRelativePath(std::string_view path) {
  if (path.empty()) return true;
  if (path.front() == '/' || path.front() == '\\') return false;
  if (hasControlCharacters(path)) return false;
  if (findNoCase(path, "%2e") != std::string_view::npos) return false;
  for (const auto& part : split(path, "/\\")) {
    std::string_view t = trim(part);
    if (t == ".." || t == "." || (!t.empty() && t.find_first_not_of('.') == std::string_view::npos))
      return false;
  }
  return true;
}

bool hasControlCharacters(std::string_view s) {
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return true;
  }
  return false;
}

std::string singleLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return out;
}

namespace {

// The five markup characters as entities; `apostrophe` is the one spelling
// that differs between XML and HTML 4 (which has no &apos;).
std::string escapeMarkup(std::string_view s, const char* apostrophe) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += apostrophe;
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string xmlEscape(std::string_view s) {
  return escapeMarkup(s, "&apos;");
}

std::string htmlEscape(std::string_view s) {
  return escapeMarkup(s, "&#39;");
}

std::string smtpDotStuff(std::string_view body) {
  std::string out;
  out.reserve(body.size() + 16);
  bool line_start = true;
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (line_start && c == '.') out += '.';
    if (c == '\n' && (i == 0 || body[i - 1] != '\r')) out += '\r';
    out += c;
    line_start = c == '\n';
  }
  return out;
}

}  // namespace vek::platform
