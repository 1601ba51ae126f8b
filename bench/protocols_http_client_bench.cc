// Benchmarks of the outbound HTTP client against a small HTTP/1.1 server
// (one thread per connection, a fixed 13-byte answer) that this program
// runs as a child process ("--serve-http"), so that the client here and
// wrk meet the same server from outside its process. Figures printed,
// never asserted.
//
//   BM_KeptAliveRequests     -- RetrieveURL over one kept-alive connection (requests/s)
//   BM_NewConnectionRequests -- RetrieveURL with a new connection per request
//   BM_TlsKeptAliveRequests  -- the same over TLS, one connection
//   BM_TlsNewConnection      -- a TLS handshake per request
//   BM_RawRoundTrip          -- the same request and answer over one socket without the client:
//                               the floor the kept-alive client is measured against
//   BM_WrkSameServer         -- `wrk -c1 -t1 -d3s` against the same plain server, for
//                               comparison with BM_KeptAliveRequests (skipped without wrk)
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "protocols/http/client.h"
#include "tls/stream.h"
#include "tls/tls.h"

using namespace vek;

namespace {

constexpr std::string_view kAnswer =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 13\r\n\r\nHello, world\n";

// Answers every request head on a connection with kAnswer until the
// client closes. With a certificate directory, connections are TLS.
class BenchServer {
 public:
  explicit BenchServer(std::string tls_dir = "") : tls_dir_(std::move(tls_dir)) {
    ::signal(SIGPIPE, SIG_IGN);
    auto l = platform::listenTcp("127.0.0.1", 0, 512);
    if (!l.ok()) return;
    listener_ = std::move(l.value());
    port_ = platform::localPort(listener_.get());
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~BenchServer() {
    stop_ = true;
    acceptor_.join();
  }
  uint16_t port() const { return port_; }
  std::string url() const {
    return (tls_dir_.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(port_) +
           "/";
  }

 private:
  void acceptLoop() {
    while (!stop_) {
      auto c = platform::acceptConnection(listener_.get(), 50);
      if (!c.ok()) continue;
      // Connection threads end with their connection; the process ends
      // without waiting for them.
      std::thread([this, fd = std::move(c.value())]() mutable { serve(std::move(fd)); }).detach();
    }
  }
  void serve(platform::UniqueFd fd) {
    int raw = fd.get();
    platform::setNoDelay(raw);
    tls::Stream s;
    if (tls_dir_.empty()) {
      s = tls::Stream(std::move(fd));
    } else {
      std::string err;
      tls::TlsSession* session = tls::sslAcceptSession(raw, 5000, &err);
      if (session) s = tls::Stream(std::move(fd), tls::SessionPtr(session));
    }
    std::string buf;
    char tmp[8192];
    while (s.valid() && !stop_) {
      size_t got = 0;
      auto st = s.readSome(tmp, sizeof tmp, 100, &got);
      if (st == platform::IoStatus::kTimeout) continue;
      if (st != platform::IoStatus::kOk) break;
      buf.append(tmp, got);
      std::string out;
      for (size_t end; (end = buf.find("\r\n\r\n")) != std::string::npos;) {
        buf.erase(0, end + 4);
        out += kAnswer;
      }
      if (!out.empty() && s.writeAll(out, 5000) != platform::IoStatus::kOk) break;
    }
  }

  std::string tls_dir_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
};

// The server in a child process: this program with "--serve-http
// [tls_dir]" prints "PORT <n>" and serves until its standard input closes.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& tls_dir = "") {
    platform::ProcessOptions o;
    o.argv = {"/proc/self/exe", "--serve-http", tls_dir};
    auto child = platform::ChildProcess::spawn(o);
    if (!child.ok()) return;
    child_ = std::move(child.value());
    std::string out;
    for (int i = 0; i < 100 && out.find('\n') == std::string::npos; ++i) {
      if (platform::waitReadable(child_.stdoutFd(), 100) <= 0) continue;
      char buf[64];
      ssize_t n = ::read(child_.stdoutFd(), buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    if (out.starts_with("PORT ")) port_ = static_cast<uint16_t>(std::stoi(out.substr(5)));
    url_ = (tls_dir.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(port_) +
           "/";
  }
  ~ServerProcess() {
    child_.closeStdin();
    if (!child_.wait(std::chrono::seconds(5))) child_.kill();
  }
  bool ok() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  const std::string& url() const { return url_; }

 private:
  platform::ChildProcess child_;
  uint16_t port_ = 0;
  std::string url_;
};

int serveHttp(const std::string& tls_dir) {
  if (!tls_dir.empty()) {
    tls::sslInitLib();
    tls::sslSetCertificateDirectory(tls_dir);
  }
  BenchServer server(tls_dir);
  std::printf("PORT %u\n", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  char c;
  while (::read(0, &c, 1) > 0) {
  }
  ::_exit(0);  // connection threads may still run: no destructors
}

// A self-signed certificate in a fresh directory, "" when openssl fails.
std::string certificateDir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/veksms-bench-tls-XXXXXX";
    if (!::mkdtemp(tmpl)) return std::string();
    std::string d = std::string(tmpl) + "/";
    platform::ProcessOptions o;
    o.argv = {"openssl",  "req",
              "-x509",    "-newkey",
              "rsa:2048", "-nodes",
              "-days",    "1",
              "-subj",    "/CN=127.0.0.1",
              "-addext",  "subjectAltName=IP:127.0.0.1",
              "-keyout",  d + "SSLKEY.PEM",
              "-out",     d + "SSLCERT.PEM"};
    return platform::runProcess(o).exitedWith(0) ? d : std::string();
  }();
  return dir;
}

httpwire::RetrieveOptions options(const std::string& ca_file = "") {
  httpwire::RetrieveOptions o;
  o.timeout = std::chrono::seconds(10);
  o.max_response = 1 << 20;
  o.trust = httpwire::TlsTrust{};
  o.trust->ca_file = ca_file;
  return o;
}

void run(benchmark::State& state, const std::string& url, const httpwire::RetrieveOptions& o,
         bool keep_alive) {
  httpwire::KeepAliveSlot slot;
  for (auto _ : state) {
    httpwire::RetrieveResult r = httpwire::RetrieveURL(url, o, keep_alive ? &slot : nullptr);
    if (!r.ok) {
      state.SkipWithError(r.error.c_str());
      break;
    }
    benchmark::DoNotOptimize(r.response.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_KeptAliveRequests(benchmark::State& state) {
  ServerProcess server;
  if (!server.ok()) return state.SkipWithError("server did not start");
  run(state, server.url(), options(), true);
}
BENCHMARK(BM_KeptAliveRequests)->MinTime(3.0)->UseRealTime();

void BM_NewConnectionRequests(benchmark::State& state) {
  ServerProcess server;
  if (!server.ok()) return state.SkipWithError("server did not start");
  run(state, server.url(), options(), false);
}
BENCHMARK(BM_NewConnectionRequests)->MinTime(3.0)->UseRealTime();

void BM_TlsKeptAliveRequests(benchmark::State& state) {
  std::string dir = certificateDir();
  if (dir.empty() || !tls::sslInitLib()) return state.SkipWithError("no TLS certificate");
  ServerProcess server(dir);
  if (!server.ok()) return state.SkipWithError("server did not start");
  run(state, server.url(), options(dir + "SSLCERT.PEM"), true);
}
BENCHMARK(BM_TlsKeptAliveRequests)->MinTime(3.0)->UseRealTime();

void BM_TlsNewConnection(benchmark::State& state) {
  std::string dir = certificateDir();
  if (dir.empty() || !tls::sslInitLib()) return state.SkipWithError("no TLS certificate");
  ServerProcess server(dir);
  if (!server.ok()) return state.SkipWithError("server did not start");
  run(state, server.url(), options(dir + "SSLCERT.PEM"), false);
}
BENCHMARK(BM_TlsNewConnection)->MinTime(3.0)->UseRealTime();

void BM_RawRoundTrip(benchmark::State& state) {
  ServerProcess server;
  if (!server.ok()) return state.SkipWithError("server did not start");
  auto fd = platform::connectTcp("127.0.0.1", server.port(), 5000);
  if (!fd.ok()) return state.SkipWithError("connect failed");
  platform::setNoDelay(fd->get());
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n";
  char buf[4096];
  for (auto _ : state) {
    if (platform::sendAll(fd->get(), request, 5000) != platform::IoStatus::kOk)
      return state.SkipWithError("send failed");
    size_t have = 0;
    while (have < kAnswer.size()) {
      size_t got = 0;
      if (platform::recvSome(fd->get(), buf, sizeof buf, 5000, &got) != platform::IoStatus::kOk)
        return state.SkipWithError("receive failed");
      have += got;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawRoundTrip)->MinTime(3.0)->UseRealTime();

void BM_WrkSameServer(benchmark::State& state) {
  auto wrk = platform::findProgram("wrk");
  if (!wrk) return state.SkipWithError("wrk not installed");
  ServerProcess server;
  if (!server.ok()) return state.SkipWithError("server did not start");
  double rps = 0;
  for (auto _ : state) {
    platform::ProcessOptions o;
    o.argv = {*wrk, "-c1", "-t1", "-d3s", server.url()};
    o.time_limit = std::chrono::seconds(30);
    auto r = platform::runProcess(o);
    std::smatch m;
    if (!r.exitedWith(0) ||
        !std::regex_search(r.output, m, std::regex(R"(Requests/sec:\s+([0-9.]+))")))
      return state.SkipWithError(("wrk failed: " + r.output).c_str());
    rps = std::stod(m[1]);
  }
  state.counters["wrk_requests_per_s"] = rps;
}
BENCHMARK(BM_WrkSameServer)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--serve-http")
    return serveHttp(argc >= 3 ? argv[2] : "");
  ::signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
