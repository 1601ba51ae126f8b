// Test helpers for the SMPP engine: a small SMPP server built on the server
// entries (one thread per accepted connection, 127.0.0.1, port 0), a client
// connector, and a raw peer for byte-level checks. Header-only because the
// test program compiles only *_test.cc files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/pdu.h"
#include "protocols/smpp/receipt.h"
#include "protocols/smpp/server.h"
#include "tls/tls.h"

namespace vek::smpp::testing {

using namespace std::chrono_literals;

class TestServer {
 public:
  struct Options {
    std::string account = "test";
    std::string password = "test";
    bool tls = false;
    uint32_t reject_status = status::kInvPaswd;
    // Answer for each submitted message (default: accept with ids "M1", "M2", ...).
    std::function<uint32_t(const InboundMessage&)> decide;
  };

  explicit TestServer(Options o) : opt_(std::move(o)) {
    auto fd = platform::listenTcp("127.0.0.1", 0);
    EXPECT_TRUE(fd.ok()) << fd.status().message();
    listen_fd_ = std::move(*fd);
    port_ = platform::localPort(listen_fd_.get());
    SMPPServerSetReceiveMessageCallback(
        [](ServerConnection& c, const InboundMessage& m, std::string* id) {
          return static_cast<TestServer*>(c.userContext())->onSubmit(m, id);
        });
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~TestServer() { stop(); }

  void stop() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> threads;
    {
      std::scoped_lock lk(mu_);
      threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
  }

  uint16_t port() const { return port_; }

  std::vector<InboundMessage> received() {
    std::scoped_lock lk(mu_);
    return received_;
  }
  size_t receivedCount() {
    std::scoped_lock lk(mu_);
    return received_.size();
  }
  // Sent with SMPPServerSubmitMessage to the next receiving connection.
  void queueDeliver(OutboundMessage m) {
    std::scoped_lock lk(mu_);
    deliveries_.push_back(std::move(m));
  }
  std::vector<uint32_t> deliverResults() {
    std::scoped_lock lk(mu_);
    return deliver_results_;
  }

  std::atomic<int> accepted{0}, rejected{0}, enquire_results_ok{0};
  std::atomic<bool> probe_enquire_link{false};

 private:
  uint32_t onSubmit(const InboundMessage& m, std::string* id) {
    std::scoped_lock lk(mu_);
    received_.push_back(m);
    uint32_t st = opt_.decide ? opt_.decide(m) : status::kOk;
    if (st == status::kOk) *id = "M" + std::to_string(++next_id_);
    return st;
  }

  void acceptLoop() {
    while (!stop_) {
      std::string peer;
      auto fd = platform::acceptConnection(listen_fd_.get(), 50, &peer);
      if (!fd) continue;
      std::scoped_lock lk(mu_);
      threads_.emplace_back(
          [this, f = std::move(*fd), peer]() mutable { serve(std::move(f), peer); });
    }
  }

  void serve(platform::UniqueFd fd, const std::string& peer) {
    tls::Stream stream;
    if (opt_.tls) {
      std::string err;
      tls::TlsSession* s = tls::sslAcceptSession(fd.get(), 5000, &err);
      if (s == nullptr) return;
      stream = tls::Stream(std::move(fd), tls::SessionPtr(s));
    } else {
      stream = tls::Stream(std::move(fd));
    }
    ServerConnection conn(std::move(stream), peer);
    conn.setUserContext(this);
    conn.setCommandTimeout(5s);
    std::string account, password;
    uint32_t bind_id = 0;
    int bind_type = 0;
    uint8_t version = 0;
    for (;;) {
      if (stop_ || SMPPServerWaitForLogin(conn, 5s, &account, &password, &bind_id, &bind_type,
                                          &version) != 0)
        return;
      if (account == opt_.account && password == opt_.password) break;
      ++rejected;
      SMPPServerRejectLogin(conn, bind_id, bind_type, version, opt_.reject_status);
    }
    ++accepted;
    SMPPServerAcceptLogin(conn, bind_id, bind_type, version);
    bool error = false;
    while (!stop_ && !error) {
      SMPPServerYield(conn, version, 20ms, &error);
      if (probe_enquire_link.exchange(false) && SMPPServerEnquireLink(conn, version) == 0)
        ++enquire_results_ok;
      if (bind_type == kBindTypeTransmitter) continue;
      for (;;) {
        OutboundMessage m;
        {
          std::scoped_lock lk(mu_);
          if (deliveries_.empty()) break;
          m = std::move(deliveries_.front());
          deliveries_.pop_front();
        }
        uint32_t st = SMPPServerSubmitMessage(conn, version, m.sender, m.recipient, m.pid, m.dcs,
                                              m.udh, m.data, m.flags, m.binary, m.params);
        std::scoped_lock lk(mu_);
        deliver_results_.push_back(st);
      }
    }
  }

  Options opt_;
  platform::UniqueFd listen_fd_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mu_;
  std::vector<std::thread> threads_;
  std::vector<InboundMessage> received_;
  std::deque<OutboundMessage> deliveries_;
  std::vector<uint32_t> deliver_results_;
  uint64_t next_id_ = 0;
};

// Connects and binds a client; expects success.
inline uint32_t connectAndBind(Connection& conn, uint16_t port,
                               int bind_type = kBindTypeTransceiver, uint8_t version = 0x34,
                               const std::string& password = "test") {
  uint32_t st = SMPPConnect(conn, tls::Stream(), "SMPP - 127.0.0.1:" + std::to_string(port),
                            "127.0.0.1", port);
  if (st != 0) return st;
  return SMPPBind(conn, version, bind_type, "test", password, "");
}

// Collects what the client receive callback gets (one Inbox at a time: it
// owns the process-wide callback).
struct Inbox {
  std::mutex mu;
  std::vector<InboundMessage> items;
  Inbox() {
    SMPPSetReceiveMessageCallback([this](const InboundMessage& m) {
      std::scoped_lock lk(mu);
      items.push_back(m);
      return 1;
    });
  }
  ~Inbox() { SMPPSetReceiveMessageCallback(nullptr); }
  size_t size() {
    std::scoped_lock lk(mu);
    return items.size();
  }
  // Items whose receipt flag is `receipt_flag` (0 or flag::kIsReceipt).
  size_t count(uint32_t receipt_flag) {
    std::scoped_lock lk(mu);
    return static_cast<size_t>(std::count_if(
        items.begin(), items.end(),
        [&](const InboundMessage& m) { return (m.flags & flag::kIsReceipt) == receipt_flag; }));
  }
};

// Yields until `pred` holds (bounded).
inline bool yieldUntil(Connection& conn, const std::function<bool()>& pred,
                       std::chrono::milliseconds limit = 10s) {
  auto deadline = platform::monotonicNow() + limit;
  bool error = false;
  while (!pred()) {
    if (error || platform::monotonicNow() > deadline) return false;
    SMPPYield(conn, 0x34, 20ms, &error);
  }
  return true;
}

// A plain peer that reads and writes whole PDUs.
class RawPeer {
 public:
  explicit RawPeer(platform::UniqueFd fd) : fd_(std::move(fd)) {}
  int fd() const { return fd_.get(); }
  bool sendBytes(const std::string& bytes) {
    return platform::sendAll(fd_.get(), bytes, 2000) == platform::IoStatus::kOk;
  }
  bool sendPdu(const Pdu& p) {
    platform::ByteWriter w;
    encodePdu(p, &w);
    return sendBytes(w.str());
  }
  // Reads one PDU within 2 s; false on time-out or close.
  bool readPdu(Pdu* p, std::string* raw = nullptr) {
    uint8_t head[4];
    if (platform::recvExact(fd_.get(), head, 4, 2000) != platform::IoStatus::kOk) return false;
    uint32_t len =
        (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
    if (len < 16 || len > kMaxCommandLength) return false;
    std::string buf(len, '\0');
    std::memcpy(buf.data(), head, 4);
    if (platform::recvExact(fd_.get(), buf.data() + 4, len - 4, 2000) != platform::IoStatus::kOk)
      return false;
    if (raw) *raw = buf;
    return decodePdu(
               std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buf.data()), buf.size()),
               p) == 0;
  }
  // True when the other side closed the connection within 2 s.
  bool closedByPeer() {
    char c;
    size_t got = 0;
    for (int i = 0; i < 20; ++i) {
      auto st = platform::recvSome(fd_.get(), &c, 1, 100, &got);
      if (st == platform::IoStatus::kClosed || st == platform::IoStatus::kError) return true;
    }
    return false;
  }

 private:
  platform::UniqueFd fd_;
};

inline Pdu bindPdu(uint32_t command_id, const std::string& id, const std::string& pw,
                   uint8_t version = 0x34) {
  Pdu p;
  p.command_id = command_id;
  p.sequence = 1;
  p.system_id = id;
  p.password = pw;
  p.interface_version = version;
  return p;
}

}  // namespace vek::smpp::testing
