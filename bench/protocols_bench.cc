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
//   BM_UcpEncodeSubmit     -- gateway fields to a UCP 51 frame (160 Latin-1 characters, receipt)
//   BM_UcpDecodeDeliver    -- a UCP 52 frame (160 characters) to the gateway's inbound record
//   BM_CimdEncodeSubmit    -- gateway fields to a CIMD2 03 packet (160 GSM characters, receipt)
//   BM_CimdDecodeDeliver   -- a CIMD2 20 packet (160 characters) to the gateway's inbound record
//   BM_UcpClientSubmitWindow/1, /50, BM_CimdClientSubmitWindow/1, /50
//                          -- the engines' submit entries against ucp-smsc-sim.js and
//                          cimd-smsc-sim.js on loopback, synchronous and with a window of 50
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
#include "protocols/cimd/client.h"
#include "protocols/cimd/message.h"
#include "protocols/cimd/packet.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/message.h"
#include "protocols/smpp/pdu.h"
#include "protocols/smpp/tlv.h"
#include "protocols/ucp/client.h"
#include "protocols/ucp/frame.h"
#include "protocols/ucp/message.h"

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

// One simulator per script for all loopback cases, killed at exit.
struct Simulator {
  uint16_t port = 0;
  platform::ChildProcess child;
  explicit Simulator(const std::string& script = "/node/smsc-sim.js") {
    if (oracles().empty()) return;
    {
      auto fd = platform::listenTcp("127.0.0.1", 0);
      if (!fd) return;
      port = platform::localPort(fd->get());
    }
    platform::ProcessOptions o;
    o.argv = {"node", oracles() + script, "--port", std::to_string(port), "--max-seconds", "600"};
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

// ---------------------------------------------------------------------------
// UCP/EMI and CIMD2.

const std::string kLatin160 = kText160.substr(0, 150) + " \xC3\xA9\xC3\xA8\xC3\xBC\xC3\xA5 [x]";

protocols::OutboundMessage sampleMessage() {
  return {"+46701234567",
          "+46709876543",
          0,
          0,
          "",
          kLatin160,
          protocols::flag::kReceiptRequested,
          false,
          "Validity=1h; BillingInfo=B1; OurMsgId=Q1; LocalUser=bench"};
}

void BM_UcpEncodeSubmit(benchmark::State& state) {
  protocols::OutboundMessage m = sampleMessage();
  std::vector<std::string> fields;
  std::string why;
  for (auto _ : state) {
    if (ucp::buildSubmitFields(m, &fields, &why) != 0) state.SkipWithError("refused");
    std::string frame = ucp::buildFrame(17, false, ucp::ot::kSubmit, fields);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UcpEncodeSubmit);

void BM_UcpDecodeDeliver(benchmark::State& state) {
  std::vector<std::string> fields;
  std::string why;
  ucp::buildSubmitFields(sampleMessage(), &fields, &why);
  fields[ucp::kSCTS] = "010126120000";
  std::string frame = ucp::buildFrame(17, false, ucp::ot::kDeliver, fields);
  std::string_view inner = std::string_view(frame).substr(1, frame.size() - 2);
  ucp::Frame f;
  protocols::InboundMessage m;
  for (auto _ : state) {
    if (ucp::parseFrame(inner, &f) != ucp::FrameFault::kNone ||
        !ucp::inboundFromFields(f.ot, f.fields, "bench", &m, &why))
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(m.data.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UcpDecodeDeliver);

void BM_CimdEncodeSubmit(benchmark::State& state) {
  protocols::OutboundMessage m = sampleMessage();
  m.data = kText160.substr(0, 150) + " \xC3\xA9_\xE2\x82\xAC[x]{}";
  cimd::Params params;
  std::string why;
  for (auto _ : state) {
    if (cimd::buildSubmitParams(m, &params, &why) != 0) state.SkipWithError("refused");
    std::string packet = cimd::buildPacket(cimd::op::kSubmit, 17, params);
    benchmark::DoNotOptimize(packet.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CimdEncodeSubmit);

void BM_CimdDecodeDeliver(benchmark::State& state) {
  protocols::OutboundMessage m = sampleMessage();
  m.data = kText160.substr(0, 150) + " \xC3\xA9_\xE2\x82\xAC[x]{}";
  cimd::Params params;
  std::string why;
  cimd::buildSubmitParams(m, &params, &why);
  params.emplace_back(cimd::param::kScts, "260101120000");
  std::string packet = cimd::buildPacket(cimd::op::kDeliverMessage, 2, params);
  std::string_view inner = std::string_view(packet).substr(1, packet.size() - 2);
  cimd::Packet p;
  protocols::InboundMessage in;
  for (auto _ : state) {
    if (cimd::parsePacket(inner, &p) != cimd::PacketFault::kNone ||
        cimd::inboundFromPacket(p, "bench", &in, &why) != 0)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(in.data.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CimdDecodeDeliver);

Simulator& ucpSimulator() {
  static Simulator sim("/ucp/ucp-smsc-sim.js");
  return sim;
}
Simulator& cimdSimulator() {
  static Simulator sim("/cimd/cimd-smsc-sim.js");
  return sim;
}

// Submits with a window of state.range(0) through the given entries.
template <typename Conn, typename Submit, typename SubmitAsync, typename Yield>
void submitWindow(benchmark::State& state, Conn& conn, Submit submit, SubmitAsync submitAsync,
                  Yield yield) {
  const size_t window = static_cast<size_t>(state.range(0));
  bool error = false;
  size_t failed = 0;
  for (auto _ : state) {
    if (window <= 1) {
      failed += submit() != 0;
      continue;
    }
    while (conn.outstanding() >= window && !error) yield(&error);
    auto ctx = std::make_shared<protocols::AsyncSubmit>();
    failed += submitAsync(ctx) != 0;
  }
  while (conn.outstanding() > 0 && !error) yield(&error);
  if (failed || error) state.SkipWithError("submits failed");
  state.SetItemsProcessed(state.iterations());
}

void BM_UcpClientSubmitWindow(benchmark::State& state) {
  Simulator& sim = ucpSimulator();
  if (sim.port == 0) {
    state.SkipWithError("ucp-smsc-sim.js not available (set VEKSMS_ORACLES)");
    return;
  }
  ucp::Connection conn;
  if (ucp::UCPConnect(conn, tls::Stream(), "bench", "127.0.0.1", sim.port) != 0 ||
      ucp::UCPBind(conn, "4670999", "bench") != 0) {
    state.SkipWithError("login failed");
    return;
  }
  std::string id;
  submitWindow(
      state, conn,
      [&] {
        return ucp::UCPSubmitMessage(conn, "4670111", "4670222", 0, 0, "", kText160, 0, false, &id,
                                     "", "");
      },
      [&](std::shared_ptr<protocols::AsyncSubmit> ctx) {
        return ucp::UCPSubmitMessageAsync(conn, "4670111", "4670222", 0, 0, "", kText160, 0, false,
                                          "", "", ctx);
      },
      [&](bool* error) { ucp::UCPYield(conn, std::chrono::milliseconds(1), error); });
}
BENCHMARK(BM_UcpClientSubmitWindow)->Arg(1)->Arg(50)->Iterations(5000)->UseRealTime();

void BM_CimdClientSubmitWindow(benchmark::State& state) {
  Simulator& sim = cimdSimulator();
  if (sim.port == 0) {
    state.SkipWithError("cimd-smsc-sim.js not available (set VEKSMS_ORACLES)");
    return;
  }
  const std::string link = "bench";
  cimd::Connection conn;
  if (cimd::CIMDConnect(link, conn, tls::Stream(), "127.0.0.1", sim.port) != 0 ||
      cimd::CIMDBind(link, conn, "bench", "bench") != 0) {
    state.SkipWithError("login failed");
    return;
  }
  std::string id;
  submitWindow(
      state, conn,
      [&] {
        return cimd::CIMDSubmitMessage(link, conn, "4670111", "4670222", 0, 0, "", kText160, 0,
                                       false, &id, "", "");
      },
      [&](std::shared_ptr<protocols::AsyncSubmit> ctx) {
        return cimd::CIMDSubmitMessageAsync(link, conn, "4670111", "4670222", 0, 0, "", kText160, 0,
                                            false, "", "", ctx);
      },
      [&](bool* error) { cimd::CIMDYield(link, conn, std::chrono::milliseconds(1), error); });
  cimd::CIMDUnbind(link, conn);
}
BENCHMARK(BM_CimdClientSubmitWindow)->Arg(1)->Arg(50)->Iterations(5000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
