// LinkProtocol: one connection of a link to its message centre, as the link
// sender drives it. Each link kind implements it once (SMPP first; UCP/EMI,
// CIMD2, HTTP links and modem sessions plug in the same way) and the
// sender's queue pass, result handling, window, back-off and reload rules
// stay the same for all of them.
//
// The sender calls, per connection:
//   open(role)                 connect, TLS, log in; false with the failure
//                              text ("SMPP Failure -- ...") on any failure
//   submit() / submitAsync()   one message; yield() services the connection
//                              (answers, keep-alive from the peer, inbound
//                              items) and completes asynchronous submissions
//   linkUp(), enquire()        link checks and keep-alive
//   close(orderly)             unbind when orderly; always free TLS and close
// Settings: loadSettings() at thread start and after a reconnecting reload;
// reloadNeeded() after every pass and every 256th message.
//
// Result codes are the kind's own (SMPP command_status for SMPP), with the
// shared meanings: 0 accepted; 88 throttled and 20 queue full mean try
// later; 10, 11 and 102 mean never. kConnectionLost / kTimeout say that no
// answer came (the message may or may not have reached the centre).
//
// An object belongs to its sender thread. Asynchronous completions
// (smpp::AsyncSubmit) happen inside yield(), on that thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/link_name.h"
#include "foundation/link_settings.h"
#include "protocols/smpp/async_submit.h"

namespace vek::links {

// One message as a link kind sends it.
struct SubmitRequest {
  std::string sender;
  std::string recipient;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string udh;   // hexadecimal
  std::string data;  // UTF-8 text, or hexadecimal when binary
  uint32_t flags = 0;
  bool binary = false;
  std::string request_file;  // the gateway's message id (file name without extension)
  std::string params;        // "Name=value; Name=value"
};

// How a connection takes part in the link.
enum class LinkRole {
  kTransmitter,  // sends (bind type 2)
  kTransceiver,  // sends and receives on one connection (bind type 9)
  kReceiveOnly,  // receives only (bind type 1); takes no request files
};

// What the sender loop reads from the kind's settings.
struct LinkKnobs {
  foundation::LinkCommonSettings common;
  std::string validity;                               // default `Validity` of the link
  int32_t keep_alive_s = 0;                           // 0: no keep-alive
  int32_t window = 0;                                 // 0: synchronous submits
  std::chrono::milliseconds command_timeout{120000};  // how long an answer may take
  std::chrono::milliseconds throttle_delay{5000};     // pause after a throttling answer
  bool throttle_for_qfull = false;                    // 20 counts as throttling
  bool restart_after_throttle = false;                // restart the pass after a pause
  bool wdp_merge = false;                             // long binary messages sent whole
  int32_t transmitters = 1, receivers = 1;            // connections of each direction
  bool single_connection = false;                     // transceiver on one connection
  int32_t max_reconnect_wait_s = 0;                   // cap of the reconnect wait; 0: none
};

// Local results, 0xFFFF0000 and above (never on the wire). The values are
// the SMPP engine's, so that every kind reports them alike.
constexpr uint32_t kResultNotConnected = 0xFFFF0001;    // no connection
constexpr uint32_t kResultConnectionLost = 0xFFFF0002;  // gone before the answer
constexpr uint32_t kResultTimeout = 0xFFFF0003;         // no answer in the command time-out
constexpr uint32_t kResultCancelled = 0xFFFF0005;       // the sender gave up waiting
inline bool isLocalResult(uint32_t code) {
  return code >= 0xFFFF0000;
}

class LinkProtocol {
 public:
  virtual ~LinkProtocol() = default;

  virtual foundation::LinkKind kind() const = 0;
  const std::string& linkName() const { return link_name_; }

  virtual void loadSettings() = 0;
  // The reload check of link_settings.h: true when the connection must be
  // dropped and the settings loaded afresh.
  virtual bool reloadNeeded(unsigned link_number) = 0;
  virtual const LinkKnobs& knobs() const = 0;

  virtual bool open(LinkRole role, std::string* failure_text) = 0;
  virtual void close(bool orderly) = 0;
  virtual bool linkUp() = 0;
  // Services the connection for up to `wait`; *connection_error is set once
  // the connection is gone. Returns the number of items handled.
  virtual int yield(std::chrono::milliseconds wait, bool* connection_error) = 0;
  virtual uint32_t enquire() = 0;

  // True when submitAsync() may be used on this connection.
  virtual bool asyncAvailable() const = 0;
  virtual uint32_t submit(const SubmitRequest& m, std::string* message_id) = 0;
  // 0 = sent, and `ctx` completes later inside yield(); otherwise nothing
  // was sent and `ctx` is left alone.
  virtual uint32_t submitAsync(const SubmitRequest& m, std::shared_ptr<smpp::AsyncSubmit> ctx) = 0;
  // Asynchronous submissions not answered yet.
  virtual size_t outstanding() const = 0;
  virtual std::string errorText(uint32_t code) const = 0;

  // Work of the kind's own around a queue pass (a modem session polls its
  // storage and tests the modem between passes). beforePass() comes before
  // every pass; afterPass() after it, with the number of files the pass
  // looked at, and false from it ends the connection as broken.
  virtual void beforePass() {}
  virtual bool afterPass(size_t /*files_seen*/) { return true; }

 protected:
  explicit LinkProtocol(std::string link_name) : link_name_(std::move(link_name)) {}

 private:
  std::string link_name_;
};

// The implementation for a link's kind, or null when the kind has none yet
// (HTTP links and SDK links are driven elsewhere). A kind whose protocol
// library is absent still gets its object: its open() fails with the
// library text, so the link shows as down like any that cannot connect.
std::unique_ptr<LinkProtocol> makeLinkProtocol(std::string_view link_name);

}  // namespace vek::links
