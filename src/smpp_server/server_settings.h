// The SMPP server's settings, read from "SMSGW.INI" at the point of use
// (each connection reads them when it starts and the enquire-link value again
// at every account re-validation), so a change applies to new connections
// without a restart.
//
// Section `SMSGW`:
//   SMPPPort, SMPPPortSSL               listener ports (0 or absent: off)
//   SMPPServerEnquireLink               seconds of client silence before the
//                                       connection is closed (absent: 120; 0: never)
//   SMPPServerMaxConnectionsPerUser     connections one account may hold (absent or 0: 4)
//   SMPPServerValidateUserInterval      seconds between account re-validations (absent or 0: 60)
//   SMPPServerAsyncWindowSize           deliveries outstanding at once (0: synchronous)
//   SMPPServerMaxUnboundPerAddress      connections not yet bound from one address (absent or 0:
//   32) SMPPServerMaxUnboundConnections     connections not yet bound in total (absent or 0: 512)
//   SMPPServerBindTimeout               seconds a connection may take to bind (absent or 0: 120)
//   SMPPNoDelay                         TCP no-delay on bound connections (default No)
// Section `SMPPServerAsyncWindowSize`: a window per account (key: the
// account name). Section `SMPPOptions`: the option names whose
// "SMPPOption_" items from clients are kept (a key with a non-empty value).
//
// Plain values; the loaders are thread-safe (one parse of the file each).
#pragma once

#include <string_view>

namespace vek::smpp_server {

// The largest delivery window honoured: every outstanding delivery keeps its
// request file open and locked until the client answers.
inline constexpr int kMaxWindow = 1000;

struct ServerSettings {
  unsigned port = 0;
  unsigned ssl_port = 0;
  int enquire_link_seconds = 120;
  int max_connections_per_user = 4;
  int validate_interval_seconds = 60;
  int window = 0;
  int max_unbound_per_address = 32;
  int max_unbound = 512;
  int bind_timeout_seconds = 120;
  bool no_delay = false;
};

ServerSettings loadServerSettings();

// The delivery window for `account`: its entry in section
// `SMPPServerAsyncWindowSize` when present, else `settings.window`; cut to
// 0..kMaxWindow.
int windowFor(const ServerSettings& settings, std::string_view account);

// True when section `SMPPOptions` lists `name` (ignoring case) with a
// non-empty value.
bool optionKept(std::string_view name);

}  // namespace vek::smpp_server
