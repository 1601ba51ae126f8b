// HTTP server benchmarks. The server runs inside this process (the plain
// listener thread on a free loopback port, fresh data directory, empty
// configuration apart from the port, MaxHTTPConnections=12000 and the
// per-address limits lifted for 127.0.0.1).
//   BM_ScanRequest          -- decide completeness of a 300-byte GET with headers
//   BM_ReadPipelined        -- the connection state machine takes 100 pipelined
//                              GETs from memory, per request
//   BM_RequestParameters    -- three first-occurrence lookups in a form POST
//   BM_KeepAliveGet/S       -- small GET answered by the error page, one
//                              keep-alive connection per benchmark thread (1, 16),
//                              with S slow connections open meanwhile (0, 2000:
//                              each has sent part of a request head)
//   BM_IdleConnectionMemory/N -- resident memory per open idle keep-alive
//                              connection (N connections, one request each)
//
// For wrk: `http_bench --serve PORT SECONDS [MaxHTTPConnections]` runs the
// same server on PORT for SECONDS and exits, e.g.
//   http_bench --serve 18080 30 & wrk -t2 -c16 -d10s http://127.0.0.1:18080/x
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/service_state.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "http/server/connection_machine.h"
#include "http/server/event_loop.h"
#include "http/server/listeners.h"
#include "http/server/params.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "protocols/http/message.h"

namespace {

using namespace vek;
using platform::IoStatus;

const char kGet[] =
    "GET /x HTTP/1.1\r\nHost: 127.0.0.1:8800\r\nUser-Agent: bench/1.0\r\nAccept: */*\r\n"
    "Accept-Encoding: gzip, deflate\r\nAccept-Language: en-GB,en;q=0.9\r\nCache-Control: "
    "no-cache\r\n"
    "Cookie: session=0123456789abcdef0123456789abcdef\r\nX-Request-Id: "
    "4f0c2e1a-7d3b-4a59-9c1e-2b8d6f5a3c7e\r\n\r\n";

// Polls `pred` every few milliseconds, for at most 10 s.
template <class Pred>
bool waitUntilTrue(Pred pred) {
  for (int i = 0; i < 2000; ++i) {
    if (pred()) return true;
    platform::sleepFor(std::chrono::milliseconds(5));
  }
  return pred();
}

class Server {
 public:
  explicit Server(uint16_t port = 0, int max_connections = 12000) {
    char tmpl[] = "/tmp/veksms-http-bench-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    dir_ += "/";
    (void)hostlib::setDataDirectory(dir_);
    hostlib::SMSIniSetFilename(dir_ + "SMSGW.INI");
    if (port == 0) {
      auto probe = platform::listenTcp("127.0.0.1", 0);
      port = platform::localPort(probe->get());
    }
    port_ = port;
    std::ofstream(dir_ + "SMSGW.INI")
        << "[SMSGW]\nWebPort=" << port_ << "\nMaxHTTPConnections=" << max_connections
        << "\nHTTPAddressLimitsExempt=127.0.0.1\n";
    hostlib::smsIni().invalidate();
    foundation::startWorkerThread("ThreadListenForConnections",
                                  [] { http::ThreadListenForConnections(0); });
    waitUntilTrue([] { return foundation::listeningSocket(foundation::Listener::kWeb) >= 0; });
  }
  ~Server() {
    platform::requestShutdown();
    foundation::wakeListeningSockets();
    foundation::waitForWorkers(std::chrono::seconds(30));
    platform::resetShutdownForTesting();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  uint16_t port() const { return port_; }

 private:
  std::string dir_;
  uint16_t port_ = 0;
};

// Reads one response (by its Content-Length).
bool readResponse(int fd, std::string& pending) {
  char buf[16384];
  for (;;) {
    auto c = httpwire::checkMessage(pending);
    if (c.state == httpwire::MessageState::kComplete) {
      pending.erase(0, c.length);
      return true;
    }
    size_t got = 0;
    if (platform::recvSome(fd, buf, sizeof buf, 5000, &got) != IoStatus::kOk) return false;
    pending.append(buf, got);
  }
}

long residentBytes() {
  std::ifstream in("/proc/self/statm");
  long size = 0, resident = 0;
  in >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

Server* sharedServer() {
  static Server* s = new Server();
  return s;
}

void BM_ScanRequest(benchmark::State& state) {
  for (auto _ : state) {
    httpwire::MessageScanner s;
    benchmark::DoNotOptimize(s.scan(kGet));
  }
}
BENCHMARK(BM_ScanRequest);

void BM_ReadPipelined(benchmark::State& state) {
  std::string all;
  for (int i = 0; i < 100; ++i) all += kGet;
  http::MachineLimits limits;
  http::MemoryBudget budget;
  const auto now = platform::monotonicNow();
  for (auto _ : state) {
    http::ConnectionMachine m(limits, &budget, now);
    std::string_view rest = all;
    for (;;) {
      auto step = m.step(now);
      if (step == http::ConnectionMachine::Step::kRequestReady) {
        http::Request r = m.takeRequest();
        benchmark::DoNotOptimize(r.message.data());
        m.requestDone(now);
      } else if (step == http::ConnectionMachine::Step::kWantBytes) {
        if (rest.empty()) break;
        size_t n = std::min(rest.size(), std::min<size_t>(m.readLimit(), 65536));
        m.received(rest.substr(0, n), now);
        rest.remove_prefix(n);
      } else if (step != http::ConnectionMachine::Step::kStarted) {
        break;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ReadPipelined);

void BM_RequestParameters(benchmark::State& state) {
  std::string post =
      "POST /send HTTP/1.1\r\nHost: gw\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"
      "User=alice&Password=secret&PhoneNumber=%2B4912345678%2C%2B4998765432&Sender=Shop&"
      "Text=Your+order+12345+has+been+dispatched+and+will+arrive+tomorrow.";
  for (auto _ : state) {
    benchmark::DoNotOptimize(http::requestParameter(post, "PhoneNumber"));
    benchmark::DoNotOptimize(http::requestParameter(post, "Text"));
    benchmark::DoNotOptimize(http::requestParameter(post, "Missing"));
  }
}
BENCHMARK(BM_RequestParameters);

// Connections that each sent part of a request head and then nothing,
// held by benchmark thread 0 for one run.
std::vector<platform::UniqueFd> openSlowConnections(uint16_t port, int n) {
  std::vector<platform::UniqueFd> out;
  for (int i = 0; i < n; ++i) {
    auto fd = platform::connectTcp("127.0.0.1", port, 5000);
    if (!fd.ok()) break;
    (void)platform::sendAll(fd->get(), "GET /slow HTTP/1.1\r\nX-A: ", 5000);
    out.push_back(std::move(fd.value()));
  }
  waitUntilTrue([&] { return http::serverStats().incomplete >= out.size(); });
  return out;
}

void BM_KeepAliveGet(benchmark::State& state) {
  Server* server = sharedServer();
  std::vector<platform::UniqueFd> slow;
  if (state.thread_index() == 0)
    slow = openSlowConnections(server->port(), static_cast<int>(state.range(0)));
  auto fd = platform::connectTcp("127.0.0.1", server->port(), 5000);
  if (!fd.ok()) {
    state.SkipWithError("connect failed");
    return;
  }
  platform::setNoDelay(fd->get());
  std::string pending;
  for (auto _ : state) {
    if (platform::sendAll(fd->get(), kGet, 5000) != IoStatus::kOk ||
        !readResponse(fd->get(), pending)) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) state.counters["slow_open"] = static_cast<double>(slow.size());
}
BENCHMARK(BM_KeepAliveGet)
    ->Arg(0)
    ->Arg(2000)
    ->Threads(1)
    ->Threads(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_IdleConnectionMemory(benchmark::State& state) {
  Server* server = sharedServer();
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<platform::UniqueFd> open;
    std::string pending;
    const size_t before_connections = http::serverStats().connections;
    long before = residentBytes();
    for (int i = 0; i < n; ++i) {
      auto fd = platform::connectTcp("127.0.0.1", server->port(), 5000);
      if (!fd.ok()) break;
      (void)platform::sendAll(fd->get(), kGet, 5000);
      pending.clear();
      readResponse(fd->get(), pending);
      open.push_back(std::move(fd.value()));
    }
    waitUntilTrue([&] { return http::serverStats().connections >= before_connections + open.size(); });
    long after = residentBytes();
    state.counters["connections"] = static_cast<double>(open.size());
    state.counters["bytes_per_connection"] =
        static_cast<double>(after - before) / static_cast<double>(open.size());
    state.counters["threads"] = foundation::runningWorkerCount();
  }
}
BENCHMARK(BM_IdleConnectionMemory)
    ->Arg(400)
    ->Arg(4000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--serve") == 0) {
    Server server(static_cast<uint16_t>(std::atoi(argv[2])),
                  argc >= 5 ? std::atoi(argv[4]) : 12000);
    std::printf("serving on 127.0.0.1:%u for %s s\n", server.port(), argv[3]);
    std::fflush(stdout);
    platform::sleepFor(std::chrono::seconds(std::atoi(argv[3])));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
