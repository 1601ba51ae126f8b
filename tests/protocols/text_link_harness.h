// Test helpers for the UCP/EMI and CIMD2 engines: a message-centre
// simulator (or Kannel's test_cimd2) on a free loopback port, a relay that
// records the frames both ways for the dissector check, a raw centre for
// byte-level tests, and readers for the simulators' JSON log lines.
// Header-only because the test program compiles only *_test.cc files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace vek::protocols::testing {

using namespace std::chrono_literals;

inline uint16_t freePort() {
  auto fd = platform::listenTcp("127.0.0.1", 0);
  return fd.ok() ? platform::localPort(fd->get()) : 0;
}

// True when a socket listens on 127.0.0.1:port (read from /proc, without
// connecting: some peers serve only the first connection they accept).
inline bool listening(uint16_t port) {
  std::string table = vek::testing::readText("/proc/net/tcp");
  char want[32];
  std::snprintf(want, sizeof want, ":%04X 00000000:0000 0A", port);
  return table.find(want) != std::string::npos;
}

// A peer program listening on a free port, killed when the test ends.
// `argv` gets "--port <port>" appended.
class PeerProcess {
 public:
  explicit PeerProcess(std::vector<std::string> argv) : port_(freePort()) {
    platform::ProcessOptions o;
    o.argv = std::move(argv);
    o.argv.insert(o.argv.end(), {"--port", std::to_string(port_)});
    auto child = platform::ChildProcess::spawn(o);
    EXPECT_TRUE(child.ok()) << child.status().message();
    if (child.ok()) child_ = std::move(*child);
    ready_ = vek::testing::waitUntil([&] { return listening(port_); }, 10s);
  }
  ~PeerProcess() { child_.kill(); }
  uint16_t port() const { return port_; }
  bool ready() const { return ready_; }

 private:
  uint16_t port_;
  platform::ChildProcess child_;
  bool ready_ = false;
};

// ucp/ucp-smsc-sim.js or cimd/cimd-smsc-sim.js with a JSON log.
inline std::vector<std::string> simulatorArgv(const std::string& script, const std::string& log,
                                              std::vector<std::string> extra) {
  std::vector<std::string> argv = {"node", vek::testing::oraclesDir() + "/" + script,
                                   "--max-seconds", "120"};
  if (!log.empty()) argv.insert(argv.end(), {"--log", log});
  argv.insert(argv.end(), extra.begin(), extra.end());
  return argv;
}

// JSON string form of `s` as the simulators write it (JSON.stringify:
// UTF-8 kept, quotes, backslashes and control characters escaped).
inline std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

// The log's lines that contain every fragment.
inline std::vector<std::string> logLines(const std::string& path,
                                         const std::vector<std::string>& fragments) {
  std::vector<std::string> out;
  std::string text = vek::testing::readText(path);
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? text.size() : nl + 1;
    bool all = std::all_of(fragments.begin(), fragments.end(),
                           [&](const std::string& f) { return line.find(f) != std::string::npos; });
    if (all) out.push_back(line);
  }
  return out;
}

// Forwards one connection to a peer and keeps every STX..ETX frame that
// passes, in order, for the dissector check.
class RecordingRelay {
 public:
  explicit RecordingRelay(uint16_t target) : target_(target) {
    auto fd = platform::listenTcp("127.0.0.1", 0);
    EXPECT_TRUE(fd.ok());
    listener_ = std::move(*fd);
    port_ = platform::localPort(listener_.get());
    thread_ = std::thread([this] { run(); });
  }
  ~RecordingRelay() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return port_; }
  std::vector<std::string> frames() {
    std::scoped_lock lk(mu_);
    return frames_;
  }

 private:
  void run() {
    platform::UniqueFd a, b;
    while (!stop_ && !a.valid()) {
      auto fd = platform::acceptConnection(listener_.get(), 50);
      if (fd) a = std::move(*fd);
    }
    if (stop_) return;
    auto fd = platform::connectTcp("127.0.0.1", target_, 2000);
    if (!fd) return;
    b = std::move(*fd);
    std::string pending[2];
    bool open = true;
    while (!stop_ && open) {
      for (int dir = 0; dir < 2 && open; ++dir) {
        int from = dir == 0 ? a.get() : b.get(), to = dir == 0 ? b.get() : a.get();
        char buf[4096];
        size_t got = 0;
        auto st = platform::recvSome(from, buf, sizeof buf, 5, &got);
        if (st == platform::IoStatus::kTimeout) continue;
        if (st != platform::IoStatus::kOk) {
          open = false;
          break;
        }
        // Kept before forwarding: once the far side has a frame, the test
        // may read frames() and must find it there.
        keepFrames(&pending[dir], std::string_view(buf, got));
        if (platform::sendAll(to, std::string_view(buf, got), 2000) != platform::IoStatus::kOk) {
          open = false;
          break;
        }
      }
    }
  }
  void keepFrames(std::string* pending, std::string_view bytes) {
    pending->append(bytes);
    for (;;) {
      size_t s = pending->find('\x02');
      if (s == std::string::npos) {
        pending->clear();
        return;
      }
      size_t e = pending->find('\x03', s);
      if (e == std::string::npos) {
        pending->erase(0, s);
        return;
      }
      std::scoped_lock lk(mu_);
      frames_.push_back(pending->substr(s, e - s + 1));
      pending->erase(0, e + 1);
    }
  }

  uint16_t target_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::string> frames_;
};

// Runs the frames through tshark's dissector for `protocol` ("ucp" or
// "cimd") on `port`: one packet per frame. Returns the per-frame decode
// lines ("" when tshark or text2pcap is missing); *errors gets every
// expert message of error severity and any malformed-packet report.
inline std::vector<std::string> dissect(const std::vector<std::string>& frames,
                                        const std::string& protocol, const std::string& dir,
                                        std::string* errors) {
  if (!platform::findProgram("tshark") || !platform::findProgram("text2pcap")) return {};
  std::string hex;
  for (const auto& f : frames) {
    for (size_t i = 0; i < f.size(); i += 16) {
      char line[24];
      std::snprintf(line, sizeof line, "%06zx", i);
      hex += line;
      for (size_t j = i; j < std::min(f.size(), i + 16); ++j) {
        std::snprintf(line, sizeof line, " %02x", static_cast<unsigned char>(f[j]));
        hex += line;
      }
      hex += "\n";
    }
  }
  vek::testing::writeText(dir + "frames.txt", hex);
  platform::ProcessOptions t2p;
  t2p.argv = {
      "text2pcap",        "-q", "-T", "40000,3000", "-4", "127.0.0.1,127.0.0.1", dir + "frames.txt",
      dir + "frames.pcap"};
  auto r = platform::runProcess(t2p);
  if (r.exit_code != 0) {
    *errors = "text2pcap failed: " + r.output;
    return {};
  }
  platform::ProcessOptions ts;
  ts.argv = {"tshark",
             "-r",
             dir + "frames.pcap",
             "-d",
             "tcp.port==3000," + protocol,
             "-T",
             "fields",
             "-E",
             "separator=|",
             "-e",
             "frame.protocols",
             "-e",
             "_ws.expert.severity",
             "-e",
             "_ws.expert.message"};
  ts.merge_stderr = false;
  auto out = platform::runProcess(ts);
  std::vector<std::string> rows;
  size_t at = 0;
  while (at < out.output.size()) {
    size_t nl = out.output.find('\n', at);
    std::string row = out.output.substr(at, nl - at);
    at = nl == std::string::npos ? out.output.size() : nl + 1;
    if (row.empty()) continue;
    rows.push_back(row);
    // Severity "error" is 8388608 (0x800000) in tshark's numbering; a frame
    // the dissector did not take, or took and found malformed, is an error too.
    if (row.find("8388608") != std::string::npos || row.find("malformed") != std::string::npos ||
        row.find(":" + protocol) == std::string::npos)
      *errors += row + "\n";
  }
  if (out.exit_code != 0) *errors += "tshark failed: " + out.output;
  return rows;
}

// A message centre of our own making on a raw socket: accepts one
// connection and trades bytes with it.
class RawCentre {
 public:
  RawCentre() {
    auto fd = platform::listenTcp("127.0.0.1", 0);
    EXPECT_TRUE(fd.ok());
    listener_ = std::move(*fd);
    port_ = platform::localPort(listener_.get());
  }
  uint16_t port() const { return port_; }
  bool accept() {
    auto fd = platform::acceptConnection(listener_.get(), 2000);
    if (!fd) return false;
    peer_ = std::move(*fd);
    return true;
  }
  bool send(const std::string& bytes) {
    return platform::sendAll(peer_.get(), bytes, 2000) == platform::IoStatus::kOk;
  }
  // The next whole STX..ETX frame within 2 s ("" on time-out or close).
  std::string readFrame() {
    auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline) {
      size_t s = buf_.find('\x02'), e = s == std::string::npos ? s : buf_.find('\x03', s);
      if (e != std::string::npos) {
        std::string f = buf_.substr(s, e - s + 1);
        buf_.erase(0, e + 1);
        return f;
      }
      char tmp[4096];
      size_t got = 0;
      auto st = platform::recvSome(peer_.get(), tmp, sizeof tmp, 50, &got);
      if (st == platform::IoStatus::kOk)
        buf_.append(tmp, got);
      else if (st != platform::IoStatus::kTimeout)
        return {};
    }
    return {};
  }
  void hangUp() { peer_.reset(); }

 private:
  platform::UniqueFd listener_, peer_;
  uint16_t port_ = 0;
  std::string buf_;
};

}  // namespace vek::protocols::testing
