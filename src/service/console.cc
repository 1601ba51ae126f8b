#include "service/console.h"

#include "foundation/service_state.h"
#include "platform/strings.h"

namespace vek::service {

std::string startBanner(const BannerFacts& f) {
  std::string out = foundation::productBanner();
  out += " running\n";
  out += "  data directory  " + f.data_dir + "\n";
  if (f.ports.empty()) {
    out += "  listening on    no port (see the event log)\n";
  } else {
    std::string ports;
    for (const ListeningPort& p : f.ports) {
      if (!ports.empty()) ports += ", ";
      ports += platform::format("%s %u", p.what, p.port);
    }
    out += "  listening on    " + ports + "\n";
  }
  out += "  logs            " + f.log_dir + "  (events: " + f.private_dir + "EVENTS.LOG";
  out += f.debug_log ? ", debug: SMSDEBUG.LOG)\n" : "; Debug=Yes in SMSGW.INI for SMSDEBUG.LOG)\n";
  std::string dir = f.data_dir.find(' ') == std::string::npos ? f.data_dir : "'" + f.data_dir + "'";
  out += "  stop            Ctrl-C, or veksms --stop --data-dir " + dir + "\n";
  return out;
}

std::string stopLine(const std::string& why) {
  return std::string(foundation::productBanner()) + " stopping (" + why + ")\n";
}

}  // namespace vek::service
