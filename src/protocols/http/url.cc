#include "protocols/http/url.h"

#include "platform/strings.h"

namespace vek::httpwire {
namespace {

using platform::Result;
using platform::Status;

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes that must never reach the request line or a header: they would end
// the line or split the request target.
bool hasUnsafeByte(std::string_view s) {
  for (unsigned char c : s)
    if (c <= 0x20 || c == 0x7f) return true;
  return false;
}

// Length of a leading "scheme:" (letters, digits, '+', '-', '.' after a
// first letter), 0 when there is none.
size_t schemeLength(std::string_view s) {
  if (s.empty() || !isAlpha(s[0])) return 0;
  for (size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == ':') return i;
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

std::string percentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Request targets are ASCII: bytes above 0x7E travel percent-encoded.
std::string encodeHighBytes(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c > 0x7e) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

bool validHostName(std::string_view h) {
  if (h.empty() || h.size() > 255) return false;
  for (char c : h)
    if (!isAlpha(c) && !isDigit(c) && c != '-' && c != '.' && c != '_') return false;
  return true;
}

bool validIpv6(std::string_view h) {
  if (h.size() < 2) return false;
  for (char c : h)
    if (hexValue(c) < 0 && c != ':' && c != '.') return false;
  return true;
}

// "host", "host:port", "[v6]" or "[v6]:port" into the URL.
Status parseHostPort(std::string_view hp, Url* url) {
  std::string_view port;
  if (!hp.empty() && hp.front() == '[') {
    size_t close = hp.find(']');
    if (close == std::string_view::npos || !validIpv6(hp.substr(1, close - 1)))
      return Status::error("Invalid host name");
    url->host = std::string(hp.substr(1, close - 1));
    std::string_view rest = hp.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return Status::error("Invalid host name");
      port = rest.substr(1);
    }
  } else {
    size_t colon = hp.find(':');
    std::string_view host = hp.substr(0, colon);
    if (!validHostName(host)) return Status::error("Invalid host name");
    url->host = std::string(host);
    if (colon != std::string_view::npos) port = hp.substr(colon + 1);
  }
  url->port = url->defaultPort();
  if (!port.empty()) {
    if (port.size() > 5 || !platform::isAllDigits(port)) return Status::error("Invalid port");
    int p = std::stoi(std::string(port));
    if (p < 1 || p > 65535) return Status::error("Invalid port");
    url->port = static_cast<uint16_t>(p);
    url->port_given = true;
  }
  return Status::success();
}

// Splits "path?query#fragment" (fragment dropped) into path and query
// (query with its '?', empty when absent).
void splitTarget(std::string_view t, std::string_view* path, std::string_view* query,
                 bool* has_query) {
  t = t.substr(0, t.find('#'));
  size_t q = t.find('?');
  *has_query = q != std::string_view::npos;
  *path = t.substr(0, q);
  *query = *has_query ? t.substr(q) : std::string_view();
}

}  // namespace

std::string Url::authority() const {
  std::string out = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != defaultPort()) {
    out += ':';
    out += std::to_string(port);
  }
  return out;
}

std::string Url::text() const {
  return (https ? "https://" : "http://") + authority() + target;
}

Result<Url> parseUrl(std::string_view text) {
  text = platform::trim(text);
  std::string owned;
  size_t scheme_len = schemeLength(text);
  if (scheme_len == 0 || text.substr(scheme_len, 3) != "://") {
    owned = "http://";
    owned += text;
    text = owned;
    scheme_len = 4;
  }
  if (hasUnsafeByte(text)) return Status::error("Invalid character in URL");
  Url url;
  std::string_view scheme = text.substr(0, scheme_len);
  if (platform::equalsNoCase(scheme, "https")) {
    url.https = true;
  } else if (!platform::equalsNoCase(scheme, "http")) {
    return Status::error("Unsupported URL scheme");
  }
  std::string_view rest = text.substr(scheme_len + 3);
  size_t end = rest.find_first_of("/\\?#");
  std::string_view authority = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);

  // Credentials only inside the authority; the last '@' ends them, so that
  // an unencoded '@' in a password still works.
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    size_t colon = userinfo.find(':');
    url.user = percentDecode(userinfo.substr(0, colon));
    if (colon != std::string_view::npos) url.password = percentDecode(userinfo.substr(colon + 1));
    url.has_credentials = true;
    authority = authority.substr(at + 1);
  }
  if (Status s = parseHostPort(authority, &url); !s.ok()) return s;

  // The target always starts with '/': a '\\' in its place becomes one, a
  // query or nothing gets one put in front.
  std::string target(1, '/');
  if (!rest.empty() && rest.front() != '#')
    target += rest.front() == '/' || rest.front() == '\\' ? rest.substr(1) : rest;
  url.target = encodeHighBytes(target.substr(0, target.find('#')));
  return url;
}

std::string removeDotSegments(std::string_view in) {
  auto drop_last_segment = [](std::string& out) {
    size_t slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
  };
  std::string out;
  while (!in.empty()) {
    if (in.starts_with("../")) {
      in.remove_prefix(3);
    } else if (in.starts_with("./") || in.starts_with("/./")) {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.starts_with("/../")) {
      in.remove_prefix(3);
      drop_last_segment(out);
    } else if (in == "/..") {
      in = "/";
      drop_last_segment(out);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      size_t next = in.find('/', 1);
      out.append(in.substr(0, next));
      in = next == std::string_view::npos ? std::string_view() : in.substr(next);
    }
  }
  return out;
}

Result<Url> resolveReference(const Url& base, std::string_view reference) {
  std::string_view ref = platform::trim(reference);
  if (hasUnsafeByte(ref)) return Status::error("Invalid character in URL");
  size_t scheme_len = schemeLength(ref);
  if (scheme_len > 0) {
    std::string_view scheme = ref.substr(0, scheme_len);
    if (!platform::equalsNoCase(scheme, "http") && !platform::equalsNoCase(scheme, "https"))
      return Status::error("Unsupported URL scheme");
    if (ref.substr(scheme_len, 3) != "://") return Status::error("Invalid URL");
    Result<Url> url = parseUrl(ref);
    if (!url.ok()) return url;
    std::string_view path, query;
    bool has_query = false;
    splitTarget(url->target, &path, &query, &has_query);
    url->target = removeDotSegments(path) + std::string(query);
    if (url->target.empty() || url->target.front() != '/') url->target.insert(url->target.begin(), '/');
    return url;
  }
  if (ref.starts_with("//"))
    return resolveReference(base, (base.https ? "https:" : "http:") + std::string(ref));

  Url url;
  url.https = base.https;
  url.host = base.host;
  url.port = base.port;
  url.port_given = base.port_given;
  std::string_view base_path, base_query;
  bool base_has_query = false;
  splitTarget(base.target, &base_path, &base_query, &base_has_query);
  std::string_view ref_path, ref_query;
  bool ref_has_query = false;
  splitTarget(ref, &ref_path, &ref_query, &ref_has_query);

  std::string path;
  std::string_view query = ref_query;
  if (ref_path.empty()) {
    path = std::string(base_path);
    if (!ref_has_query) query = base_query;
  } else if (ref_path.front() == '/') {
    path = removeDotSegments(ref_path);
  } else {
    // Merge: the base path up to its last '/', then the reference.
    size_t slash = base_path.rfind('/');
    std::string merged(slash == std::string_view::npos ? std::string_view("/")
                                                       : base_path.substr(0, slash + 1));
    merged += ref_path;
    path = removeDotSegments(merged);
  }
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  url.target = encodeHighBytes(path + std::string(query));
  return url;
}

}  // namespace vek::httpwire
