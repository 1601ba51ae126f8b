// Drives the connection state machine of the web server with any bytes and
// any order of events: the bytes arrive in reads of fuzzer-chosen sizes
// (pipelined requests, chunked bodies, partial reads), time moves by
// fuzzer-chosen steps (idle, head and body deadlines), heads that wait for
// a verdict get any of the three, and requests are finished at any point.
// Every request that comes out runs through the header and parameter
// readers.
//
// Checks: no crash; nothing buffered beyond the request limit plus one
// byte; no request longer than the limit; no bytes taken when the machine
// wants none; every phase that reads has a deadline; the memory budget is
// back to zero when the machine goes; and framing that the scanner
// accepted always de-chunks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/server/connection_machine.h"
#include "http/server/params.h"
#include "protocols/http/message.h"

namespace {

using vek::http::ConnectionMachine;
using Step = ConnectionMachine::Step;
using Phase = ConnectionMachine::Phase;

void readParameters(std::string_view msg) {
  (void)vek::http::requestParameter(msg, "Text", 64);
  (void)vek::http::requestParameter(msg, "PhoneNumber");
  (void)vek::http::requestParameterAt(msg, "a", 2, 16);
  (void)vek::http::bodyParameter(msg, "Data", 32);
  (void)vek::http::bodyParameterAt(msg, "x", 3);
  (void)vek::http::parameterNameAt(msg, "SMPPOption_", 2);
  (void)vek::httpwire::hostHeader(msg);
  (void)vek::httpwire::userAgent(msg);
  (void)vek::httpwire::acceptHeader(msg, 50);
  (void)vek::httpwire::basicCredentials(msg);
  (void)vek::httpwire::responseStatusCode(msg);
  (void)vek::httpwire::contentLength(msg);
  (void)vek::httpwire::tolerantBodyOffset(msg);
}

void check(bool ok) {
  if (!ok) std::abort();
}

struct Run {
  vek::http::MachineLimits limits;
  vek::http::MemoryBudget budget;
  std::string_view wire;
  vek::platform::SteadyTime now = vek::platform::SteadyTime{} + std::chrono::hours(1);
  bool held = false;  // a request is with the "owner"

  // Acts on the machine's steps until it waits for bytes or for us.
  // False when the connection ended.
  bool settle(ConnectionMachine& m) {
    for (int guard = 0; guard < 64; ++guard) {
      switch (m.step(now)) {
        case Step::kStarted:
        case Step::kSendContinue:
          continue;
        case Step::kRequestReady: {
          if (held) return true;
          vek::http::Request r = m.takeRequest();
          check(r.message.size() <= limits.message.max_message);
          check(r.body_offset <= r.message.size());
          (void)r.method();
          (void)r.path();
          (void)r.header("Connection:");
          readParameters(r.message);
          held = true;
          return true;
        }
        case Step::kRefused:
          check(m.readLimit() == 0);
          return false;
        case Step::kWaiting:
        case Step::kCheckHead:
        case Step::kWantBytes:
          return m.phase() != Phase::kClosed;
      }
    }
    return true;
  }

  void deliver(ConnectionMachine& m, size_t n) {
    n = std::min({n, wire.size(), m.readLimit()});
    if (n == 0) return;
    m.received(wire.substr(0, n), now);
    wire.remove_prefix(n);
    check(m.buffered() <= limits.message.max_message + 1);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  Run run;
  run.limits.message.max_message = 64 + static_cast<size_t>(data[0]) * 64;  // up to ~16 KB
  run.limits.message.max_header = std::min<size_t>(run.limits.message.max_message, 2048);
  run.limits.unauthenticated_body = static_cast<size_t>(data[1]) * 16;
  run.limits.min_body_rate = data[2] % 4 == 0 ? 0 : data[2];
  run.limits.head_timeout = std::chrono::seconds(20);
  run.budget.setLimit(4096 + static_cast<size_t>(data[2]) * 256);
  const size_t n_ops = std::min<size_t>(data[3], size - 4);
  std::string_view ops(reinterpret_cast<const char*>(data + 4), n_ops);
  run.wire = std::string_view(reinterpret_cast<const char*>(data + 4 + n_ops), size - 4 - n_ops);

  {
    ConnectionMachine m(run.limits, &run.budget, run.now);
    bool open = run.settle(m);
    for (size_t i = 0; open && i < ops.size() + 256; ++i) {
      uint8_t op = i < ops.size() ? static_cast<uint8_t>(ops[i]) : 0xF8;  // then: big reads
      uint8_t arg = op >> 3;
      switch (op & 7) {
        case 0:
        case 4:
          run.deliver(m, (op & 7) == 4 ? run.wire.size() : 1 + arg * 3u);
          break;
        case 1:
          run.now += std::chrono::milliseconds(arg * 997);
          if (m.deadline() <= run.now) open = false;  // the owner closes it
          break;
        case 2:
          m.headVerdict(static_cast<vek::http::Verdict>(arg % 3), run.now);
          break;
        case 3:
          if (run.held) {
            m.requestDone(run.now);
            run.held = false;
          }
          break;
        default:
          (void)m.step(run.now);
          break;
      }
      if (!open) break;
      open = run.settle(m);
      const Phase p = m.phase();
      if (p == Phase::kIdle || p == Phase::kHead || p == Phase::kBody)
        check(m.deadline() != vek::platform::SteadyTime::max());
      else
        check(m.readLimit() == 0);
      if (i >= ops.size() && run.wire.empty()) break;
    }
  }
  check(run.budget.used() == 0);

  // The same bytes as one message: framing and de-chunking agree.
  std::string text(reinterpret_cast<const char*>(data + 4 + n_ops), size - 4 - n_ops);
  vek::httpwire::MessageScanner scanner(run.limits.message);
  vek::httpwire::MessageCheck c = scanner.scan(text);
  if (c.state == vek::httpwire::MessageState::kComplete && scanner.chunked()) {
    std::string msg = text.substr(0, c.length);
    if (!vek::httpwire::removeChunking(&msg, scanner.bodyOffset())) std::abort();
  }
  readParameters(text);
  return 0;
}
