// Foundation benchmarks.
//   BM_DebugLogLines    -- DebugLog lines with Debug on, stderr echo switched off, 1 and 4 threads
//   BM_DebugLogOff      -- DebugLog with Debug off (the cost every call site pays)
//   BM_MailDate         -- the mail date text of the current local time
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "foundation/date_text.h"
#include "foundation/debug_log.h"

namespace {

std::string g_dir;

void startLog(const benchmark::State&) {
  char dir[] = "/tmp/veksms-bench-XXXXXX";
  if (!::mkdtemp(dir)) return;
  g_dir = dir;
  vek::foundation::DebugLogConfig c;
  c.enabled = true;
  c.directory = g_dir;
  c.max_bytes = 0;  // one file for the whole run
  c.echo_to_stderr = false;
  vek::foundation::configureDebugLog(c);
}

void stopLog(const benchmark::State&) {
  vek::foundation::configureDebugLog(vek::foundation::DebugLogConfig{});
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
}

void BM_DebugLogLines(benchmark::State& state) {
  // A typical line: a tag and about 80 characters of text.
  const std::string text =
      "Submitted message to +447700900123 over SMPP - smsc.example:2775, id 0A1B2C3D";
  for (auto _ : state) vek::foundation::DebugLog("ThreadProcessModem", text);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DebugLogLines)
    ->Setup(startLog)
    ->Teardown(stopLog)
    ->Threads(1)
    ->Threads(4)
    ->UseRealTime();

void BM_DebugLogOff(benchmark::State& state) {
  vek::foundation::configureDebugLog(vek::foundation::DebugLogConfig{});
  for (auto _ : state) vek::foundation::DebugLog("ThreadProcessModem", "not written");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DebugLogOff);

void BM_MailDate(benchmark::State& state) {
  for (auto _ : state) {
    std::string d = vek::foundation::mailDateNow();
    benchmark::DoNotOptimize(d.data());
  }
}
BENCHMARK(BM_MailDate);

}  // namespace

BENCHMARK_MAIN();
