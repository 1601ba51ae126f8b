// Inbound processing benchmarks (a data directory under $VEKSMS_BENCH_DIR,
// else /tmp: the file system decides most of the cost; a routing table of
// 50 lines, accounts with and without RECV.FLG).
//   BM_ReceiveToInboundFile   -- ProcessInboundSMS of a 60-character text into an ".in" file
//   BM_ReceiveToAccount       -- ProcessInboundSMS of a message naming its account ("req" file)
//   BM_InboundFilesToAccounts -- one inbound thread: ".in" files in SMS-IN to the accounts'
//                                queues by the routing table (claim, load, route, write, delete)
//   BM_ReceivedToAccountsThreaded -- the receive entry on this thread while the service's first
//                                thread pair (kinds 1 and 2) drains SMS-IN into the accounts'
//                                queues: messages per second from received to the account file
//   BM_RoutingChoice          -- one routing-table choice (in memory)
//   BM_ReceiptFilesToAccounts -- the receipt thread: ".rct" receipts in SMS-IN, each id looked up
//                                in the message-id store (filled beforehand) and the receipt
//                                written into the submitting account's queue
//   BM_TwoWayWebRoundTrips    -- one inbound thread: ".in" files answered by a web command on a
//                                local HTTP server (kept-alive connection) and queued as replies
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "inbound/inbound_routing.h"
#include "inbound/inbound_worker.h"
#include "inbound/process_inbound.h"
#include "inbound/receipt_worker.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "queue/request_writer.h"
#include "queue/unique_id.h"

namespace {

using namespace vek;
namespace fs = std::filesystem;

constexpr int kAccounts = 50;

// A data directory with accounts u0..u49 (u0..u24 with RECV.FLG) and the
// table line "u<i>=44<i>*" for each.
class Gateway {
 public:
  Gateway() {
    const char* base = ::getenv("VEKSMS_BENCH_DIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/veksms-inbench-XXXXXX";
    root_ = ::mkdtemp(templ.data()) ? templ + "/" : std::string("/tmp/veksms-inbench/");
    (void)hostlib::setDataDirectory(root_);
    std::string ini = "[SMSGW]\nReceiveSMS=Yes\n[Inbound SMS Routing]\n";
    for (int i = 0; i < kAccounts; ++i) ini += platform::format("u%d=44%d*\n", i, i);
    (void)platform::writeFileAtomic(root_ + "SMSGW.INI", ini);
    hostlib::SMSIniSetFilename(root_ + "SMSGW.INI");
    hostlib::MMSCIniSetFilename(root_ + "MMSC.INI");
    (void)hostlib::openAccountStore(root_ + "private/USERS.DB");
    for (int i = 0; i < kAccounts; ++i) {
      hostlib::Account a;
      a.name = platform::format("u%d", i);
      (void)hostlib::accountStore()->add(a);
      if (i < kAccounts / 2) {
        (void)platform::makeDirectories(root_ + "USERS/" + a.name);
        (void)platform::publishFile(root_ + "USERS/" + a.name + "/RECV.FLG", "");
      }
    }
    foundation::publishSettings(foundation::Settings{});
    queue::resetUniqueMessageIdsForTesting(root_ + "private/UID.DAT");
    inbound::reloadInboundRoutingTable();
  }
  ~Gateway() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const std::string& root() const { return root_; }
  // Removes every account queue file (between benchmark batches).
  void emptyQueues() {
    std::error_code ec;
    for (int i = 0; i < kAccounts; ++i)
      fs::remove_all(root_ + "USERS/u" + std::to_string(i) + "/Q", ec);
    fs::remove_all(root_ + "SMS-IN", ec);
  }
  size_t accountFiles() const {
    size_t n = 0;
    std::error_code ec;
    for (int i = 0; i < kAccounts; ++i) {
      for (auto it = fs::directory_iterator(root_ + "USERS/u" + std::to_string(i) + "/Q", ec);
           it != fs::directory_iterator(); it.increment(ec))
        ++n;
    }
    return n;
  }

 private:
  std::string root_;
};

inbound::InboundSMS message(int i) {
  inbound::InboundSMS m;
  m.link_name = "SMPP - smsc:2775";
  m.sender = "+4477009" + std::to_string(100000 + i);
  m.recipient = platform::format("44%d%06d", i % kAccounts, i);
  m.data = "Inbound message number " + std::to_string(i) + " with a little more text.";
  return m;
}

void BM_ReceiveToInboundFile(benchmark::State& state) {
  Gateway g;
  int i = 0;
  for (auto _ : state) {
    if (!inbound::ProcessInboundSMS(message(i++)).ok()) state.SkipWithError("not stored");
    if (i % 5000 == 0) {
      state.PauseTiming();
      g.emptyQueues();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveToInboundFile);

void BM_ReceiveToAccount(benchmark::State& state) {
  Gateway g;
  int i = 0;
  for (auto _ : state) {
    inbound::InboundSMS m = message(i);
    m.extra = platform::format("RouteToLocalUser=u%d", i % (kAccounts / 2));
    ++i;
    if (!inbound::ProcessInboundSMS(m).ok()) state.SkipWithError("not stored");
    if (i % 5000 == 0) {
      state.PauseTiming();
      g.emptyQueues();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveToAccount);

void BM_InboundFilesToAccounts(benchmark::State& state) {
  Gateway g;
  const int batch = static_cast<int>(state.range(0));
  int64_t done = 0;
  for (auto _ : state) {
    state.PauseTiming();
    g.emptyQueues();
    (void)platform::makeDirectories(g.root() + "SMS-IN");
    for (int i = 0; i < batch; ++i) {
      inbound::InboundSMS m = message(i);
      queue::RequestWriter w("[SMS-IN]");
      w.text("ModemName", m.link_name).text("Sender", m.sender).text("PhoneNumber", m.recipient);
      w.data(m.data);
      (void)platform::publishFile(g.root() + platform::format("SMS-IN/%08X.in", i), w.str());
    }
    state.ResumeTiming();
    inbound::InboundWorker worker(inbound::kInboundMessagesAndJoining);
    while (worker.runPass().finished() != 0) {
    }
    done += batch;
  }
  if (g.accountFiles() != static_cast<size_t>(batch)) state.SkipWithError("files went missing");
  state.SetItemsProcessed(done);
}
BENCHMARK(BM_InboundFilesToAccounts)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReceivedToAccountsThreaded(benchmark::State& state) {
  Gateway g;
  const int batch = static_cast<int>(state.range(0));
  platform::resetShutdownForTesting();
  for (int kind : {inbound::kInboundMessagesAndJoining, inbound::kInboundReceipts}) {
    foundation::startWorkerThread("ThreadProcessInboundSMS",
                                  [kind] { inbound::ThreadProcessInboundSMS(kind); });
  }
  int64_t done = 0;
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) (void)inbound::ProcessInboundSMS(message(i));
    while (g.accountFiles() < static_cast<size_t>(batch))
      platform::sleepFor(std::chrono::milliseconds(5));
    done += batch;
    state.PauseTiming();
    g.emptyQueues();
    state.ResumeTiming();
  }
  platform::requestShutdown();
  foundation::inboundEventA().set();
  foundation::inboundEventB().set();
  foundation::waitForWorkers(std::chrono::seconds(30));
  platform::resetShutdownForTesting();
  state.SetItemsProcessed(done);
}
BENCHMARK(BM_ReceivedToAccountsThreaded)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RoutingChoice(benchmark::State& state) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < kAccounts; ++i)
    entries.emplace_back(platform::format("u%d", i),
                         platform::format("44%d*, !44%d9*, service_type=S%d", i, i, i));
  const inbound::RoutingTable table = inbound::RoutingTable::parse(entries);
  auto any = [](std::string_view key) { return std::optional<std::string>(key); };
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        table.choose(platform::format("44%d1234567", i++ % kAccounts), "", any));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoutingChoice);

constexpr std::string_view kReceiptLink = "SMPP - smsc:2775";

void BM_ReceiptFilesToAccounts(benchmark::State& state) {
  Gateway g;
  const int batch = static_cast<int>(state.range(0));
  for (int i = 0; i < batch; ++i) {
    (void)hostlib::SMSCMessageIdAdd(kReceiptLink, std::to_string(700000 + i),
                                    platform::format("%08X", 0x10000 + i),
                                    platform::format("u%d", i % (kAccounts / 2)), "12345",
                                    "+4477009" + std::to_string(100000 + i));
  }
  int64_t done = 0;
  for (auto _ : state) {
    state.PauseTiming();
    g.emptyQueues();
    (void)platform::makeDirectories(g.root() + "SMS-IN");
    for (int i = 0; i < batch; ++i) {
      const std::string id = std::to_string(700000 + i);
      queue::RequestWriter w("[SMS-IN]");
      w.text("ModemName", kReceiptLink)
          .text("Sender", "+4477009" + std::to_string(100000 + i))
          .text("PhoneNumber", "12345")
          .data("id:" + id +
                " sub:001 dlvrd:001 submit date:2612081429 done date:2612081430 "
                "stat:DELIVRD err:000 text:Inbound message")
          .yes("ReceiptDelivered")
          .text("ReceiptMessageId", id);
      (void)platform::publishFile(g.root() + platform::format("SMS-IN/%08X.rct", i), w.str());
    }
    state.ResumeTiming();
    inbound::ReceiptWorker worker;
    while (worker.runPass().finished() != 0) {
    }
    done += batch;
  }
  if (g.accountFiles() != static_cast<size_t>(batch)) state.SkipWithError("receipts went missing");
  hostlib::closeAllMessageIdStores();
  state.SetItemsProcessed(done);
}
BENCHMARK(BM_ReceiptFilesToAccounts)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A keep-alive HTTP/1.1 server on 127.0.0.1 answering every request with
// "Hi" as text/plain, one thread per connection.
class HiServer {
 public:
  HiServer() {
    auto l = platform::listenTcp("127.0.0.1", 0);
    if (!l.ok()) return;
    listener_ = std::move(l.value());
    port_ = platform::localPort(listener_.get());
    acceptor_ = std::thread([this] {
      while (!stop_) {
        auto c = platform::acceptConnection(listener_.get(), 50);
        if (c.ok()) workers_.emplace_back([this, fd = std::move(c.value())] { serve(fd.get()); });
      }
    });
  }
  ~HiServer() {
    stop_ = true;
    acceptor_.join();
    for (auto& t : workers_) t.join();
  }
  uint16_t port() const { return port_; }

 private:
  void serve(int fd) {
    static constexpr std::string_view kAnswer =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nHi";
    std::string buffer;
    char chunk[8192];
    while (!stop_) {
      size_t got = 0;
      const auto st = platform::recvSome(fd, chunk, sizeof chunk, 50, &got);
      if (st == platform::IoStatus::kClosed || st == platform::IoStatus::kError) return;
      if (st != platform::IoStatus::kOk) continue;
      buffer.append(chunk, got);
      size_t end;
      while ((end = buffer.find("\r\n\r\n")) != std::string::npos) {
        buffer.erase(0, end + 4);
        if (platform::sendAll(fd, kAnswer, 5000) != platform::IoStatus::kOk) return;
      }
    }
  }
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

void BM_TwoWayWebRoundTrips(benchmark::State& state) {
  Gateway g;
  HiServer server;
  (void)platform::writeFileAtomic(
      g.root() + "SMSGW.INI",
      platform::format("[SMSGW]\nReceiveSMS=Yes\nReceiveSMSCommand1=*\thttp://127.0.0.1:%u/"
                       "?from=@@SENDER@@&q=@@SMS@@\tYes\n",
                       server.port()));
  hostlib::smsIni().invalidate();
  inbound::reloadInboundRoutingTable();
  const int batch = static_cast<int>(state.range(0));
  int64_t done = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::error_code ec;
    fs::remove_all(g.root() + "Q", ec);
    (void)platform::makeDirectories(g.root() + "SMS-IN");
    for (int i = 0; i < batch; ++i) {
      queue::RequestWriter w("[SMS-IN]");
      w.text("Sender", "+4477009" + std::to_string(100000 + i)).text("PhoneNumber", "12345");
      w.data("info " + std::to_string(i));
      (void)platform::publishFile(g.root() + platform::format("SMS-IN/%08X.in", i), w.str());
    }
    state.ResumeTiming();
    inbound::InboundWorker worker(inbound::kInboundMessages);
    while (worker.runPass().finished() != 0) {
    }
    done += batch;
  }
  size_t replies = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(g.root() + "Q", ec);
       it != fs::recursive_directory_iterator(); it.increment(ec))
    replies += it->is_regular_file() ? 1 : 0;
  if (replies != static_cast<size_t>(batch)) state.SkipWithError("replies went missing");
  state.SetItemsProcessed(done);
}
BENCHMARK(BM_TwoWayWebRoundTrips)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
