// veksms: the gateway's entry point.
#include <string>
#include <vector>

#include "service/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vek::service::runMain(args);
}
