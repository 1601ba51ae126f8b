// The GSM modem simulator (modem-sim.js) as a test peer: over TCP as an IP
// modem or over a pseudo-terminal as a serial port, with its JSON log of
// submissions, and the independent PDU decoder (pdu.js).
#pragma once

#include <string>
#include <vector>

#include "modem/modem.h"
#include "platform/process.h"

namespace vek::modem::testing {

class ModemSim {
 public:
  // `pty`: a serial port at `dir`/modem instead of a TCP port.
  ModemSim(const std::string& dir, bool pty, std::vector<std::string> extra);
  ~ModemSim();
  ModemSim(const ModemSim&) = delete;
  ModemSim& operator=(const ModemSim&) = delete;

  bool ready() const { return ready_; }
  // The link name the driver is given.
  std::string linkName() const;
  // The simulator's log lines (one JSON object each) of type `type`.
  std::vector<std::string> logLines(const std::string& type) const;
  // Stops it and returns its JSON summary.
  std::string stop();

 private:
  platform::ChildProcess child_;
  std::string log_path_;
  std::string pty_path_;
  uint16_t port_ = 0;
  bool ready_ = false;
};

// Options for a driver talking to the simulator quickly.
ModemOptions fastOptions(const std::string& link_name);

// The value of "key":"..." (a JSON string) in `json`, escapes resolved;
// "" when absent. `last`: the last occurrence of the key.
std::string jsonString(const std::string& json, const std::string& key, bool last = false);
// The raw value text of "key": up to the next ',' or '}' at its level.
std::string jsonRaw(const std::string& json, const std::string& key);

// pdu.js decode of one PDU: its JSON output.
std::string decodeWithOracle(const std::string& pdu_hex);

}  // namespace vek::modem::testing
