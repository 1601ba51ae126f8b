// Queue benchmarks.
//   BM_LoadSMSMessageFromMemory -- LoadSMSMessage's in-memory entry on a typical 400-byte request
//   file BM_LoadSMSMessageFromFile   -- LoadSMSMessage on an open 400-byte file (pread from the
//   start) BM_FormatSMSMessage         -- the record writer building the same file's text
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "queue/request_file.h"
#include "queue/request_writer.h"

namespace {

// An HTTP submission as the gateway writes it: account, client, recipient,
// sender, receipt request, route, a 160-character text, pid and dcs.
std::string typicalRequestFile() {
  std::string text =
      "[SMS]\r\n"
      "SubmitUser=webshop\r\n"
      "SubmittedBy=HTTP 192.0.2.44 (webshop)\r\n"
      "PhoneNumber=+447700900123\r\n"
      "Sender=WebShop\r\n"
      "ReceiptRequested=Yes\r\n"
      "ServiceType=CMT\r\n"
      "BillingInfo=order-20261208-0042\r\n"
      "SMSCRoute=UK-Primary\r\n"
      "Data=";
  text +=
      "Your order 20261208-0042 has been dispatched.\\r\\nTrack it at "
      "https://shop.example/t/8f3a2c and expect delivery on Thursday between 9 and 12. "
      "Reply STOP to opt out.";
  text += "\r\npid=00\r\ndcs=00\r\n";
  return text;
}

std::string noRoute(std::string_view name) {
  return std::string(name);
}

void BM_LoadSMSMessageFromMemory(benchmark::State& state) {
  const std::string text = typicalRequestFile();
  vek::queue::SMSMessage m;
  for (auto _ : state) {
    vek::queue::parseSMSMessage(text, &m, noRoute);
    benchmark::DoNotOptimize(m.PhoneNumber.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  state.counters["file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadSMSMessageFromMemory);

void BM_LoadSMSMessageFromFile(benchmark::State& state) {
  char dir[] = "/tmp/veksms-bench-XXXXXX";
  if (!::mkdtemp(dir)) return;
  std::string path = std::string(dir) + "/00000001.req";
  const std::string text = typicalRequestFile();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return;
  vek::queue::SMSMessage m;
  for (auto _ : state) {
    vek::queue::LoadSMSMessage(fd, &m, noRoute);
    benchmark::DoNotOptimize(m.PhoneNumber.data());
  }
  state.SetItemsProcessed(state.iterations());
  ::close(fd);
  ::unlink(path.c_str());
  ::rmdir(dir);
}
BENCHMARK(BM_LoadSMSMessageFromFile);

void BM_FormatSMSMessage(benchmark::State& state) {
  vek::queue::SMSMessage m;
  vek::queue::parseSMSMessage(typicalRequestFile(), &m, noRoute);
  for (auto _ : state) {
    std::string text = vek::queue::formatSMSMessage(m);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatSMSMessage);

}  // namespace

BENCHMARK_MAIN();
