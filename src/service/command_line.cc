#include "service/command_line.h"

#include <sys/file.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/single_instance.h"
#include "service/account_tool.h"
#include "service/service.h"

namespace vek::service {

std::string usageText() {
  return std::string(foundation::productBanner()) +
         "\n"
         "Usage: veksms [--data-dir DIR] [--quiet]  run the gateway in the foreground\n"
         "                                          (--quiet: no banner on standard error)\n"
         "       veksms --stop [--data-dir DIR]     stop the gateway running on DIR\n"
         "       veksms [--data-dir DIR] user add|set|del|list ...   manage accounts\n"
         "       veksms --version | --help\n"
         "The data directory defaults to $VEKSMS_DATA_DIR, else ./veksms-data.\n"
         "Account options: --password P --full-name T --disabled|--admin|--inbox|--receive|\n"
         "  --web|--smpp|--smtp|--credit yes|no --addresses L --senders L --recipients L\n"
         "  --throughput N[/S[/C]] --daily N --monthly N --menu 176..180\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (cl.action == CommandLine::Action::kUser) {
      if (a == "--data-dir" && i + 1 < args.size()) {
        cl.data_dir = args[++i];
      } else if (a.rfind("--data-dir=", 0) == 0) {
        cl.data_dir = a.substr(11);
      } else {
        cl.user_args.push_back(a);
      }
      continue;
    }
    if (a == "--help" || a == "-h") {
      cl.action = CommandLine::Action::kHelp;
    } else if (a == "--version") {
      cl.action = CommandLine::Action::kVersion;
    } else if (a == "--stop") {
      cl.action = CommandLine::Action::kStop;
    } else if (a == "--quiet" || a == "-q") {
      cl.quiet = true;
    } else if (a == "--data-dir") {
      if (i + 1 >= args.size()) {
        cl.action = CommandLine::Action::kError;
        cl.error = "--data-dir needs a directory";
        return cl;
      }
      cl.data_dir = args[++i];
    } else if (a.rfind("--data-dir=", 0) == 0) {
      cl.data_dir = a.substr(11);
    } else if (a == "user" && cl.action == CommandLine::Action::kRun) {
      cl.action = CommandLine::Action::kUser;
    } else {
      cl.action = CommandLine::Action::kError;
      cl.error = "unknown argument: " + a;
      return cl;
    }
  }
  return cl;
}

namespace {

int stopInstance(const std::string& data_dir) {
  if (auto st = hostlib::setDataDirectory(data_dir); !st.ok()) {
    std::fprintf(stderr, "veksms --stop: %s\n", st.message().c_str());
    return 1;
  }
  std::string priv = hostlib::GetPrivateDataDirectory();
  std::string guard = priv + platform::SingleInstance::kFileName;
  if (!platform::isLockedElsewhere(guard)) {
    std::fprintf(stderr, "veksms --stop: no gateway is running on %s\n",
                 hostlib::GetProgramDataDirectory().c_str());
    return 1;
  }
  if (auto st = platform::SingleInstance::requestStop(priv); !st.ok()) {
    std::fprintf(stderr, "veksms --stop: %s\n", st.message().c_str());
    return 1;
  }
  // Wait for the instance to let go of its guard (its shutdown is bounded).
  const auto deadline = platform::deadlineAfter(std::chrono::seconds(75));
  while (platform::isLockedElsewhere(guard)) {
    if (platform::monotonicNow() > deadline) {
      std::fprintf(stderr, "veksms --stop: the gateway has not stopped yet\n");
      return 1;
    }
    (void)platform::sleepFor(std::chrono::milliseconds(50));
  }
  return 0;
}

}  // namespace

int runMain(const std::vector<std::string>& args) {
  platform::restrictFileCreationMask();
  CommandLine cl = parseCommandLine(args);
  switch (cl.action) {
    case CommandLine::Action::kHelp:
      std::fputs(usageText().c_str(), stdout);
      return 0;
    case CommandLine::Action::kVersion:
      std::printf("%s\n", foundation::productBanner());
      return 0;
    case CommandLine::Action::kError:
      std::fprintf(stderr, "veksms: %s\n%s", cl.error.c_str(), usageText().c_str());
      return 2;
    case CommandLine::Action::kStop:
      return stopInstance(cl.data_dir);
    case CommandLine::Action::kUser:
      if (auto st = hostlib::setDataDirectory(cl.data_dir); !st.ok()) {
        std::fprintf(stderr, "veksms user: %s\n", st.message().c_str());
        return 1;
      }
      return runAccountTool(cl.user_args, std::cout, std::cerr);
    case CommandLine::Action::kRun:
      break;
  }
  ServiceOptions options;
  options.data_dir = cl.data_dir;
  options.quiet = cl.quiet;
  return runService(options);
}

}  // namespace vek::service
