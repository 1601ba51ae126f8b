// Test fixture for the SMPP server: a fresh data directory per test (its
// own SMSGW.INI, account store and "UID.DAT", TZ fixed to UTC), a listening
// socket on 127.0.0.1 whose connections are served by the server's own
// hand-off (unbound limits, one thread per connection) with a ServerState
// of the test's, a back-off that is recorded instead of waited for, and a
// raw SMPP client that reads and writes whole PDUs.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "protocols/smpp/pdu.h"
#include "queue/request_file.h"
#include "queue/unique_id.h"
#include "smpp_server/client_session.h"
#include "smpp_server/listener.h"
#include "support/test_support.h"

namespace vek::smpp_server::testing {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace status = smpp::status;
namespace cmd = smpp::cmd;

// A client that speaks SMPP PDU by PDU.
class RawClient {
 public:
  bool connect(uint16_t port, const std::string& from = "") {
    auto fd = platform::connectTcp("127.0.0.1", port, 2000, from);
    if (!fd.ok()) return false;
    fd_ = std::move(*fd);
    return true;
  }
  int fd() const { return fd_.get(); }
  void close() { fd_.reset(); }

  bool send(smpp::Pdu p) {
    if (p.sequence == 0) p.sequence = ++sequence_;
    platform::ByteWriter w;
    smpp::encodePdu(p, &w);
    return platform::sendAll(fd_.get(), w.str(), 2000) == platform::IoStatus::kOk;
  }
  // One PDU within `timeout`; false on time-out, close or a PDU that does not decode.
  bool read(smpp::Pdu* p, std::chrono::milliseconds timeout = 5s) {
    uint8_t head[4];
    const int ms = static_cast<int>(timeout.count());
    if (platform::recvExact(fd_.get(), head, 4, ms) != platform::IoStatus::kOk) return false;
    const uint32_t len =
        (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
    if (len < 16 || len > smpp::kMaxCommandLength) return false;
    std::string buf(len, '\0');
    std::memcpy(buf.data(), head, 4);
    if (platform::recvExact(fd_.get(), buf.data() + 4, len - 4, ms) != platform::IoStatus::kOk)
      return false;
    return smpp::decodePdu(
               std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buf.data()), buf.size()),
               p) == status::kOk;
  }
  // Reads until a PDU with `command_id` comes (answering enquire_link); false when none does.
  bool readUntil(uint32_t command_id, smpp::Pdu* p, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!read(p, std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now() + 1ms)))
        return false;
      if (p->command_id == command_id) return true;
      if (p->command_id == cmd::kEnquireLink) send(smpp::makeResponse(*p, status::kOk));
    }
    return false;
  }
  // The bind_resp status (0xFFFFFFFF when none came).
  uint32_t bind(uint32_t command_id, const std::string& system_id, const std::string& password,
                std::chrono::milliseconds timeout = 5s) {
    smpp::Pdu p;
    p.command_id = command_id;
    p.system_id = system_id;
    p.password = password;
    p.interface_version = 0x34;
    if (!send(p)) return 0xFFFFFFFF;
    smpp::Pdu r;
    if (!readUntil(command_id | cmd::kResponseBit, &r, timeout)) return 0xFFFFFFFF;
    return r.command_status;
  }
  static smpp::Pdu submitSm(const std::string& to, const std::string& text) {
    smpp::Pdu p;
    p.command_id = cmd::kSubmitSm;
    p.source = {0, 1, "1234"};
    p.destination = {1, 1, to};
    p.short_message = text;
    return p;
  }
  // submit_sm and its answer; the answer's status (0xFFFFFFFF when none came).
  uint32_t submit(const smpp::Pdu& sm, std::string* id = nullptr) {
    if (!send(sm)) return 0xFFFFFFFF;
    smpp::Pdu r;
    if (!readUntil(cmd::kSubmitSmResp, &r)) return 0xFFFFFFFF;
    if (id) *id = r.message_id;
    return r.command_status;
  }
  // True when the server closes the connection within `timeout` (what it
  // sends meanwhile is read and dropped, enquire_link answered).
  bool closedWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buf[4096];
    while (std::chrono::steady_clock::now() < deadline) {
      size_t got = 0;
      auto st = platform::recvSome(fd_.get(), buf, sizeof buf, 50, &got);
      if (st == platform::IoStatus::kClosed || st == platform::IoStatus::kError) return true;
    }
    return false;
  }

 private:
  platform::UniqueFd fd_;
  uint32_t sequence_ = 0;
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    platform::resetShutdownForTesting();
    data_ = dir_.path() + "data/";
    ASSERT_TRUE(platform::makeDirectories(data_).ok());
    ASSERT_TRUE(hostlib::setDataDirectory(data_).ok());
    hostlib::SMSIniSetFilename(data_ + "SMSGW.INI");
    hostlib::MMSCIniSetFilename(data_ + "MMSC.INI");
    ASSERT_TRUE(hostlib::openAccountStore(dir_.file("USERS.DB")).ok());
    queue::resetUniqueMessageIdsForTesting(dir_.file("UID.DAT"));
    foundation::publishSettings(foundation::Settings{});
    configure("");
    installServerCallbacks();
    hooks_.backoff_wait = [this](std::chrono::seconds d) {
      std::scoped_lock lk(mu_);
      delays_.push_back(static_cast<int>(d.count()));
      return true;
    };
    hooks_.delivery_pause = 50ms;
    hooks_.slice = 200ms;
    hooks_.command_timeout = 2s;
    hooks_.finish_bound = 1s;
  }

  void TearDown() override {
    stopServer();
    platform::requestShutdown();
    EXPECT_TRUE(vek::testing::waitUntil([&] { return state_.sessions.load() == 0; }, 20s));
    foundation::waitForWorkers(10s);
    platform::resetShutdownForTesting();
  }

  // Starts serving 127.0.0.1:0 with the fixture's state and hooks.
  void startServer() {
    auto l = platform::listenTcp("127.0.0.1", 0);
    ASSERT_TRUE(l.ok());
    listen_ = std::move(*l);
    port_ = platform::localPort(listen_.get());
    acceptor_ = std::thread([this] {
      while (!stop_) {
        std::string address;
        uint16_t port = 0;
        auto fd = platform::acceptConnection(listen_.get(), 50, &address, &port);
        if (!fd.ok()) continue;
        if (!handOffConnection(state_, std::move(*fd), address, port, tls_, hooks_)) ++refused_;
      }
    });
  }
  void stopServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
  }

  // SMSGW.INI: `smsgw` lines in section SMSGW, then `more`.
  void configure(const std::string& smsgw, const std::string& more = "") {
    vek::testing::writeText(data_ + "SMSGW.INI", "[SMSGW]\r\n" + smsgw + "\r\n" + more);
    hostlib::smsIni().invalidate();
  }
  hostlib::Account account(const std::string& name, const std::string& password = "pw") {
    hostlib::Account a;
    a.name = name;
    a.password = password;
    a.smpp_login = true;
    return a;
  }
  void add(const hostlib::Account& a) { ASSERT_TRUE(hostlib::accountStore()->add(a).ok()); }
  void update(const std::string& name, const std::string& field, const std::string& value) {
    ASSERT_TRUE(hostlib::accountStore()->update(name, {{field, value}}).ok());
  }

  std::string queueOf(const std::string& name) const { return data_ + "USERS/" + name + "/Q/"; }
  // A message waiting for `name` in its queue; returns the file's path.
  std::string queueFor(const std::string& name, const std::string& text,
                       const std::string& file = "") {
    const std::string dir = queueOf(name);
    EXPECT_TRUE(platform::makeDirectories(dir).ok());
    const std::string path = dir + (file.empty() ? platform::format("%08X.req", ++queued_) : file);
    vek::testing::writeText(path, "[SMS]\r\nSender=+4470\r\nPhoneNumber=12345\r\nData=" + text +
                                      "\r\npid=00\r\ndcs=00\r\n");
    return path;
  }
  // Files under `dir` (recursively) whose names match `pattern`, sorted.
  static std::vector<std::string> files(const std::string& dir, const std::string& pattern = "*") {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file() &&
          platform::globMatchNoCase(pattern, it->path().filename().string()))
        out.push_back(it->path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  static queue::SMSMessage load(const std::string& path) {
    queue::SMSMessage m;
    queue::parseSMSMessage(vek::testing::readText(path), &m,
                           [](std::string_view) { return std::string(); });
    return m;
  }
  std::vector<int> delays() {
    std::scoped_lock lk(mu_);
    return delays_;
  }

  vek::testing::TempDir dir_;
  std::string data_;
  ServerState state_;
  SessionHooks hooks_;
  bool tls_ = false;
  uint16_t port_ = 0;
  std::atomic<int> refused_{0};

 private:
  platform::UniqueFd listen_;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mu_;
  std::vector<int> delays_;
  unsigned queued_ = 0;
};

}  // namespace vek::smpp_server::testing
