#include "modem_sim.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "encoding/utf8.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace vek::modem::testing {
namespace {

using namespace std::chrono_literals;

uint16_t freePort() {
  auto fd = platform::listenTcp("127.0.0.1", 0);
  return fd.ok() ? platform::localPort(fd->get()) : 0;
}

// Reads the child's output until `marker` shows (bounded).
bool readUntil(int fd, const std::string& marker, std::chrono::milliseconds limit) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[1024];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<size_t>(n));
    if (seen.find(marker) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

ModemSim::ModemSim(const std::string& dir, bool pty, std::vector<std::string> extra)
    : log_path_(dir + "modem-sim.jsonl") {
  platform::ProcessOptions o;
  o.argv = {"node", vek::testing::oraclesDir() + "/modem/modem-sim.js"};
  if (pty) {
    pty_path_ = dir + "modem";
    o.argv.insert(o.argv.end(), {"--pty", pty_path_});
  } else {
    port_ = freePort();
    o.argv.insert(o.argv.end(), {"--tcp", std::to_string(port_)});
  }
  o.argv.insert(o.argv.end(), {"--log", log_path_, "--max-seconds", "120"});
  o.argv.insert(o.argv.end(), extra.begin(), extra.end());
  auto child = platform::ChildProcess::spawn(o);
  if (!child.ok()) return;
  child_ = std::move(*child);
  ready_ = readUntil(child_.stdoutFd(), pty ? pty_path_ + " ->" : "listening on", 15s);
}

ModemSim::~ModemSim() {
  if (child_.running()) child_.kill();
}

std::string ModemSim::linkName() const {
  return pty_path_.empty() ? "IPModem - 127.0.0.1:" + std::to_string(port_) : pty_path_;
}

std::vector<std::string> ModemSim::logLines(const std::string& type) const {
  std::vector<std::string> out;
  std::istringstream in(vek::testing::readText(log_path_));
  std::string line;
  while (std::getline(in, line))
    if (jsonString(line, "type") == type) out.push_back(line);
  return out;
}

std::string ModemSim::stop() {
  if (!child_.running()) return {};
  ::kill(child_.pid(), SIGTERM);
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{child_.stdoutFd(), POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[4096];
    ssize_t n = ::read(child_.stdoutFd(), buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  child_.wait(5s);
  if (child_.running()) child_.kill();
  const size_t brace = out.rfind("\n{");
  return brace == std::string::npos ? out : out.substr(brace + 1);
}

ModemOptions fastOptions(const std::string& link_name) {
  ModemOptions o;
  o.link_name = link_name;
  o.time_scale = 0.05;
  static std::atomic<bool> never{false};
  o.stop = &never;
  return o;
}

namespace {

// Where the value of "key" starts (after the colon and blanks), or npos.
size_t valueStart(const std::string& json, const std::string& key, bool last) {
  const std::string tag = "\"" + key + "\":";
  size_t at = last ? json.rfind(tag) : json.find(tag);
  if (at == std::string::npos) return at;
  at += tag.size();
  while (at < json.size() && (json[at] == ' ' || json[at] == '\n')) ++at;
  return at;
}

}  // namespace

std::string jsonString(const std::string& json, const std::string& key, bool last) {
  size_t at = valueStart(json, key, last);
  if (at == std::string::npos || at >= json.size() || json[at] != '"') return {};
  std::string out;
  for (size_t i = at + 1; i < json.size(); ++i) {
    char c = json[i];
    if (c == '"') break;
    if (c != '\\' || i + 1 >= json.size()) {
      out.push_back(c);
      continue;
    }
    char e = json[++i];
    switch (e) {
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        if (i + 4 >= json.size()) return out;
        char32_t cp = static_cast<char32_t>(std::stoul(json.substr(i + 1, 4), nullptr, 16));
        i += 4;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 6 < json.size() && json[i + 1] == '\\') {
          char32_t lo = static_cast<char32_t>(std::stoul(json.substr(i + 3, 4), nullptr, 16));
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          i += 6;
        }
        encoding::appendUtf8(&out, cp);
        break;
      }
      default:
        out.push_back(e);
    }
  }
  return out;
}

std::string jsonRaw(const std::string& json, const std::string& key) {
  const size_t start = valueStart(json, key, false);
  if (start == std::string::npos) return {};
  int depth = 0;
  size_t i = start;
  for (; i < json.size(); ++i) {
    char c = json[i];
    if (c == '{' || c == '[') ++depth;
    if ((c == '}' || c == ']') && depth-- == 0) break;
    if (c == ',' && depth == 0) break;
  }
  return json.substr(start, i - start);
}

std::string decodeWithOracle(const std::string& pdu_hex) {
  platform::ProcessOptions o;
  o.argv = {"node", vek::testing::oraclesDir() + "/node/pdu.js", "decode", pdu_hex};
  o.time_limit = std::chrono::milliseconds(20000);
  auto r = platform::runProcess(o);
  return r.output;
}

}  // namespace vek::modem::testing
