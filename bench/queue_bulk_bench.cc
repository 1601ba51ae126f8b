// Bulk and delay queue benchmarks (files under $VEKSMS_BENCH_DIR, else
// /tmp: this machine's file system).
//   BM_BulkExpand/N       -- one bulk pass over a job of N recipients (one
//                            template, lists of 10,000 lines, MaxQDirEntries
//                            10,000): recipients expanded into request files
//                            per second (items_per_second)
//   BM_BulkExpand2Parts/N -- the same with two templates (two files each)
//   BM_RawCreate/N        -- N files of the same size created with plain
//                            open, write, close in one directory: the file
//                            system's own limit on the same machine
//   BM_DelayRelease/N     -- one delay pass moving N due messages (half of
//                            them in a route partition) into the queue
//   BM_DelayedMinuteToQueue -- a delay thread as in service (a pass, then a
//                            one-second pause) on an injected clock: the time
//                            from the clock reaching a message's minute to
//                            its request file in the queue (manual time per
//                            iteration; the minute falls at a different point
//                            of the thread's pause each time)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/bulk_queue.h"
#include "queue/delay_queue.h"
#include "queue/unique_id.h"

namespace {

using namespace vek;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    const char* parent = ::getenv("VEKSMS_BENCH_DIR");
    std::string templ =
        std::string(parent && *parent ? parent : "/tmp") + "/veksms-bulkbench-XXXXXX";
    path_ = ::mkdtemp(templ.data()) ? templ + "/" : std::string("/tmp/");
    queue::resetUniqueMessageIdsForTesting(path_ + "UID.DAT");
    foundation::publishSettings(foundation::Settings{});
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const std::string kTemplate =
    "[SMS]\r\nSubmitUser=bench\r\nSubmittedBy=127.0.0.1\r\nSender=VekSMS\r\n"
    "Data=A bulk message of about the usual length for a text sent to many people\r\n"
    "pid=00\r\ndcs=00\r\n";

void writeJob(const std::string& job, int64_t recipients, int parts) {
  fs::create_directories(job);
  for (int k = 1; k <= parts; ++k)
    std::ofstream(job + platform::format("M%d.REQ", k), std::ios::binary) << kTemplate;
  std::string list;
  int block = 0;
  for (int64_t i = 0; i < recipients; ++i) {
    list += platform::format(parts == 1 ? "%08llX.req=+4477%08lld\r\n"
                                        : "SAR-+4477%08lld-%llx-2-@@CTR@@.req=+4477%08lld\r\n",
                             static_cast<long long>(i), static_cast<long long>(i),
                             static_cast<long long>(i));
    if ((i + 1) % 10000 == 0 || i + 1 == recipients) {
      std::ofstream(job + platform::format("R%07d.BLK", ++block), std::ios::binary) << list;
      list.clear();
    }
  }
}

void expand(benchmark::State& state, int parts) {
  ScratchDir dir;
  queue::BulkQueueConfig c;
  c.bulk_directory = dir.path() + "BULKQ/";
  c.queue_directory = dir.path() + "Q/";
  c.pace = false;
  const int64_t n = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(c.queue_directory);
    writeJob(c.bulk_directory + "J/", n, parts);
    state.ResumeTiming();
    if (queue::processBulkQueue(c) != static_cast<uint64_t>(n * parts))
      state.SkipWithError("not every recipient was expanded");
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_BulkExpand(benchmark::State& state) {
  expand(state, 1);
}
BENCHMARK(BM_BulkExpand)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BulkExpand2Parts(benchmark::State& state) {
  expand(state, 2);
}
BENCHMARK(BM_BulkExpand2Parts)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RawCreate(benchmark::State& state) {
  ScratchDir dir;
  const std::string text = kTemplate + "PhoneNumber=+447700000000\r\n";
  const std::string d = dir.path() + "raw/";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(d);
    fs::create_directories(d);
    state.ResumeTiming();
    for (int64_t i = 0; i < state.range(0); ++i) {
      int fd = ::open((d + platform::format("%08llX.req", static_cast<long long>(i))).c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        state.SkipWithError("create failed");
      if (fd >= 0) ::close(fd);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RawCreate)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void plantDelayed(const std::string& time_dir, int64_t n) {
  fs::create_directories(time_dir + "RT_-_bench_-_");
  for (int64_t i = 0; i < n; ++i) {
    std::string sub = i % 2 ? "RT_-_bench_-_/" : "";
    std::ofstream(time_dir + sub + platform::format("%08llX.req", static_cast<long long>(i)),
                  std::ios::binary)
        << kTemplate << "PhoneNumber=1\r\n";
  }
}

void BM_DelayRelease(benchmark::State& state) {
  ScratchDir dir;
  platform::FakeClock clock(platform::fromUnix(1765270800));  // 2025-12-09 09:00 UTC
  platform::ScopedClock scoped(&clock);
  queue::DelayQueueConfig c;
  c.queue_directory = dir.path() + "Q/";
  const std::string time_dir =
      c.queue_directory + "DELAYQ/" + platform::dateStamp(platform::localNow()) + "/0000/";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(c.queue_directory);
    plantDelayed(time_dir, state.range(0));
    state.ResumeTiming();
    if (queue::processDelayQueue(c) != static_cast<uint64_t>(state.range(0)))
      state.SkipWithError("not every message was moved");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DelayRelease)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DelayedMinuteToQueue(benchmark::State& state) {
  ScratchDir dir;
  platform::CalendarTime start = platform::localNow();
  start.hour = 9, start.minute = 4, start.second = 30, start.millisecond = 0;
  platform::FakeClock clock(platform::fromLocal(start));
  platform::ScopedClock scoped(&clock);
  queue::DelayQueueConfig c;
  c.queue_directory = dir.path() + "Q/";
  std::atomic<bool> stop{false};
  std::thread thread([&] {
    while (!stop) {
      (void)queue::processDelayQueue(c);
      for (int i = 0; i < 100 && !stop; ++i) std::this_thread::sleep_for(10ms);
    }
  });
  int64_t round = 0;
  for (auto _ : state) {
    platform::CalendarTime due = platform::toLocal(clock.now() + 1min);
    const std::string name = platform::format("%08llX.req", static_cast<long long>(round));
    const std::string time_dir = c.queue_directory + "DELAYQ/" + platform::dateStamp(due) + "/" +
                                 platform::format("%02d%02d", due.hour, due.minute) + "/";
    std::error_code ec;
    fs::create_directories(time_dir, ec);
    std::ofstream(time_dir + name) << kTemplate << "PhoneNumber=1\r\n";
    // The minute arrives at a different point of the thread's pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(137 * (round++ % 8)));
    due.second = 0;
    clock.set(platform::fromLocal(due));
    auto begin = std::chrono::steady_clock::now();
    while (!platform::isRegularFile(c.queue_directory + name) &&
           std::chrono::steady_clock::now() - begin < 5s)
      std::this_thread::sleep_for(200us);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    clock.set(clock.now() + 30s);
  }
  stop = true;
  thread.join();
}
BENCHMARK(BM_DelayedMinuteToQueue)->Iterations(16)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
