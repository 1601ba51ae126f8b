// Queue store benchmarks (files under /tmp, on this machine's file system).
//   BM_QueueLifecycle   -- one 400-byte request file: CreateQueueFile, claim, load, release
//   BM_RawFileLifecycle -- the same system calls in a plain loop (temp write, rename, open,
//                          flock, read, truncate, unlink, close): the file system's own limit
//   BM_QueueCachePass   -- one queue cache pass over 10,000 files in the root and 4 partitions
//   BM_RoutingLookup    -- routing database lookups (hits) in a table of 100,000 entries
//   BM_RoutingAdd       -- routing database adds of new keys, from the initial size upwards
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_cache.h"
#include "queue/queue_claim.h"
#include "queue/queue_tree.h"
#include "queue/routing_db.h"
#include "queue/unique_id.h"

namespace {

using namespace vek;

// A fresh directory removed with its content at the end of the scope.
class ScratchDir {
 public:
  ScratchDir() {
    char templ[] = "/tmp/veksms-qbench-XXXXXX";
    path_ = ::mkdtemp(templ) ? std::string(templ) + "/" : std::string("/tmp/");
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string requestText() {
  std::string text =
      "[SMS]\r\nPhoneNumber=+447700900123\r\nSender=VekSMS\r\nSubmitUser=bench\r\nData=";
  text += std::string(400 - text.size() - 2, 'x');
  return text + "\r\n";
}

std::string sameName(std::string_view name) {
  return std::string(name);
}

void BM_QueueLifecycle(benchmark::State& state) {
  ScratchDir dir;
  queue::resetUniqueMessageIdsForTesting(dir.path() + "UID.DAT");
  const std::string root = dir.path() + "Q/";
  (void)platform::makeDirectories(root);
  const std::string text = requestText();
  queue::SMSMessage msg;
  for (auto _ : state) {
    auto path = queue::CreateQueueFile(root, "req", text);
    if (!path.ok()) {
      state.SkipWithError("CreateQueueFile failed");
      break;
    }
    auto claim = queue::QueueClaim::claim(root, path->substr(root.size()));
    if (!claim.ok() || !claim->load(&msg, sameName) || !claim->release().ok()) {
      state.SkipWithError("claim failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueueLifecycle)->UseRealTime();

void BM_RawFileLifecycle(benchmark::State& state) {
  ScratchDir dir;
  const std::string text = requestText();
  const std::string tmp = dir.path() + ".tmp";
  char buf[1024];
  uint32_t n = 0;
  for (auto _ : state) {
    std::string path = dir.path() + platform::format("%08X.req", n++);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      state.SkipWithError("write failed");
      break;
    }
    ::close(fd);
    ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ::flock(fd, LOCK_EX | LOCK_NB);
    benchmark::DoNotOptimize(::read(fd, buf, sizeof buf));
    benchmark::DoNotOptimize(::ftruncate(fd, 0));
    ::unlink(path.c_str());
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawFileLifecycle)->UseRealTime();

void BM_QueueCachePass(benchmark::State& state) {
  ScratchDir dir;
  const std::string root = dir.path() + "Q/";
  const std::string subs[] = {"", "RT_-_a_-_/", "RT_-_b_-_/", "acct/", "acct###0001/"};
  for (const auto& s : subs) (void)platform::makeDirectories(root + s);
  for (int i = 0; i < 10000; ++i) {
    (void)platform::publishFile(root + subs[i % 5] + platform::format("%08X.req", i), "[SMS]\r\n");
  }
  size_t files = 0;
  for (auto _ : state) {
    queue::QueueListing l = queue::buildQueueListing(root);
    files = l.files.size();
    benchmark::DoNotOptimize(l);
  }
  state.counters["files"] = static_cast<double>(files);
}
BENCHMARK(BM_QueueCachePass)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<std::string> routingKeys(int n) {
  std::vector<std::string> keys;
  keys.reserve(n);
  for (int i = 0; i < n; ++i) keys.push_back(platform::format("RT_-_smsc_-_/GW-%08X.req", i));
  return keys;
}

void BM_RoutingLookup(benchmark::State& state) {
  queue::RoutingDatabase db;
  db.create();
  const auto keys = routingKeys(100000);
  for (const auto& k : keys) db.add(k, "SMPP - smsc1\tSMPP - smsc2\tModem - COM3");
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(db.lookup(keys[i]));
    if (++i == keys.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoutingLookup);

void BM_RoutingAdd(benchmark::State& state) {
  const auto keys = routingKeys(200000);
  queue::RoutingDatabase db;
  db.create();
  size_t i = 0;
  for (auto _ : state) {
    if (i == keys.size()) {
      state.PauseTiming();
      db.create();
      i = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(db.add(keys[i++], "*=smsc1"));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoutingAdd);

}  // namespace

BENCHMARK_MAIN();
