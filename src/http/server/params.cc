#include "http/server/params.h"

#include "http/server/text_util.h"
#include "platform/strings.h"
#include "protocols/http/message.h"

namespace vek::http {
namespace {

enum class Where { kRequestLine, kBody, kBodyOnly };

std::string_view requestLineOf(std::string_view msg) {
  size_t end = msg.find_first_of("\r\n");
  return end == std::string_view::npos ? msg : msg.substr(0, end);
}

std::string_view bodyOf(std::string_view msg) {
  return msg.substr(httpwire::tolerantBodyOffset(msg));
}

bool atBoundary(std::string_view text, size_t pos, Where where) {
  if (where == Where::kRequestLine) {
    if (pos == 0) return false;
    char p = text[pos - 1];
    return p == '/' || p == '\\' || p == '?' || p == '&';
  }
  return pos == 0 || text[pos - 1] == '?' || text[pos - 1] == '&';
}

// Start of the value of the index-th "name=" in `text`, or npos.
size_t findValue(std::string_view text, std::string_view name, unsigned index, Where where) {
  if (name.empty() || index == 0) return std::string_view::npos;
  unsigned seen = 0;
  for (size_t pos = platform::findNoCase(text, name); pos != std::string_view::npos;
       pos = platform::findNoCase(text, name, pos + 1)) {
    size_t after = pos + name.size();
    if (after < text.size() && text[after] == '=' && atBoundary(text, pos, where) &&
        ++seen == index)
      return after + 1;
  }
  return std::string_view::npos;
}

std::string copyValue(std::string_view text, size_t start, size_t size, Where where) {
  size_t end = start;
  while (end < text.size()) {
    char c = text[end];
    if (c == '?' || c == '&' || (c == ' ' && where != Where::kBody)) break;
    ++end;
  }
  std::string v = formDecode(text.substr(start, end - start));
  size_t max = size > 0 ? size - 1 : 0;
  if (v.size() > max) v.resize(max);
  v.resize(trimTrailing(v).size());
  return v;
}

std::optional<std::string> lookup(std::string_view msg, std::string_view name, unsigned index,
                                  size_t size) {
  std::string_view line = requestLineOf(msg);
  size_t at = findValue(line, name, index, Where::kRequestLine);
  if (at != std::string_view::npos) return copyValue(line, at, size, Where::kRequestLine);
  std::string_view body = bodyOf(msg);
  at = findValue(body, name, index, Where::kBody);
  if (at != std::string_view::npos) return copyValue(body, at, size, Where::kBody);
  return std::nullopt;
}

std::optional<std::string> lookupBody(std::string_view msg, std::string_view name, unsigned index,
                                      size_t size) {
  std::string_view body = bodyOf(msg);
  size_t at = findValue(body, name, index, Where::kBodyOnly);
  if (at == std::string_view::npos) return std::nullopt;
  std::string v = copyValue(body, at, size, Where::kBodyOnly);
  if (v.empty()) return std::nullopt;
  return v;
}

}  // namespace

std::optional<std::string> requestParameter(std::string_view msg, std::string_view name,
                                            size_t size) {
  return lookup(msg, name, 1, size);
}

std::optional<std::string> requestParameterAt(std::string_view msg, std::string_view name,
                                              unsigned index, size_t size) {
  return lookup(msg, name, index, size);
}

std::optional<std::string> bodyParameter(std::string_view msg, std::string_view name, size_t size) {
  return lookupBody(msg, name, 1, size);
}

std::optional<std::string> bodyParameterAt(std::string_view msg, std::string_view name,
                                           unsigned index, size_t size) {
  return lookupBody(msg, name, index, size);
}

std::optional<std::string> parameterNameAt(std::string_view msg, std::string_view prefix,
                                           unsigned index, size_t size) {
  if (prefix.empty() || index == 0) return std::nullopt;
  unsigned seen = 0;
  for (Where where : {Where::kRequestLine, Where::kBody}) {
    std::string_view text = where == Where::kRequestLine ? requestLineOf(msg) : bodyOf(msg);
    for (size_t pos = platform::findNoCase(text, prefix); pos != std::string_view::npos;
         pos = platform::findNoCase(text, prefix, pos + 1)) {
      if (!atBoundary(text, pos, where)) continue;
      size_t end = pos;
      while (end < text.size() && text[end] != '=' && text[end] != '?' && text[end] != '&' &&
             !(where == Where::kRequestLine && text[end] == ' '))
        ++end;
      if (++seen < index) continue;
      std::string name(text.substr(pos, end - pos));
      size_t max = size > 0 ? size - 1 : 0;
      if (name.size() > max) name.resize(max);
      return name;
    }
  }
  return std::nullopt;
}

}  // namespace vek::http
