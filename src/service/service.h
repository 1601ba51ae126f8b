// The service: start-up in its fixed order, the one-second supervision
// loop, and shutdown in its fixed order.
//
// Start-up prepares the configuration files, claims the single-instance
// guard of the data directory, loads settings and libraries, starts the
// thread table and the link threads and reports "service started." to the
// event log. The supervisor then watches for a stop (signal, stop byte,
// configuration trigger), starts links added while running, reloads the
// settings after a change of "SMSGW.INI" (and on SIGHUP) and does the
// hourly and per-minute work. Shutdown stops the threads (with a bound),
// writes what must survive and reports "service stopped.".
#pragma once

#include <string>

namespace vek::service {

struct ServiceOptions {
  std::string data_dir;  // "" = environment / default
  bool quiet = false;    // no banner and no stop line on standard error
};

// Runs the gateway until it is stopped; returns the process exit status
// (0 after an orderly shutdown, 255 when it could not start).
int runService(const ServiceOptions& options);

// True when `next` sorts above `stored`: as numbers when both are whole
// numbers, else ignoring case.
bool triggerRaised(const std::string& stored, const std::string& next);

}  // namespace vek::service
