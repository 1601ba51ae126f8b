// SMPP server benchmarks, in one process on a data directory under
// $VEKSMS_BENCH_DIR (default /tmp), so that both cases meet the same file
// system in the same run:
//   BM_PlainPublish/N -- N threads publish request files of the size a
//                        submit_sm makes (CreateQueueFile) into one queue
//                        directory: the rate the file system allows a front end
//   BM_SmppSubmit/N/D -- N SMPP clients (the engine's client entries, window
//                        100, one thread each) submit to the server over
//                        loopback; the rate of accepted submit_sm, each a
//                        request file in the account's queue; D 1 with
//                        SMPPNoDelay=Yes (0: the default, Nagle on)
// Each iteration writes 4,000 files into the case's own directory. Nothing
// is deleted before the program ends: ext4 creates files slowly for minutes
// after many deletions (it skips recently freed inodes), which would make
// whichever case runs later look slower.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "protocols/smpp/client.h"
#include "queue/queue_tree.h"
#include "queue/unique_id.h"
#include "smpp_server/client_session.h"
#include "smpp_server/listener.h"

namespace {

using namespace vek;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kFilesPerIteration = 4000;
constexpr size_t kWindow = 100;

class BenchData {
 public:
  BenchData() {
    const char* base = ::getenv("VEKSMS_BENCH_DIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/veksms-smppbench-XXXXXX";
    root_ = ::mkdtemp(templ.data()) ? templ + "/" : std::string("/tmp/veksms-smppbench/");
    data_ = root_ + "data/";
    (void)platform::makeDirectories(data_);
    (void)hostlib::setDataDirectory(data_);
    hostlib::SMSIniSetFilename(data_ + "SMSGW.INI");
    hostlib::MMSCIniSetFilename(data_ + "MMSC.INI");
    (void)platform::writeFileAtomic(data_ + "SMSGW.INI", "[SMSGW]\r\n");
    hostlib::smsIni().invalidate();
    (void)hostlib::openAccountStore(data_ + "private/USERS.DB");
    queue::resetUniqueMessageIdsForTesting(data_ + "private/UID.DAT");
    foundation::publishSettings(foundation::Settings{});
    hostlib::Account a;
    a.name = "bench";
    a.password = "bench";
    a.smpp_login = true;
    a.throughput = "0/1/16";  // room for eight clients, no pacing
    (void)hostlib::accountStore()->add(a);
  }
  ~BenchData() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const std::string& data() const { return data_; }
  void configure(const std::string& smsgw) {
    (void)platform::writeFileAtomic(data_ + "SMSGW.INI", "[SMSGW]\r\n" + smsgw);
    hostlib::smsIni().invalidate();
  }
  // A directory of its own for each case.
  std::string freshDirectory(const std::string& name) {
    std::string dir = data_ + name + std::to_string(++made_) + "/";
    (void)platform::makeDirectories(dir);
    return dir;
  }

 private:
  std::string root_, data_;
  int made_ = 0;
};

BenchData& bench() {
  static BenchData d;
  return d;
}

// What a 22-character text from a client becomes.
std::string requestText() {
  return "[SMS]\r\nSubmittedBy=127.0.0.1\r\nSubmitUser=bench\r\nSender=1234\r\n"
         "PhoneNumber=+46700000000\r\nData=Hello from smpp-client\r\npid=00\r\ndcs=00\r\n"
         "Binary=0\r\nReceiptMessageId=6B19791F\r\n";
}

void BM_PlainPublish(benchmark::State& state) {
  BenchData& d = bench();
  const int threads = static_cast<int>(state.range(0));
  const std::string dir = d.freshDirectory("plain") + "bench/";
  (void)platform::makeDirectories(dir);
  const std::string text = requestText();
  for (auto _ : state) {
    std::vector<std::thread> workers;
    std::atomic<int> failed{0};
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        for (int i = 0; i < kFilesPerIteration / threads; ++i)
          if (!queue::CreateQueueFile(dir, "req", text).ok()) ++failed;
      });
    }
    for (auto& w : workers) w.join();
    if (failed) state.SkipWithError("CreateQueueFile failed");
  }
  state.SetItemsProcessed(state.iterations() * kFilesPerIteration);
}
BENCHMARK(BM_PlainPublish)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);

// The server on 127.0.0.1:0 for the life of the benchmark.
class Server {
 public:
  explicit Server(std::string queue_root) {
    hooks_.queue_root = std::move(queue_root);
    smpp_server::installServerCallbacks();
    auto l = platform::listenTcp("127.0.0.1", 0);
    if (l.ok()) listen_ = std::move(*l);
    port_ = platform::localPort(listen_.get());
    acceptor_ = std::thread([this] {
      while (!stop_) {
        std::string address;
        uint16_t port = 0;
        auto fd = platform::acceptConnection(listen_.get(), 50, &address, &port);
        if (fd.ok()) smpp_server::handOffConnection(state_, std::move(*fd), address, port, false);
      }
    });
  }
  ~Server() {
    stop_ = true;
    acceptor_.join();
    platform::requestShutdown();
    foundation::waitForWorkers(10s);
    platform::resetShutdownForTesting();
  }
  uint16_t port() const { return port_; }

 private:
  smpp_server::ServerState state_;
  smpp_server::SessionHooks hooks_;
  platform::UniqueFd listen_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
};

// One client's share: `count` submissions, at most kWindow outstanding.
int submitMany(smpp::Connection& conn, int count) {
  std::vector<std::shared_ptr<smpp::AsyncSubmit>> pending;
  int accepted = 0, sent = 0;
  bool error = false;
  while ((sent < count || !pending.empty()) && !error) {
    while (sent < count && pending.size() < kWindow) {
      auto ctx = std::make_shared<smpp::AsyncSubmit>();
      if (smpp::SMPPSubmitMessageAsync(conn, 0x34, "1234", "+46700000000", 0, 0, "",
                                       "Hello from smpp-client", 0, false, "", "", ctx) != 0)
        return accepted;
      pending.push_back(std::move(ctx));
      ++sent;
    }
    smpp::SMPPYield(conn, 0x34, 100ms, &error);
    std::erase_if(pending, [&](const auto& c) {
      if (!c->answered()) return false;
      if (c->result() == 0) ++accepted;
      return true;
    });
  }
  return accepted;
}

void BM_SmppSubmit(benchmark::State& state) {
  BenchData& d = bench();
  d.configure(state.range(1) ? "SMPPNoDelay=Yes\r\n" : "");
  Server server(d.freshDirectory("smpp"));
  const int clients = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<smpp::Connection>> conns;
  for (int c = 0; c < clients; ++c) {
    conns.push_back(std::make_unique<smpp::Connection>());
    if (smpp::SMPPConnect(*conns.back(), tls::Stream(), "bench", "127.0.0.1", server.port()) != 0 ||
        smpp::SMPPBind(*conns.back(), 0x34, smpp::kBindTypeTransmitter, "bench", "bench", "") !=
            0) {
      state.SkipWithError("bind failed");
      return;
    }
  }
  for (auto _ : state) {
    std::vector<std::thread> workers;
    std::atomic<int> accepted{0};
    for (int c = 0; c < clients; ++c)
      workers.emplace_back(
          [&, c] { accepted += submitMany(*conns[c], kFilesPerIteration / clients); });
    for (auto& w : workers) w.join();
    if (accepted != kFilesPerIteration) state.SkipWithError("not every submission was accepted");
  }
  for (auto& c : conns) smpp::SMPPUnbind(*c, 0x34);
  state.SetItemsProcessed(state.iterations() * kFilesPerIteration);
}
BENCHMARK(BM_SmppSubmit)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({8, 0})
    ->Args({8, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
