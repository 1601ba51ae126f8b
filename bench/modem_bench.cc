// Benchmarks of the GSM modem driver (figures printed, never asserted).
//
//   BM_BuildSubmitGsm      -- a 160-character GSM text to an SMS-SUBMIT PDU
//   BM_BuildSubmitUcs2     -- a 70-character UCS-2 message (hexadecimal data) to a PDU
//   BM_DecodeDeliver       -- decode a received 160-septet SMS-DELIVER
//   BM_DecodeStatusReport  -- decode a received SMS-STATUS-REPORT
//   BM_DriverSend/0, /1    -- Modem::send of one message through modem-sim.js over TCP
//                             (--send-delay 0), whole writes / one byte per write
//   BM_BareDialogue        -- the same AT+CMGS exchange by a bare socket loop: the
//                             modem's own answer time, for comparison
//
// The simulator cases need the oracles folder ($VEKSMS_ORACLES, else
// ../shared/oracles beside the source tree; skipped without it).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "encoding/septet_packing.h"
#include "encoding/utf8.h"
#include "hostlib/host.h"
#include "modem/modem.h"
#include "modem/pdu_decode.h"
#include "modem/pdu_submit.h"
#include "platform/process.h"
#include "platform/socket.h"

using namespace vek;
using namespace vek::modem;

namespace {

const std::string kText160 =
    "The quick brown fox jumps over the lazy dog while the gateway keeps every message safe, "
    "counts it, logs it and hands it to the right link at the right time.....";

SubmitInput gsmInput() {
  SubmitInput in;
  in.recipient = "+46701234567";
  in.data = kText160.substr(0, 160);
  in.status_report = true;
  in.validity = 167;
  return in;
}

void BM_BuildSubmitGsm(benchmark::State& state) {
  const SubmitInput in = gsmInput();
  for (auto _ : state) {
    auto pdu = buildSubmitPdu(in);
    benchmark::DoNotOptimize(pdu->hex.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildSubmitGsm);

void BM_BuildSubmitUcs2(benchmark::State& state) {
  SubmitInput in;
  in.recipient = "+46701234567";
  std::string text;
  while (text.size() < 140) text += "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ";
  in.data = encoding::UTF8ToUCS2Hex(text).substr(0, 280);
  in.binary = true;
  in.dcs = 0x08;
  for (auto _ : state) {
    auto pdu = buildSubmitPdu(in);
    benchmark::DoNotOptimize(pdu->hex.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildSubmitUcs2);

void BM_DecodeDeliver(benchmark::State& state) {
  const std::string pdu =
      "07916407000090F9"
      "040B916407000000F1"
      "0000"
      "62219031203000"
      "A0" +
      encoding::PackGSMSeptetsToHex(kText160.substr(0, 160), 0);
  for (auto _ : state) {
    auto p = decodeReceivedPdu(pdu);
    if (!p.ok()) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(p->data.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeDeliver);

void BM_DecodeStatusReport(benchmark::State& state) {
  const std::string pdu = "07916407000090F906120B916407900021F3622190312030006221903120350000";
  for (auto _ : state) {
    auto p = decodeReceivedPdu(pdu);
    if (!p.ok()) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(p->status);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeStatusReport);

std::string oracles() {
  const char* env = std::getenv("VEKSMS_ORACLES");
  std::string dir = env && *env ? env
                                : (std::filesystem::path(__FILE__).parent_path().parent_path() /
                                   ".." / "shared" / "oracles")
                                      .string();
  return std::filesystem::exists(dir + "/modem/modem-sim.js") ? dir : std::string();
}

// One simulator (fast answers) for the loopback cases, killed at exit.
struct Simulator {
  uint16_t port = 0;
  platform::ChildProcess child;
  bool ready = false;
  Simulator() {
    if (oracles().empty()) return;
    {
      auto fd = platform::listenTcp("127.0.0.1", 0);
      if (!fd) return;
      port = platform::localPort(fd->get());
    }
    char dir[] = "/tmp/modem-bench-XXXXXX";
    if (!::mkdtemp(dir) || !hostlib::setDataDirectory(dir).ok()) return;
    platform::ProcessOptions o;
    o.argv = {"node",          oracles() + "/modem/modem-sim.js",
              "--tcp",         std::to_string(port),
              "--send-delay",  "0",
              "--max-seconds", "600"};
    auto c = platform::ChildProcess::spawn(o);
    if (!c.ok()) return;
    child = std::move(*c);
    std::string seen;
    for (int i = 0; i < 100 && seen.find("listening on") == std::string::npos; ++i) {
      pollfd p{child.stdoutFd(), POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      ssize_t n = ::read(child.stdoutFd(), buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, static_cast<size_t>(n));
    }
    ready = seen.find("listening on") != std::string::npos;
  }
  ~Simulator() { child.kill(); }
  std::string link() const { return "IPModem - 127.0.0.1:" + std::to_string(port); }
};

Simulator& simulator() {
  static Simulator s;
  return s;
}

void BM_DriverSend(benchmark::State& state) {
  Simulator& sim = simulator();
  if (!sim.ready) {
    state.SkipWithError("modem-sim.js not available");
    return;
  }
  ModemOptions o;
  o.link_name = sim.link();
  o.time_scale = 0.05;  // only the opening pauses; answers come at once
  o.max_bytes_per_write = static_cast<size_t>(state.range(0));
  Modem m(o);
  if (!m.open().ok() || !m.initialise().ok()) {
    state.SkipWithError("initialisation failed");
    return;
  }
  OutboundSms msg;
  msg.recipient = "+46701234567";
  msg.data = kText160.substr(0, 160);
  for (auto _ : state) {
    if (!m.send(msg).sent()) state.SkipWithError("send failed");
  }
  m.close();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DriverSend)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(3);

// Reads until `end` has arrived (bounded by 5 s).
bool readUntil(int fd, const char* end) {
  std::string got;
  char buf[1024];
  while (got.find(end) == std::string::npos) {
    size_t n = 0;
    if (platform::recvSome(fd, buf, sizeof buf, 5000, &n) != platform::IoStatus::kOk) return false;
    got.append(buf, n);
  }
  return true;
}

void BM_BareDialogue(benchmark::State& state) {
  Simulator& sim = simulator();
  if (!sim.ready) {
    state.SkipWithError("modem-sim.js not available");
    return;
  }
  auto fd = platform::connectTcp("127.0.0.1", sim.port, 5000);
  if (!fd.ok()) {
    state.SkipWithError("connect failed");
    return;
  }
  platform::setNoDelay(fd->get());
  SubmitInput in;
  in.recipient = "+46701234567";
  in.data = kText160.substr(0, 160);
  auto pdu = buildSubmitPdu(in);
  const std::string command = "AT+CMGS=" + std::to_string(pdu->tpdu_octets) + "\r";
  const std::string body = pdu->hex + "\x1A";
  if (platform::sendAll(fd->get(), "ATE0\r", 1000) != platform::IoStatus::kOk ||
      !readUntil(fd->get(), "OK\r\n")) {
    state.SkipWithError("no answer");
    return;
  }
  for (auto _ : state) {
    platform::sendAll(fd->get(), command, 1000);
    if (!readUntil(fd->get(), "> ")) state.SkipWithError("no prompt");
    platform::sendAll(fd->get(), body, 1000);
    if (!readUntil(fd->get(), "OK\r\n")) state.SkipWithError("no answer");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareDialogue)->Unit(benchmark::kMicrosecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
