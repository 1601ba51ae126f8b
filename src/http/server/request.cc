#include "http/server/request.h"

namespace vek::http {
namespace {

// The n-th blank-separated word of `line` (0-based).
std::string_view word(std::string_view line, int n) {
  size_t p = 0;
  for (int i = 0;; ++i) {
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    size_t e = p;
    while (e < line.size() && line[e] != ' ' && line[e] != '\t') ++e;
    if (i == n || e == p) return line.substr(p, e - p);
    p = e;
  }
}

}  // namespace

std::string_view Request::requestLine() const {
  std::string_view m(message);
  size_t e = m.find_first_of("\r\n");
  return e == std::string_view::npos ? m : m.substr(0, e);
}

std::string_view Request::method() const {
  return word(requestLine(), 0);
}
std::string_view Request::target() const {
  return word(requestLine(), 1);
}
std::string_view Request::protocol() const {
  return word(requestLine(), 2);
}

std::string_view Request::path() const {
  std::string_view t = target();
  size_t q = t.find('?');
  return q == std::string_view::npos ? t : t.substr(0, q);
}

}  // namespace vek::http
