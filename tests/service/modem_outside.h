// Pieces of the modem outside checks: the GSM modem simulator
// (../shared/oracles/modem/modem-sim.js) as an IP modem or a serial port,
// its JSON log, the independent PDU decoder (../shared/oracles/node/pdu.js),
// and a gateway whose modem waits are shrunk. Header-only.
#pragma once

#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "outside.h"

namespace vek::testing {

// modem-sim.js over TCP ("IPModem - 127.0.0.1:<port>") or over a PTY
// (`dir`/modem<n>), stopped with SIGTERM when the object goes.
class ModemSimulator {
 public:
  ModemSimulator(const std::string& dir, bool pty, std::vector<std::string> extra) {
    static std::atomic<int> serial{0};
    const int n = ++serial;
    log_ = dir + platform::format("modem-sim-%d.jsonl", n);
    platform::ProcessOptions o;
    o.argv = {"node", oraclesDir() + "/modem/modem-sim.js"};
    if (pty) {
      pty_ = dir + platform::format("modem%d", n);
      o.argv.insert(o.argv.end(), {"--pty", pty_});
    } else {
      port_ = freeTcpPort();
      o.argv.insert(o.argv.end(), {"--tcp", std::to_string(port_)});
    }
    o.argv.insert(o.argv.end(), {"--log", log_, "--max-seconds", "600"});
    o.argv.insert(o.argv.end(), extra.begin(), extra.end());
    auto c = platform::ChildProcess::spawn(o);
    EXPECT_TRUE(c.ok()) << c.status().message();
    if (!c.ok()) return;
    child_ = std::move(*c);
    ready_ = waitUntil(
        [&] {
          if (pty) return platform::statPath(pty_).has_value();
          return platform::connectTcp("127.0.0.1", port_, 200).ok();
        },
        15s);
  }
  ~ModemSimulator() { stop(); }
  void stop() {
    if (!child_.running()) return;
    ::kill(child_.pid(), SIGTERM);
    if (!child_.wait(5s)) child_.kill();
  }
  bool ready() const { return ready_; }
  std::string linkName() const {
    return pty_.empty() ? "IPModem - 127.0.0.1:" + std::to_string(port_) : pty_;
  }
  // Log lines of one type ("submit", "mo", "status-report", ...).
  std::vector<std::string> lines(const std::string& type) const {
    std::vector<std::string> out;
    for (const std::string& line : platform::split(readText(log_), "\n"))
      if (jsonField(line, "type") == type) out.push_back(line);
    return out;
  }
  // Accepted submissions per recipient.
  std::map<std::string, int> delivered() const {
    std::map<std::string, int> out;
    for (const std::string& line : lines("submit"))
      if (jsonField(line, "result") == "ok") ++out[jsonField(line, "to")];
    return out;
  }

 private:
  platform::ChildProcess child_;
  std::string log_, pty_;
  uint16_t port_ = 0;
  bool ready_ = false;
};

// pdu.js decode of one PDU: its JSON output.
inline std::string decodePdu(const std::string& pdu_hex) {
  platform::ProcessOptions o;
  o.argv = {"node", oraclesDir() + "/node/pdu.js", "decode", pdu_hex};
  o.time_limit = std::chrono::milliseconds(20000);
  return platform::runProcess(o).output;
}

// The gateway program's modem waits are shrunk by this factor, so that a
// speed search or a recovery takes seconds.
inline void shrinkModemWaits(const char* factor = "0.05") {
  ::setenv("VEKSMS_MODEM_TIME_SCALE", factor, 1);
}

// Files under `dir` (any depth) whose name matches `pattern`.
inline std::vector<std::string> filesUnder(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> out;
  std::error_code ec;
  namespace fs = std::filesystem;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (it->is_regular_file(ec) &&
        platform::globMatchNoCase(pattern, it->path().filename().string()))
      out.push_back(it->path().string());
  }
  return out;
}

// A gateway on its own data directory and web port, with its debug log on
// (the checks read it). The program copies every debug line to its standard
// error, a pipe to this process: a thread keeps reading it, or a long run
// would fill the pipe and stall the gateway's threads.
class ModemGateway {
 public:
  explicit ModemGateway(std::string data) : data_(std::move(data)), web_port_(freeTcpPort()) {
    EXPECT_TRUE(platform::makeDirectories(data_).ok());
  }
  ~ModemGateway() { stop(); }
  void configure(const std::string& text) {
    std::string ini = "[SMSGW]\r\nWebPort=" + std::to_string(web_port_) +
                      "\r\nIPAddress=127.0.0.1\r\nDebug=Yes\r\n" + text;
    EXPECT_TRUE(platform::writeFileAtomic(data_ + "/SMSGW.INI", ini).ok());
  }
  bool start() {
    process_ = std::make_unique<GatewayProcess>(data_);
    if (!process_->start()) return false;
    draining_ = true;
    drain_ = std::thread([this] {
      while (draining_) {
        (void)process_->output();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    return waitUntil([&] { return events().find("service started.") != std::string::npos; }, 30s);
  }
  void stop() {
    if (!process_) return;
    if (process_->running()) process_->signal(SIGTERM);
    draining_ = false;
    if (drain_.joinable()) drain_.join();
    // waitExit() reads the output itself while it waits.
    int code;
    if (!process_->waitExit(60s, &code)) {
      process_->signal(SIGKILL);
      process_->waitExit(10s, &code);
    }
    process_.reset();
  }
  uint16_t webPort() const { return web_port_; }
  const std::string& data() const { return data_; }
  std::string events() const { return readText(data_ + "/private/EVENTS.LOG"); }
  std::string debugLog() const { return readText(data_ + "/logs/SMSDEBUG.LOG"); }
  // Request files still queued (any depth).
  std::vector<std::string> queued() const { return filesUnder(data_ + "/Q", "*.req"); }

 private:
  std::string data_;
  uint16_t web_port_;
  std::unique_ptr<GatewayProcess> process_;
  std::thread drain_;
  std::atomic<bool> draining_{false};
};

}  // namespace vek::testing
