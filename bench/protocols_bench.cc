// Benchmarks of the protocol engines (figures printed, never asserted).
//
//   BM_EncodeSubmitSm      -- encode one submit_sm with a 160-character text
//   BM_DecodeSubmitSm      -- decode the same PDU into a reused record
//   BM_BuildSubmitSm       -- gateway fields to submit_sm (GSM conversion, TON/NPI, options) and
//   encode BM_ClientSubmitWindow/1, /100
//                          -- SMPPSubmitMessage(Async) against smsc-sim.js on loopback, window 1
//                          and 100
//   BM_NodeClientWindow/1, /100
//                          -- the node ESME client (smpp-client.js) against the same simulator, for
//                          comparison
//
// The simulator cases need the oracles folder: $VEKSMS_ORACLES (skipped without it).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/byte_io.h"
#include "platform/process.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/message.h"
#include "protocols/smpp/pdu.h"
#include "protocols/smpp/tlv.h"

using namespace vek;
using namespace vek::smpp;

namespace {

const std::string kText160 =
    "The quick brown fox jumps over the lazy dog while the gateway keeps every message safe, "
    "counts it, logs it and hands it to the right link at the right time.....";

Pdu sampleSubmit() {
  Pdu p;
  p.command_id = cmd::kSubmitSm;
  p.sequence = 12345;
  p.source = {1, 1, "46701234567"};
  p.destination = {1, 1, "46709876543"};
  p.registered_delivery = 1;
  p.validity_period = "000001000000000R";
  p.short_message = kText160.substr(0, 160);
  return p;
}

void BM_EncodeSubmitSm(benchmark::State& state) {
  Pdu p = sampleSubmit();
  platform::ByteWriter w;
  for (auto _ : state) {
    w.clear();
    encodePdu(p, &w);
    benchmark::DoNotOptimize(w.data().data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeSubmitSm);

void BM_DecodeSubmitSm(benchmark::State& state) {
  platform::ByteWriter w;
  encodePdu(sampleSubmit(), &w);
  std::vector<uint8_t> bytes = w.take();
  Pdu p;
  for (auto _ : state) {
    if (decodePdu(bytes, &p) != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(p.short_message.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeSubmitSm);

void BM_BuildSubmitSm(benchmark::State& state) {
  OutboundMessage m{"+46701234567",
                    "+46709876543",
                    0,
                    0,
                    "",
                    kText160.substr(0, 160),
                    2,
                    false,
                    "ServiceType=; Validity=1h; LocalUser=bench"};
  OptionTable declared;
  Pdu p;
  platform::ByteWriter w;
  for (auto _ : state) {
    buildMessagePdu(cmd::kSubmitSm, m, 0x34, declared, &p);
    w.clear();
    encodePdu(p, &w);
    benchmark::DoNotOptimize(w.data().data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildSubmitSm);

std::string oracles() {
  const char* env = std::getenv("VEKSMS_ORACLES");
  std::string dir = env ? env : "";
  return !dir.empty() && std::filesystem::exists(dir + "/node/smsc-sim.js") ? dir : std::string();
}

// One simulator for all loopback cases, killed at exit.
struct Simulator {
  uint16_t port = 0;
  platform::ChildProcess child;
  Simulator() {
    if (oracles().empty()) return;
    {
      auto fd = platform::listenTcp("127.0.0.1", 0);
      if (!fd) return;
      port = platform::localPort(fd->get());
    }
    platform::ProcessOptions o;
    o.argv = {"node",          oracles() + "/node/smsc-sim.js",
              "--port",        std::to_string(port),
              "--max-seconds", "600"};
    o.output_path = "/dev/null";
    auto c = platform::ChildProcess::spawn(o);
    if (!c) {
      port = 0;
      return;
    }
    child = std::move(*c);
    // Node needs a moment to start listening.
    for (int i = 0; i < 100; ++i) {
      if (platform::connectTcp("127.0.0.1", port, 100).ok()) return;
      if (!platform::sleepFor(std::chrono::milliseconds(50))) break;
    }
    port = 0;
  }
  ~Simulator() { child.kill(); }
};

Simulator& simulator() {
  static Simulator sim;
  return sim;
}

void BM_ClientSubmitWindow(benchmark::State& state) {
  Simulator& sim = simulator();
  if (sim.port == 0) {
    state.SkipWithError("smsc-sim.js not available (set VEKSMS_ORACLES)");
    return;
  }
  const size_t window = static_cast<size_t>(state.range(0));
  Connection conn;
  if (SMPPConnect(conn, tls::Stream(), "bench", "127.0.0.1", sim.port) != 0 ||
      SMPPBind(conn, 0x34, kBindTypeTransmitter, "bench", "bench", "") != 0) {
    state.SkipWithError("bind failed");
    return;
  }
  bool error = false;
  size_t failed = 0;
  std::string id;
  for (auto _ : state) {
    if (window <= 1) {
      failed += SMPPSubmitMessage(conn, 0x34, "+46701234567", "+46709876543", 0, 0, "", kText160, 0,
                                  false, &id, "", "") != 0;
      continue;
    }
    while (conn.outstanding() >= window && !error)
      SMPPYield(conn, 0x34, std::chrono::milliseconds(1), &error);
    auto ctx = std::make_shared<AsyncSubmit>();
    failed += SMPPSubmitMessageAsync(conn, 0x34, "+46701234567", "+46709876543", 0, 0, "", kText160,
                                     0, false, "", "", ctx) != 0;
  }
  while (conn.outstanding() > 0 && !error)
    SMPPYield(conn, 0x34, std::chrono::milliseconds(1), &error);
  SMPPUnbind(conn, 0x34);
  if (failed) state.SkipWithError("submits failed");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClientSubmitWindow)->Arg(1)->Arg(100)->Iterations(10000)->UseRealTime();

void BM_NodeClientWindow(benchmark::State& state) {
  Simulator& sim = simulator();
  if (sim.port == 0) {
    state.SkipWithError("smsc-sim.js not available (set VEKSMS_ORACLES)");
    return;
  }
  double rate = 0;
  for (auto _ : state) {
    platform::ProcessOptions o;
    o.argv = {"node",          oracles() + "/node/smpp-client.js",
              "--port",        std::to_string(sim.port),
              "--count",       "10000",
              "--window",      std::to_string(state.range(0)),
              "--bind",        "tx",
              "--max-seconds", "120"};
    auto r = platform::runProcess(o);
    size_t at = r.output.find("\"resp_per_s\":");
    if (!r.exitedWith(0) || at == std::string::npos) {
      state.SkipWithError("node client failed");
      return;
    }
    rate = std::atof(r.output.c_str() + at + 13);
  }
  state.counters["submits_per_s"] = rate;
}
BENCHMARK(BM_NodeClientWindow)
    ->Arg(1)
    ->Arg(100)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
