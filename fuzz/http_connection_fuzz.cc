// Drives the web server's event loop as clients would, on connections made
// of socket pairs and a fake clock: up to four clients from three addresses
// open, write pieces of requests (fragments that reach the interesting
// states quickly, or raw bytes), half-close, read, close, and let time pass
// (idle, head and body deadlines, the failed-login delay of parked
// connections). The server has WebAuth on with one account, small limits
// (six connections, four per address, two incomplete requests per address,
// 8 KB requests, 512-byte unauthenticated bodies, a 1 MB body budget) and
// the real worker threads behind it.
//
// Checks: no crash and no hang (every step ends with the loop idle); every
// answer a client reads starts with a status line; and when the clients
// have gone every connection is closed and the memory budget is back to
// zero (nothing leaks, nothing waits for a peer that left).
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "http/server/event_loop.h"
#include "http/server/listeners.h"
#include "platform/clock.h"
#include "platform/shutdown.h"
#include "platform/socket_pair.h"
#include "queue/unique_id.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kFragments[] = {
    "GET / HTTP/1.1\r\n",
    "POST /?PhoneNumber=1&Text=a HTTP/1.1\r\n",
    "GET /?User=alice&Password=x HTTP/1.1\r\n",
    "Host: a\r\n",
    "\r\n",
    "Authorization: Basic YWxpY2U6cHc=\r\n",  // alice:pw
    "Authorization: Basic YWxpY2U6eA==\r\n",  // alice:x
    "Authorization: Basic Ym9iOnk=\r\n",      // bob:y
    "Content-Length: 600\r\n",
    "Content-Length: 40\r\n",
    "Transfer-Encoding: chunked\r\n",
    "Expect: 100-continue\r\n",
    "Connection: close\r\n",
    "5\r\nhello\r\n0\r\n\r\n",
    "User=alice&Password=pw&PhoneNumber=2&Text=b",
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
};

struct Sandbox {
  fs::path base;
  vek::platform::FakeClock clock;
  unsigned runs = 0;
};

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

Sandbox* setUp() {
  auto* s = new Sandbox;
  std::string tmpl = fs::is_directory("/dev/shm") ? "/dev/shm/veksms-connection-fuzz-XXXXXX"
                                                  : "/tmp/veksms-connection-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl.data())) std::abort();
  s->base = tmpl.c_str();
  const fs::path data = s->base / "data";
  ::setenv("VEKSMS_PROGRAM_DIR", (s->base / "program").c_str(), 1);
  if (!vek::hostlib::setDataDirectory(data.string() + "/").ok()) std::abort();
  write(data / "SMSGW.INI",
        "[SMSGW]\nWebAuth=Yes\nWebMenu=No\nMaxHTTPConnections=6\n"
        "MaxHTTPConnectionsPerAddress=4\nMaxHTTPIncompleteRequestsPerAddress=2\n"
        "MaxHTTPRequestSize=8192\nMaxHTTPUnauthenticatedBody=512\nMaxHTTPBodyMemoryMB=1\n"
        "HTTPMinBodyRate=100\nHTTPWorkerThreads=2\n");
  vek::hostlib::SMSIniSetFilename((data / "SMSGW.INI").string());
  vek::hostlib::MMSCIniSetFilename((data / "MMSC.INI").string());
  vek::queue::resetUniqueMessageIdsForTesting((data / "private" / "UID.DAT").string());
  if (!vek::hostlib::openAccountStore((data / "private" / "USERS.DB").string()).ok()) std::abort();
  vek::hostlib::Account alice;
  alice.name = "alice";
  alice.password = "pw";
  (void)vek::hostlib::accountStore()->add(alice);
  vek::http::ListenerTiming timing;
  timing.reclaim_after = 200ms;
  // Worker threads stay for the whole run: a thread ending while the leak
  // check scans looks like a leak of its thread-local memory.
  timing.pool_idle = std::chrono::hours(24 * 365);
  // Workers read on only what is there already (each wait would be real).
  timing.next_request_wait = 0ms;
  vek::http::setListenerTiming(timing);
  vek::platform::setClock(&s->clock);
  return s;
}

// Waits until the loop has looked at everything done so far and no worker
// holds a request; aborts when it does not come to rest.
void settle() {
  // Bounded in real time: the clock the server reads is the fake one.
  const auto give_up = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < give_up) {
    // The turn under way when `seen` was read may have polled before the
    // last step; the one after it cannot have. Waking the loop for each
    // keeps it from sleeping out its poll slice.
    uint64_t seen = vek::http::serverStats().iterations;
    vek::http::wakeEventLoop();
    bool turned = vek::http::awaitLoopTurn(seen, 10s);
    vek::http::wakeEventLoop();
    if (!turned || !vek::http::awaitLoopTurn(seen + 1, 10s)) {
      if (!vek::http::serverStats().running) return;  // not started yet
      std::fprintf(stderr, "the event loop did not turn\n");
      std::abort();
    }
    if (vek::http::serverStats().at_workers == 0) return;
  }
  std::fprintf(stderr, "a request never came back from its worker\n");
  std::abort();
}

struct Client {
  vek::platform::UniqueFd fd;
  std::string answers;
};

void readAll(Client& c) {
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    c.answers.append(buf, static_cast<size_t>(n));
  }
  // Every answer begins with a status line.
  if (!c.answers.empty() && c.answers.rfind("HTTP/1.", 0) != 0) {
    std::fprintf(stderr, "not a status line: %.40s\n", c.answers.c_str());
    std::abort();
  }
  if (c.answers.size() > 65536) c.answers.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox* sandbox = [] {
    Sandbox* s = setUp();
    static const fs::path base = s->base;
    // The event loop and its workers end before the exit handlers destroy
    // the settings they read.
    std::atexit([] {
      vek::platform::requestShutdown();
      vek::foundation::wakeListeningSockets();
      (void)vek::foundation::waitForWorkers(std::chrono::seconds(10));
      fs::remove_all(base);
    });
    return s;
  }();
  std::array<Client, 4> clients;
  size_t i = 0;
  for (int ops = 0; i + 1 < size && ops < 24; ++ops) {
    const uint8_t op = data[i++];
    const uint8_t arg = data[i++];
    Client& c = clients[op >> 6];
    switch (op & 7) {
      case 0: {  // connect
        if (c.fd.valid()) break;
        auto pair = vek::platform::socketPair();
        if (!pair.ok()) std::abort();
        c.fd = std::move(pair->first);
        c.answers.clear();
        vek::http::adoptConnection(std::move(pair->second), "10.0.0." + std::to_string(1 + arg % 3),
                                   1000 + arg, false);
        break;
      }
      case 1:  // a fragment
      case 2: {
        if (!c.fd.valid()) break;
        std::string_view f = kFragments[arg % std::size(kFragments)];
        (void)::send(c.fd.get(), f.data(), f.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        break;
      }
      case 3: {  // raw bytes from the input
        if (!c.fd.valid()) break;
        size_t n = std::min<size_t>(arg % 64, size - i);
        (void)::send(c.fd.get(), data + i, n, MSG_DONTWAIT | MSG_NOSIGNAL);
        i += n;
        break;
      }
      case 4:  // time passes
        sandbox->clock.advance(std::chrono::milliseconds(arg) * 250);
        break;
      case 5:
        if (c.fd.valid()) readAll(c);
        break;
      case 6:
        if (c.fd.valid()) ::shutdown(c.fd.get(), SHUT_WR);
        break;
      case 7:
        c.fd.reset();
        break;
    }
    settle();
  }
  for (Client& c : clients) {
    if (c.fd.valid()) readAll(c);
    c.fd.reset();
  }
  // Clients gone: every connection ends, whatever state it was in.
  for (int round = 0; round < 200; ++round) {
    settle();
    vek::http::ServerStats st = vek::http::serverStats();
    if (st.connections == 0 && st.budget_used == 0) break;
    if (round == 199) {
      std::fprintf(stderr, "%zu connections and %zu budget bytes left after the clients went\n",
                   st.connections, st.budget_used);
      std::abort();
    }
  }
  if (++sandbox->runs % 256 == 0) {
    for (const char* dir : {"Q", "SMS-IN", "BULKQ", "USERS"})
      fs::remove_all(sandbox->base / "data" / dir);
  }
  return 0;
}
