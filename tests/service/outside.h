// Pieces of the outside checks of the link sender: the SMSC simulator
// (../shared/oracles/node/smsc-sim.js) as a child process and the records of
// its --log, HTTP submissions over a kept-alive connection, and a gateway
// on a temporary data directory. Header-only: every .cc here is a test.
#pragma once

#include <signal.h>

#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gateway_process.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "support/test_support.h"

namespace vek::testing {

using namespace std::chrono_literals;

inline uint16_t freeTcpPort() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  return l.ok() ? platform::localPort(l->get()) : 0;
}

// One submit_sm as the simulator logged it.
struct SimRecord {
  int n = 0;
  std::string sys;  // system_id of the session
  std::string to;
  std::string text;
  std::vector<std::string> udh;
  int status = 0;
  std::string id;  // empty when refused
};

// The value of "key": in one flat JSON line ("" when absent).
inline std::string jsonField(const std::string& line, const std::string& key) {
  std::string k = "\"" + key + "\":";
  size_t p = line.find(k);
  if (p == std::string::npos) return {};
  p += k.size();
  if (p < line.size() && line[p] == '"') {
    std::string out;
    for (size_t i = p + 1; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      out += line[i];
    }
    return out;
  }
  size_t e = line.find_first_of(",}", p);
  return line.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

inline std::vector<SimRecord> readSimLog(const std::string& path) {
  std::vector<SimRecord> out;
  for (const std::string& line : platform::split(readText(path), "\n")) {
    if (line.find("\"n\":") == std::string::npos) continue;
    SimRecord r;
    r.n = std::atoi(jsonField(line, "n").c_str());
    r.sys = jsonField(line, "sys");
    r.to = jsonField(line, "to");
    r.text = jsonField(line, "text");
    r.status = std::atoi(jsonField(line, "status").c_str());
    r.id = jsonField(line, "id");
    size_t u = line.find("\"udh\":[");
    if (u != std::string::npos) {
      size_t end = line.find(']', u);
      for (const std::string& item : platform::split(line.substr(u + 7, end - u - 7), ",")) {
        std::string v(platform::trim(item));
        if (v.size() >= 2) r.udh.push_back(v.substr(1, v.size() - 2));
      }
    }
    out.push_back(std::move(r));
  }
  return out;
}

// smsc-sim.js on `port` (a free one when 0), stopped (SIGTERM, so that it
// writes its summary) when the object goes.
class Simulator {
 public:
  // Each simulator writes its own log, also when it takes over the port of
  // an earlier one.
  Simulator(const std::string& dir, std::vector<std::string> extra, uint16_t port = 0)
      : port_(port ? port : freeTcpPort()),
        log_(dir + platform::format("sim-%u-%d.jsonl", port_, serial())),
        summary_(log_.substr(0, log_.size() - 6) + ".json") {
    platform::ProcessOptions o;
    o.argv = {"node",           oraclesDir() + "/node/smsc-sim.js",
              "--port",         std::to_string(port_),
              "--max-seconds",  "300",
              "--log",          log_,
              "--summary-file", summary_};
    o.argv.insert(o.argv.end(), extra.begin(), extra.end());
    auto c = platform::ChildProcess::spawn(o);
    EXPECT_TRUE(c.ok()) << c.status().message();
    if (c.ok()) child_ = std::move(*c);
    ready_ = waitUntil([&] { return platform::connectTcp("127.0.0.1", port_, 200).ok(); }, 15s);
  }
  ~Simulator() { stop(); }
  // SIGTERM and wait (bounded) for the summary.
  void stop() {
    if (!child_.running()) return;
    ::kill(child_.pid(), SIGTERM);
    int code = 0;
    if (!child_.wait(5s, &code)) child_.kill();
  }
  uint16_t port() const { return port_; }
  bool ready() const { return ready_; }
  const std::string& logPath() const { return log_; }
  std::vector<SimRecord> records() const { return readSimLog(log_); }
  std::string summary() const { return readText(summary_); }

 private:
  static int serial() {
    static std::atomic<int> n{0};
    return ++n;
  }
  uint16_t port_;
  std::string log_, summary_;
  platform::ChildProcess child_;
  bool ready_ = false;
};

// HTTP GET requests over one kept-alive connection (reconnecting when the
// server closed it). get() returns the body, or "" on failure.
class HttpClient {
 public:
  explicit HttpClient(uint16_t port) : port_(port) {}
  std::string get(const std::string& target) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!fd_.valid()) {
        auto c = platform::connectTcp("127.0.0.1", port_, 2000);
        if (!c.ok()) return {};
        fd_ = std::move(*c);
      }
      std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
      if (platform::sendAll(fd_.get(), req, 5000) == platform::IoStatus::kOk) {
        std::string body;
        if (readResponse(&body)) return body;
      }
      fd_.reset();
    }
    return {};
  }
  // A submission; the gateway's message id, or "" when it was refused.
  std::string submit(const std::string& recipient, const std::string& text,
                     const std::string& extra = "") {
    std::string body = get("/?PhoneNumber=" + recipient + "&Text=" + text + extra);
    size_t p = body.find("MessageID=");
    if (p == std::string::npos) return {};
    return body.substr(p + 10, body.find(',', p) - p - 10);
  }

 private:
  bool readResponse(std::string* body) {
    std::string buf;
    size_t head_end;
    while ((head_end = buf.find("\r\n\r\n")) == std::string::npos) {
      if (!more(&buf)) return false;
    }
    std::string head = platform::toLower(buf.substr(0, head_end));
    size_t cl = head.find("content-length:");
    if (cl == std::string::npos) return false;
    size_t length = std::strtoul(head.c_str() + cl + 15, nullptr, 10);
    while (buf.size() < head_end + 4 + length)
      if (!more(&buf)) return false;
    *body = buf.substr(head_end + 4, length);
    if (head.find("connection: close") != std::string::npos) fd_.reset();
    return true;
  }
  bool more(std::string* buf) {
    char tmp[8192];
    size_t got = 0;
    if (platform::recvSome(fd_.get(), tmp, sizeof tmp, 10000, &got) != platform::IoStatus::kOk)
      return false;
    buf->append(tmp, got);
    return true;
  }
  uint16_t port_;
  platform::UniqueFd fd_;
};

// A gateway on its own data directory and web port.
class Gateway {
 public:
  explicit Gateway(std::string data) : data_(std::move(data)), web_port_(freeTcpPort()) {
    EXPECT_TRUE(platform::makeDirectories(data_).ok());
  }
  ~Gateway() { stop(); }
  // "SMSGW.INI": [SMSGW] with the web port, then `text` (sections and keys).
  void configure(const std::string& text) {
    std::string ini =
        "[SMSGW]\r\nWebPort=" + std::to_string(web_port_) + "\r\nIPAddress=127.0.0.1\r\n" + text;
    platform::Status st = platform::writeFileAtomic(data_ + "/SMSGW.INI", ini);
    EXPECT_TRUE(st.ok()) << st.message();
  }
  bool start() {
    process_ = std::make_unique<GatewayProcess>(data_);
    return process_->start() && process_->waitStarted(30s);
  }
  void stop() {
    if (!process_ || !process_->running()) return;
    process_->signal(SIGTERM);
    int code;
    if (!process_->waitExit(60s, &code)) process_->signal(SIGKILL);
  }
  void kill9() {
    process_->signal(SIGKILL);
    int code;
    process_->waitExit(10s, &code);
  }
  bool running() const { return process_ && process_->running(); }
  uint16_t webPort() const { return web_port_; }
  const std::string& data() const { return data_; }
  std::string events() const { return readText(data_ + "/private/EVENTS.LOG"); }
  // Request files still queued (any depth).
  std::vector<std::string> queued(const std::string& pattern = "*.req") const {
    std::vector<std::string> out;
    collect(data_ + "/Q/", pattern, &out, 0);
    return out;
  }

 private:
  static void collect(const std::string& dir, const std::string& pattern,
                      std::vector<std::string>* out, int depth) {
    platform::ListOptions o;
    o.directories = true;
    for (const auto& e : platform::listDirectory(dir, "*", o)) {
      if (e.directory) {
        if (depth < 3) collect(dir + e.name + "/", pattern, out, depth + 1);
      } else if (platform::globMatchNoCase(pattern, e.name)) {
        out->push_back(dir + e.name);
      }
    }
  }
  std::string data_;
  uint16_t web_port_;
  std::unique_ptr<GatewayProcess> process_;
};

inline std::string smppLink(uint16_t port) {
  return "SMPP - 127.0.0.1:" + std::to_string(port);
}

}  // namespace vek::testing
