// The command line. The gateway itself takes no arguments beyond these
// conveniences: --help, --version, --data-dir DIR, --stop, --quiet; and the account
// tool `veksms user add|set|del|list ...` for operators.
#pragma once

#include <string>
#include <vector>

namespace vek::service {

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kStop, kUser, kError };
  Action action = Action::kRun;
  std::string data_dir;
  bool quiet = false;                  // --quiet: no banner and no stop line
  std::vector<std::string> user_args;  // after "user"
  std::string error;
};

CommandLine parseCommandLine(const std::vector<std::string>& args);
std::string usageText();

// Runs the whole program for argv; returns the exit status.
int runMain(const std::vector<std::string>& args);

}  // namespace vek::service
