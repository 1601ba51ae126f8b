// TinySmsc: a small SMPP message centre for link tests, on 127.0.0.1 (port
// 0), one connection at a time. Besides answering properly it can
// misbehave the ways real centres do: garbage instead of an answer, an
// answer after the command time-out, a connection closed in the middle of
// an answer, generic_nack, an unknown command, silence, refused binds.
// Header-only: the test program compiles every .cc here as a test.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/byte_io.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "protocols/smpp/pdu.h"
#include "protocols/smpp/status_codes.h"

namespace vek::links::testing {

class TinySmsc {
 public:
  enum class Mode {
    kGood,            // binds and accepts everything
    kGarbage,         // answers a submit with bytes that are no PDU
    kLate,            // answers a submit after `late_by`
    kCloseMidAnswer,  // sends half an answer, then closes
    kGenericNack,     // answers a submit with generic_nack
    kUnknownCommand,  // sends an unknown command first, then answers properly
    kSilent,          // never answers a submit
    kRefuseBind,      // refuses every bind
  };

  explicit TinySmsc(Mode mode) : mode_(mode) {
    auto fd = platform::listenTcp("127.0.0.1", 0);
    if (fd.ok()) {
      listen_ = std::move(*fd);
      port_ = platform::localPort(listen_.get());
    }
    thread_ = std::thread([this] { loop(); });
  }
  ~TinySmsc() {
    stop_ = true;
    thread_.join();
  }
  TinySmsc(const TinySmsc&) = delete;
  TinySmsc& operator=(const TinySmsc&) = delete;

  uint16_t port() const { return port_; }
  void setMode(Mode m) { mode_ = m; }
  std::chrono::milliseconds late_by{1500};

  // Destinations of accepted submissions, in order (duplicates kept).
  std::vector<std::string> accepted() {
    std::scoped_lock lk(mu_);
    return accepted_;
  }
  int submitsSeen() const { return submits_.load(); }
  int binds() const { return binds_.load(); }
  int unbinds() const { return unbinds_.load(); }

 private:
  void loop() {
    while (!stop_) {
      auto c = platform::acceptConnection(listen_.get(), 50);
      if (!c.ok()) continue;
      serve(c->get());
    }
  }

  bool send(int fd, const smpp::Pdu& p) {
    platform::ByteWriter w;
    smpp::encodePdu(p, &w, true);
    auto& d = w.data();
    return platform::sendAll(fd,
                             std::string_view(reinterpret_cast<const char*>(d.data()), d.size()),
                             1000) == platform::IoStatus::kOk;
  }

  // Reads one whole PDU into `buf`; false when the connection ended or stop.
  bool readPdu(int fd, std::vector<uint8_t>* pdu) {
    for (;;) {
      if (have_.size() >= 4) {
        uint32_t len = (uint32_t{have_[0]} << 24) | (uint32_t{have_[1]} << 16) |
                       (uint32_t{have_[2]} << 8) | have_[3];
        if (len < 16 || len > 65536) return false;
        if (have_.size() >= len) {
          pdu->assign(have_.begin(), have_.begin() + len);
          have_.erase(have_.begin(), have_.begin() + len);
          return true;
        }
      }
      if (stop_) return false;
      if (!sendDue(fd)) return false;
      uint8_t buf[4096];
      size_t got = 0;
      auto st = platform::recvSome(fd, buf, sizeof buf, 50, &got);
      if (st == platform::IoStatus::kTimeout) continue;
      if (st != platform::IoStatus::kOk) return false;
      have_.insert(have_.end(), buf, buf + got);
    }
  }

  void serve(int fd) {
    have_.clear();
    late_.clear();
    std::vector<uint8_t> raw;
    while (readPdu(fd, &raw)) {
      smpp::Pdu p;
      if (smpp::decodePdu(raw, &p) != smpp::status::kOk) return;
      smpp::Pdu r = smpp::makeResponse(p, smpp::status::kOk);
      switch (p.command_id) {
        case smpp::cmd::kBindTransmitter:
        case smpp::cmd::kBindTransceiver:
        case smpp::cmd::kBindReceiver:
          ++binds_;
          if (mode_ == Mode::kRefuseBind) r.command_status = smpp::status::kBindFail;
          r.system_id = "TINY";
          if (!send(fd, r) || mode_ == Mode::kRefuseBind) return;
          break;
        case smpp::cmd::kSubmitSm:
          ++submits_;
          if (!submit(fd, p, &r)) return;
          break;
        case smpp::cmd::kUnbind:
          ++unbinds_;
          send(fd, r);
          return;
        default:
          if (!send(fd, r)) return;
      }
    }
  }

  // False when the connection is to end.
  bool submit(int fd, const smpp::Pdu& p, smpp::Pdu* r) {
    switch (mode_.load()) {
      case Mode::kGarbage: {
        std::string junk(40, '\xEE');
        return platform::sendAll(fd, junk, 1000) == platform::IoStatus::kOk;
      }
      case Mode::kLate: {
        // Answered once the peer under test has given up waiting.
        std::string id;
        {
          std::scoped_lock lk(mu_);
          accepted_.push_back(p.destination.addr);
          id = "T" + std::to_string(accepted_.size());
        }
        r->message_id = id;
        late_.push_back({platform::monotonicNow() + late_by, *r});
        return true;
      }
      case Mode::kCloseMidAnswer: {
        platform::ByteWriter w;
        smpp::encodePdu(*r, &w, true);
        auto& d = w.data();
        platform::sendAll(
            fd, std::string_view(reinterpret_cast<const char*>(d.data()), d.size() / 2), 1000);
        return false;
      }
      case Mode::kGenericNack: {
        smpp::Pdu nack;
        nack.command_id = smpp::cmd::kGenericNack;
        nack.command_status = smpp::status::kSysErr;
        nack.sequence = p.sequence;
        return send(fd, nack);
      }
      case Mode::kUnknownCommand: {
        smpp::Pdu odd;
        odd.command_id = 0x00000999;
        odd.sequence = 7777;
        return send(fd, odd) && accept(fd, p, r);
      }
      case Mode::kSilent:
        return true;
      default:
        return accept(fd, p, r);
    }
  }

  // Sends the late answers whose time has come; false when the connection is gone.
  bool sendDue(int fd) {
    auto now = platform::monotonicNow();
    while (!late_.empty() && late_.front().first <= now) {
      if (!send(fd, late_.front().second)) return false;
      late_.erase(late_.begin());
    }
    return true;
  }

  bool accept(int fd, const smpp::Pdu& p, smpp::Pdu* r) {
    std::string id;
    {
      std::scoped_lock lk(mu_);
      accepted_.push_back(p.destination.addr);
      id = "T" + std::to_string(accepted_.size());
    }
    r->message_id = id;
    return send(fd, *r);
  }

  std::atomic<Mode> mode_;
  platform::UniqueFd listen_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<uint8_t> have_;
  std::vector<std::pair<platform::SteadyTime, smpp::Pdu>> late_;
  std::mutex mu_;
  std::vector<std::string> accepted_;
  std::atomic<int> submits_{0};
  std::atomic<int> binds_{0};
  std::atomic<int> unbinds_{0};
};

}  // namespace vek::links::testing
