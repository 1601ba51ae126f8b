// Queue benchmarks.
//   BM_LoadSMSMessageFromMemory -- LoadSMSMessage's in-memory entry on a typical 400-byte
//                                  request file
//   BM_LoadSMSMessageFromFile   -- LoadSMSMessage on an open 400-byte file (pread from the start)
//   BM_FormatSMSMessage         -- the record writer building the same file's text
//   BM_MayLinkSend              -- one route decision: 20 links, 200 route patterns (10 per
//                                  link, a block and a service-type route among them), recipients
//                                  and links taken in turn
//   BM_CandidateLinks           -- the candidate list of the same messages
//   BM_ReloadCheckUnchangedSmpp -- the reload check of an SMPP link whose settings did not
//                                  change, on the current "SMSGW.INI" (20 link sections)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "foundation/link_settings.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/strings.h"
#include "queue/request_file.h"
#include "queue/request_writer.h"
#include "queue/route_selection.h"

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

// 20 links: 15 SMPP and 5 modems, each with 10 recipient patterns of
// different lengths, one link with a block and one with a service route.
std::string routingConfiguration() {
  using vek::platform::format;
  std::string gateway = "[SMSGW]\r\n";
  std::string sections;
  for (int i = 0; i < 20; ++i) {
    std::string name = i < 15 ? format("SMPP - smsc%d.example:2775", i) : format("COM%d [USB]", i);
    gateway += format("Modem%d=%s\r\n", i + 1, name.c_str());
    sections += format("[%s]\r\n", vek::foundation::linkSectionName(name).c_str());
    sections += format(
        "UserName=user%d\r\nPassword=secret\r\nSystemType=VMA\r\nSenderAddress=Shop,4470000%d\r\n"
        "KeepAlive=30\r\nWindowSize=10\r\nTransmitterCount=1\r\nReceiverCount=1\r\n"
        "RouteName=R%d\r\nSMSCSendLimit=50/1\r\n",
        i, i, i % 7);
    for (int r = 0; r < 10; ++r) {
      std::string pattern = format("+%d%d%.*s*", 30 + i, r, r % 3, "??");
      if (i == 3 && r == 9) pattern = "!+33999*";
      if (i == 4 && r == 9) pattern = "service_type=CMT*";
      sections += format("Route%d=%s\r\n", r + 1, pattern.c_str());
    }
    if (i % 5 == 0) sections += "RoutePrefOnly=Yes\r\n";
  }
  return gateway + sections;
}

std::vector<std::string> recipients() {
  std::vector<std::string> out;
  for (int i = 0; i < 64; ++i)
    out.push_back(vek::platform::format("+%d%d7700900%d", 28 + (i * 7) % 26, i % 10, 100 + i));
  return out;
}

void BM_MayLinkSend(benchmark::State& state) {
  const vek::queue::RouteTable table =
      vek::queue::buildRouteTable(vek::hostlib::IniFile::parse(routingConfiguration()));
  const std::vector<std::string> numbers = recipients();
  size_t i = 0;
  int64_t yes = 0;
  for (auto _ : state) {
    vek::queue::RouteQuery q;
    q.account = "webshop";
    q.recipient = numbers[i % numbers.size()];
    const std::string& link = table.links[i % table.links.size()].name;
    bool no_link = false;
    yes += vek::queue::MayLinkSend(table, q, link, &no_link);
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["patterns"] = static_cast<double>(table.entries.size());
  state.counters["yes_share"] = static_cast<double>(yes) / static_cast<double>(i ? i : 1);
}
BENCHMARK(BM_MayLinkSend);

void BM_CandidateLinks(benchmark::State& state) {
  const vek::queue::RouteTable table =
      vek::queue::buildRouteTable(vek::hostlib::IniFile::parse(routingConfiguration()));
  const std::vector<std::string> numbers = recipients();
  size_t i = 0;
  for (auto _ : state) {
    vek::queue::RouteQuery q;
    q.recipient = numbers[i++ % numbers.size()];
    auto links = vek::queue::CandidateLinks(table, q);
    benchmark::DoNotOptimize(links.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CandidateLinks);

void BM_ReloadCheckUnchangedSmpp(benchmark::State& state) {
  char dir[] = "/tmp/veksms-bench-XXXXXX";
  if (!::mkdtemp(dir)) return;
  std::string path = std::string(dir) + "/SMSGW.INI";
  std::string text = routingConfiguration();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return;
  ::close(fd);
  vek::hostlib::SMSIniSetFilename(path);
  const std::string link = "SMPP - smsc7.example:2775";
  vek::foundation::SmppLinkSettings s = vek::foundation::loadSmppSettings(link);
  int64_t reconnects = 0;
  for (auto _ : state) reconnects += vek::foundation::checkReload(8, link, &s);
  state.SetItemsProcessed(state.iterations());
  state.counters["reconnects"] = static_cast<double>(reconnects);
  vek::hostlib::SMSIniSetFilename("");
  ::unlink(path.c_str());
  ::rmdir(dir);
}
BENCHMARK(BM_ReloadCheckUnchangedSmpp);

}  // namespace

BENCHMARK_MAIN();
