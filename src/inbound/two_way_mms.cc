#include "inbound/two_way_mms.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "hostlib/host.h"
#include "inbound/two_way_commands.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "protocols/http/connection.h"
#include "protocols/http/response_reader.h"
#include "protocols/http/url.h"
#include "tls/tls.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kTag = "ThreadProcess2WayMMS";
constexpr size_t kMaxValue = 250;
constexpr size_t kMaxHeaderFile = 1u << 20;
constexpr std::chrono::milliseconds kScanWait{1000};
constexpr unsigned kMaxBackoffSeconds = 300;
constexpr int kSetAsideNames = 100;

std::string headerField(std::string_view value) {
  return std::string(cutUtf8(platform::trim(platform::singleLine(value)), kMaxValue));
}

// An address without its "/TYPE=..." suffix.
std::string address(std::string_view value) {
  std::string v = headerField(value);
  const size_t type = platform::findNoCase(v, "/TYPE=");
  if (type != std::string::npos) v.erase(type);
  return v;
}

void appendField(std::string* body, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  body->append("--").append(kMmsBoundary).append("\r\n");
  body->append("Content-Disposition: form-data; name=\"").append(name).append("\"\r\n\r\n");
  body->append(value).append("\r\n");
}

// The canonical form of `path`, or "" when it cannot be resolved.
std::string canonical(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
  return ec ? std::string() : p.string();
}

bool isWithin(const std::string& path, const std::string& directory) {
  const std::string dir = canonical(directory);
  const std::string file = canonical(path);
  if (dir.empty() || file.empty()) return false;
  const std::string prefix = platform::withTrailingSlash(dir);
  return file.size() > prefix.size() && file.compare(0, prefix.size(), prefix) == 0;
}

std::string stemOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// The header renamed to ".BAD" beside its parts; false when it could not be.
bool setAside(const std::string& directory, const std::string& name) {
  const std::string stem = stemOf(name);
  for (int n = 0; n < kSetAsideNames; ++n) {
    std::string target = directory + stem + (n > 0 ? platform::format("_%d", n) : "") + ".BAD";
    platform::Status st = platform::renameNoReplace(directory + name, target);
    if (st.code() == EEXIST) continue;
    if (!st.ok()) {
      foundation::DebugLogf(kTag, "Unable to set aside %s: %s", name.c_str(), st.message().c_str());
      return false;
    }
    foundation::DebugLogf(kTag, "%s set aside as %s", name.c_str(), target.c_str());
    return true;
  }
  return false;
}

void removeDone(const std::string& directory, const std::string& name) {
  (void)platform::removeFile(directory + name);
  const std::string parts = directory + stemOf(name);
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(parts, ec)))
    std::filesystem::remove_all(parts, ec);
}

std::string smsgw(std::string_view key) {
  return std::string(platform::trim(hostlib::SMSIniGetProfileString("SMSGW", key, "", 1024)));
}

}  // namespace

MmsHeader parseMmsHeader(std::string_view text) {
  MmsHeader h;
  std::string rcpt_to, to, from, read_status;
  for (const std::string& raw : platform::split(text, "\r\n")) {
    const std::string_view line = raw;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = platform::trim(line.substr(0, colon));
    const std::string_view value = line.substr(colon + 1);
    if (platform::equalsNoCase(name, "X-VekMMS-RCPT-TO")) {
      rcpt_to = address(value);
    } else if (platform::equalsNoCase(name, "Message-Type")) {
      h.message_type = headerField(value);
    } else if (platform::equalsNoCase(name, "From")) {
      from = address(value);
    } else if (platform::equalsNoCase(name, "To")) {
      to = address(value);
    } else if (platform::equalsNoCase(name, "Subject")) {
      h.subject = headerField(value);
    } else if (platform::equalsNoCase(name, "Status")) {
      h.status = headerField(value);
    } else if (platform::equalsNoCase(name, "X-Mms-Read-Status")) {
      read_status = headerField(value);
    } else if (platform::equalsNoCase(name, "Message-ID")) {
      h.message_id = headerField(value);
    } else if (platform::equalsNoCase(name, "X-VekMMS-Content-Location")) {
      const std::string v(platform::trim(value));
      const size_t semi = v.find(';');
      MmsHeader::Part part;
      part.path = std::string(platform::trim(std::string_view(v).substr(0, semi)));
      if (semi != std::string::npos) part.type = headerField(std::string_view(v).substr(semi + 1));
      if (!part.path.empty()) h.parts.push_back(std::move(part));
    }
  }
  h.sender = from;
  h.phone_number = rcpt_to;
  if (platform::equalsNoCase(h.message_type, "m-delivery-ind")) {
    if (!to.empty()) h.sender = to;
  } else if (h.phone_number.empty()) {
    h.phone_number = to;
  }
  if (h.status.empty()) h.status = read_status;
  return h;
}

bool buildMmsPostBody(const MmsHeader& h, const std::string& mms_directory, std::string* body,
                      std::string* error, size_t max_bytes) {
  body->clear();
  if (!platform::equalsNoCase(h.message_type, "m-retrieve-conf"))
    appendField(body, "MMSMessageType", h.message_type);
  appendField(body, "MMSStatus", h.status);
  appendField(body, "MMSMessageID", h.message_id);
  appendField(body, "MMSFrom", h.sender);
  appendField(body, "PhoneNumber", h.phone_number);
  appendField(body, "MMSSubject", h.subject);
  for (const MmsHeader::Part& part : h.parts) {
    std::string relative = part.path;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::string path = mms_directory + relative;
    if (!platform::isContainedRelativePath(relative) || !isWithin(path, mms_directory)) {
      *error = "part path outside the MMS directory: " + platform::singleLine(part.path);
      return false;
    }
    const size_t room = max_bytes > body->size() ? max_bytes - body->size() : 0;
    auto bytes = platform::readFile(path, room);
    if (!bytes.ok()) {
      *error = "part " + platform::singleLine(part.path) + ": " + bytes.status().message();
      return false;
    }
    body->append("--").append(kMmsBoundary).append("\r\n");
    body->append("Content-Disposition: form-data; name=\"MMSFile[]\"; filename=\"")
        .append(platform::singleLine(platform::baseName(relative)))
        .append("\"\r\n");
    body->append("Content-Type: ")
        .append(part.type.empty() ? std::string("application/octet-stream") : part.type)
        .append("\r\n");
    body->append(platform::format("Content-Length: %zu\r\n\r\n", bytes->size()));
    body->append(*bytes).append("\r\n");
  }
  body->append("--").append(kMmsBoundary).append("--\r\n");
  return true;
}

MmsPostOutcome postMms(const std::string& url_text, const std::string& body, std::string* detail,
                       std::chrono::seconds answer_timeout) {
  auto url = httpwire::parseUrl(url_text);
  if (!url.ok()) {
    // The setting, not the message, is wrong: keep the message for when
    // it is mended.
    *detail = "invalid 2WayMMSPostURL: " + url.status().message();
    return MmsPostOutcome::kRetry;
  }
  if (url->https && !tls::sslInitLib()) {
    *detail = "Unable to negotiate SSL/TLS connection with server " + url->host;
    return MmsPostOutcome::kRetry;
  }
  httpwire::Endpoint ep;
  ep.tls = url->https;
  ep.host = platform::toLower(url->host);
  ep.port = url->port;
  httpwire::ConnectOptions connect;
  connect.trust = httpwire::tlsTrustFromConfiguration();
  const auto deadline = platform::monotonicNow() + std::chrono::seconds(30) + answer_timeout;
  connect.deadline = deadline;
  auto conn = httpwire::openConnection(ep, connect);
  if (!conn.ok()) {
    *detail = (url->https ? "Unable to negotiate SSL/TLS connection with server "
                          : "Unable to connect to server ") +
              url->authority() + " (" + conn.status().message() + ")";
    return MmsPostOutcome::kRetry;
  }
  if (url->https) foundation::DebugLog(kTag, "SSL OK");
  std::string request = "POST " + url->target + " HTTP/1.1\r\nHost: " + url->authority() + "\r\n" +
                        platform::format("Content-Length: %zu\r\n", body.size()) +
                        "Content-Type: multipart/form-data; boundary=\"" +
                        std::string(kMmsBoundary) + "\"\r\nConnection: close\r\n\r\n";
  const int write_ms = static_cast<int>(std::chrono::milliseconds(answer_timeout).count());
  if (conn->stream().writeAll(request, write_ms) != platform::IoStatus::kOk ||
      conn->stream().writeAll(body, write_ms) != platform::IoStatus::kOk) {
    *detail = "general socket error";
    return MmsPostOutcome::kRetry;
  }
  httpwire::StreamTransport transport(conn->stream());
  httpwire::ResponseWaitOptions wait;
  wait.limits.max_message = 1u << 20;
  wait.read_timeout = answer_timeout;
  wait.deadline = deadline;
  httpwire::Response response;
  std::string why;
  const httpwire::ResponseStatus st = httpwire::HttpResponseWait(transport, wait, &response, &why);
  if (st != httpwire::ResponseStatus::kOk && response.status == 0) {
    *detail = st == httpwire::ResponseStatus::kTimedOut
                  ? "2Way MMS Post - timeout waiting for response"
                  : "general socket error (" + why + ")";
    return MmsPostOutcome::kRetry;
  }
  const int status = response.status;
  if (status / 100 == 2) {
    *detail = "OK";
    return MmsPostOutcome::kDone;
  }
  const std::string_view head = response.header();
  const std::string status_line(head.substr(0, head.find('\r')));
  if (status >= 500 || status == 408 || status == 429) {
    *detail = "2Way MMS Post - server asks to retry - HTTP Status: " + status_line;
    return MmsPostOutcome::kRetry;
  }
  *detail = "2Way MMS Post - got unknown response - HTTP Status: " + status_line;
  return MmsPostOutcome::kSetAside;
}

unsigned TwoWayMmsWorker::runPass(const std::string& url, const std::string& mms_directory) {
  unsigned finished = 0;
  const auto now = platform::monotonicNow();
  std::map<std::string, Backoff> still_waiting;
  for (const platform::DirEntry& e : platform::listDirectory(mms_directory, "*.HDR")) {
    if (platform::shutdownRequested()) break;
    const std::string& name = e.name;
    auto waiting = backoff_.find(name);
    if (waiting != backoff_.end() && now < waiting->second.next) {
      still_waiting.insert(*waiting);
      continue;
    }
    const std::string path = mms_directory + name;
    auto claimed = platform::claimFile(path);
    if (!claimed.ok()) continue;
    auto text = platform::readAll(claimed->get(), kMaxHeaderFile);
    if (!text.ok()) {
      foundation::DebugLogf(kTag, "Unable to read %s: %s", path.c_str(),
                            text.status().message().c_str());
      if (setAside(mms_directory, name)) ++finished;
      continue;
    }
    const MmsHeader header = parseMmsHeader(*text);
    std::string body, detail;
    MmsPostOutcome outcome = MmsPostOutcome::kSetAside;
    if (!header.postable()) {
      detail = "nothing to post (no sender, phone number or subject)";
    } else if (!buildMmsPostBody(header, mms_directory, &body, &detail)) {
      // detail says why
    } else {
      outcome = postMms(url, body, &detail);
    }
    foundation::DebugLogf(kTag, "%s: %s", name.c_str(), platform::singleLine(detail).c_str());
    claimed.value().reset();  // the claim ends before the file is renamed or removed
    switch (outcome) {
      case MmsPostOutcome::kDone:
        removeDone(mms_directory, name);
        ++finished;
        break;
      case MmsPostOutcome::kSetAside:
        if (setAside(mms_directory, name)) ++finished;
        break;
      case MmsPostOutcome::kRetry: {
        Backoff b = waiting != backoff_.end() ? waiting->second : Backoff{};
        const unsigned delay = std::min(kMaxBackoffSeconds, 1u << std::min(b.failures, 9u));
        ++b.failures;
        b.next = now + std::chrono::seconds(delay);
        still_waiting[name] = b;
        break;
      }
    }
  }
  // Entries of headers that are gone are forgotten: the map stays as small
  // as the directory.
  backoff_ = std::move(still_waiting);
  return finished;
}

void ThreadProcess2WayMMS(int) {
  TwoWayMmsWorker worker;
  while (!platform::shutdownRequested()) {
    try {
      const std::string url = smsgw("2WayMMSPostURL");
      if (!url.empty() && foundation::yesNo(smsgw("ReceiveMMS")))
        (void)worker.runPass(url, foundation::inboundMMSDirectory());
    } catch (const std::exception& e) {
      foundation::DebugLogf(kTag, "Pass ended by %s", e.what());
    }
    if (!platform::sleepFor(kScanWait)) break;
  }
}

}  // namespace vek::inbound
