// The account tool: `veksms user add|set|del|list` for operators and tests.
//
//   user add NAME --password P [options]
//   user set NAME [options]        (changes only the options given)
//   user del NAME
//   user list
// Options: --password P, --full-name T, --disabled yes|no, --admin yes|no,
// --inbox yes|no, --receive yes|no, --web yes|no, --smpp yes|no,
// --smtp yes|no, --credit yes|no, --addresses LIST, --senders LIST,
// --recipients LIST, --throughput N[/S[/C]], --daily N, --monthly N,
// --menu 176..180.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vek::service {

// Runs the tool against the account store of the configured data
// directory; messages go to `out` / `err`. Returns the exit status.
int runAccountTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vek::service
