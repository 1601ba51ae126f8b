// What the gateway tells the person who started it in a terminal: a short
// banner on standard error once it runs (version, data directory, the ports
// it listens on, how to stop it, where the logs are) and one line when it
// begins to stop. `--quiet` turns both off; error messages and the final
// "Shutdown complete!" are printed whatever the setting.
//
// The texts are built by pure functions (tested); printing happens only on
// the supervisor thread.
#pragma once

#include <string>
#include <vector>

namespace vek::service {

struct ListeningPort {
  const char* what;  // "web", "web SSL", "SMPP", "SMPP SSL"
  unsigned port;
};

struct BannerFacts {
  std::string data_dir;     // ends in '/'
  std::string log_dir;      // ends in '/'
  std::string private_dir;  // ends in '/'
  std::vector<ListeningPort> ports;
  bool debug_log = false;  // Debug=Yes
};

std::string startBanner(const BannerFacts& facts);
// `why`: "a stop signal", "a stop request", "a configuration update".
std::string stopLine(const std::string& why);

}  // namespace vek::service
