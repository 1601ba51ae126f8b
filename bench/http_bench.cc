// HTTP server benchmarks. The server runs inside this process (the plain
// listener thread on a free loopback port, fresh data directory, empty
// configuration apart from the port and MaxHTTPConnections=2000).
//   BM_ScanRequest          -- decide completeness of a 300-byte GET with headers
//   BM_ReadPipelined        -- read 100 pipelined GETs from memory, per request
//   BM_RequestParameters    -- three first-occurrence lookups in a form POST
//   BM_KeepAliveGet         -- small GET answered by the error page, one
//                              keep-alive connection per benchmark thread (1, 16)
//   BM_IdleConnectionMemory -- resident memory per open idle keep-alive
//                              connection (400 connections, one request each)
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
#include <thread>
#include <vector>

#include "foundation/service_state.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "http/server/listeners.h"
#include "http/server/params.h"
#include "http/server/request_reader.h"
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

class Server {
 public:
  explicit Server(uint16_t port = 0, int max_connections = 2000) {
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
        << "[SMSGW]\nWebPort=" << port_ << "\nMaxHTTPConnections=" << max_connections << "\n";
    hostlib::smsIni().invalidate();
    foundation::startWorkerThread("ThreadListenForConnections",
                                  [] { http::ThreadListenForConnections(0); });
    for (int i = 0; i < 500 && foundation::listeningSocket(foundation::Listener::kWeb) < 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

class Pipeline final : public http::ByteChannel {
 public:
  explicit Pipeline(std::string data) : data_(std::move(data)) {}
  IoStatus readSome(void* buf, size_t len, int, size_t* got) override {
    if (pos_ >= data_.size()) return IoStatus::kClosed;
    *got = std::min(len, data_.size() - pos_);
    std::memcpy(buf, data_.data() + pos_, *got);
    pos_ += *got;
    return IoStatus::kOk;
  }
  IoStatus writeAll(std::string_view, int) override { return IoStatus::kOk; }

 private:
  std::string data_;
  size_t pos_ = 0;
};

void BM_ReadPipelined(benchmark::State& state) {
  std::string all;
  for (int i = 0; i < 100; ++i) all += kGet;
  for (auto _ : state) {
    Pipeline p(all);
    http::RequestReader reader;
    http::Request r;
    while (reader.read(p, &r) == http::ReadStatus::kOk) benchmark::DoNotOptimize(r.message.data());
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

void BM_KeepAliveGet(benchmark::State& state) {
  Server* server = sharedServer();
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
}
BENCHMARK(BM_KeepAliveGet)->Threads(1)->Threads(16)->UseRealTime();

void BM_IdleConnectionMemory(benchmark::State& state) {
  Server* server = sharedServer();
  const int n = 400;
  for (auto _ : state) {
    std::vector<platform::UniqueFd> open;
    std::string pending;
    // Warm up: threads and buffers of one connection, then measure the rest.
    long before = residentBytes();
    for (int i = 0; i < n; ++i) {
      auto fd = platform::connectTcp("127.0.0.1", server->port(), 5000);
      if (!fd.ok()) break;
      (void)platform::sendAll(fd->get(), kGet, 5000);
      pending.clear();
      readResponse(fd->get(), pending);
      open.push_back(std::move(fd.value()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    long after = residentBytes();
    state.counters["connections"] = static_cast<double>(open.size());
    state.counters["bytes_per_connection"] =
        static_cast<double>(after - before) / static_cast<double>(open.size());
    state.counters["threads"] = foundation::runningWorkerCount();
  }
}
BENCHMARK(BM_IdleConnectionMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--serve") == 0) {
    Server server(static_cast<uint16_t>(std::atoi(argv[2])), argc >= 5 ? std::atoi(argv[4]) : 2000);
    std::printf("serving on 127.0.0.1:%u for %s s\n", server.port(), argv[3]);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[3])));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
