// Gateway program benchmarks (each starts the real program on a fresh data
// directory with an empty configuration).
//   BM_StartupTime  -- from exec until "service started." is in the event
//                      log, minus the fixed two-second pause before the report
//   BM_IdleCpu      -- CPU time used over 60 s of idling, as % of one core
//                      (run with --benchmark_filter=IdleCpu; takes a minute)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/shutdown.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct Gateway {
  pid_t pid = -1;
  std::string dir;
  Gateway() {
    char tmpl[] = "/tmp/veksms-bench-XXXXXX";
    dir = ::mkdtemp(tmpl);
    pid = ::fork();
    if (pid == 0) {
      int null = ::open("/dev/null", 1);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(VEKSMS_BINARY_PATH, "veksms", "--data-dir", dir.c_str(), nullptr);
      ::_exit(127);
    }
  }
  bool waitStarted(std::chrono::seconds limit) {
    auto deadline = vek::platform::monotonicNow() + limit;
    while (vek::platform::monotonicNow() < deadline) {
      if (slurp(dir + "/private/EVENTS.LOG").find("service started.") != std::string::npos)
        return true;
      (void)vek::platform::sleepFor(std::chrono::milliseconds(1));
    }
    return false;
  }
  ~Gateway() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
};

void BM_StartupTime(benchmark::State& state) {
  for (auto _ : state) {
    auto start = vek::platform::monotonicNow();
    Gateway g;
    if (!g.waitStarted(std::chrono::seconds(30))) {
      state.SkipWithError("gateway did not start");
      return;
    }
    auto took = std::chrono::duration<double>(vek::platform::monotonicNow() - start).count() - 2.0;
    state.SetIterationTime(took);
  }
}
BENCHMARK(BM_StartupTime)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

double cpuSeconds(pid_t pid) {
  std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stod(field);
    if (i == 15) stime = std::stod(field);
  }
  return (utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void BM_IdleCpu(benchmark::State& state) {
  for (auto _ : state) {
    Gateway g;
    if (!g.waitStarted(std::chrono::seconds(30))) {
      state.SkipWithError("gateway did not start");
      return;
    }
    (void)vek::platform::sleepFor(std::chrono::seconds(10));  // past the first supervision pass
    double before = cpuSeconds(g.pid);
    (void)vek::platform::sleepFor(std::chrono::seconds(60));
    double used = cpuSeconds(g.pid) - before;
    state.counters["idle_cpu_percent"] = used / 60.0 * 100.0;
  }
}
BENCHMARK(BM_IdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
