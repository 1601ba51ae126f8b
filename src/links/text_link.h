// TextLink: what the UCP/EMI and CIMD2 kinds of LinkProtocol share. Both
// speak a framed text protocol over one TCP connection, log in with
// `UserName` and `Password`, and may have the centre connect back to the
// link's `ReceivePort` to deliver messages and notifications. UcpLink and
// CimdLink (ucp_link.h, cimd_link.h) bind the engine's entries.
//
// Settings: the UCP/CIMD key set (foundation::loadUcpSettings), plus three
// keys these links read like SMPP links do: `WindowSize` (asynchronous
// submissions; 0 = synchronous; capped below the engine's numbering range),
// `CommandTimeout` (seconds an answer may take, 0 = 120) and `Validity`.
//
// open(): library check ("UCP Failure -- Support DLL LINKUCP.DLL did not
// initialize" when incomplete); the `ReceivePort` listener (started when
// the port is set and restarted when `ReceivePort` or `BindIP` changed; a
// listener that failed is tried again at each open() and every 15 s while
// connected); socket (local bind to `BindIP` and `LocalPort`), connect to
// the link name's host and port, and the login ("UCP Failure -- Unable to
// login to UCP server with specified parameters:  <engine text>").
//
// Results: the engine's codes pass through (0, the centre's error codes,
// the local codes -2 no answer and -3 bad answer, which the retry rules
// treat as temporary), except that a lost connection becomes
// kResultConnectionLost so that the sender lets the message go unchanged
// and sends it again after reconnecting. Asynchronous completions are
// relayed the same way.
//
// Owned by one sender thread; the listener runs threads of its own.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "foundation/link_settings.h"
#include "links/link_protocol.h"
#include "links/receive_port.h"
#include "platform/clock.h"
#include "protocols/libraries/link_libraries.h"

namespace vek::links {

class TextLink : public LinkProtocol {
 public:
  ~TextLink() override;

  void loadSettings() override;
  bool reloadNeeded(unsigned link_number) override;
  const LinkKnobs& knobs() const override { return knobs_; }
  const foundation::UcpLinkSettings& settings() const { return settings_; }

  bool open(LinkRole role, std::string* failure_text) override;
  void close(bool orderly) override;
  bool linkUp() override;
  int yield(std::chrono::milliseconds wait, bool* connection_error) override;
  uint32_t enquire() override;

  bool asyncAvailable() const override;
  uint32_t submit(const SubmitRequest& m, std::string* message_id) override;
  uint32_t submitAsync(const SubmitRequest& m, std::shared_ptr<smpp::AsyncSubmit> ctx) override;
  size_t outstanding() const override;
  std::string errorText(uint32_t code) const override;

  // The port the listener is on (0: none).
  uint16_t receivePort() const { return listener_ ? listener_->port() : 0; }

 protected:
  // `label` "UCP" or "CIMD"; `max_window` the engine's limit of
  // outstanding submissions.
  TextLink(std::string link_name, const char* label, protocols::LinkLibrary library,
           int32_t max_window);

  // The engine's entries, on the connection the subclass owns.
  virtual bool libraryComplete() const = 0;
  virtual void resetConnection(bool create) = 0;  // drop the connection; a fresh one when `create`
  virtual bool hasConnection() const = 0;
  virtual uint32_t engineConnect(tls::Stream stream, const std::string& host, uint16_t port) = 0;
  virtual uint32_t engineBind(const std::string& user, const std::string& password) = 0;
  virtual void engineUnbind() = 0;
  virtual void engineSetTimeout(std::chrono::milliseconds timeout) = 0;
  virtual int engineStream() = 0;  // the socket, for its options
  virtual int engineYield(std::chrono::milliseconds wait, bool* connection_error) = 0;
  virtual bool engineUp() = 0;
  virtual uint32_t engineEnquire() = 0;
  virtual bool engineHasAsync() const = 0;
  virtual uint32_t engineSubmit(const SubmitRequest& m, std::string* message_id) = 0;
  virtual uint32_t engineSubmitAsync(const SubmitRequest& m,
                                     std::shared_ptr<protocols::AsyncSubmit> ctx) = 0;
  virtual size_t engineOutstanding() const = 0;
  virtual std::string engineErrorText(uint32_t code) const = 0;
  virtual void engineDebug(bool on) = 0;
  virtual ReceivePortListener::ServeFn serveEntry() const = 0;

 private:
  void refreshKnobs();
  void ensureListener();

  const char* const label_;
  const protocols::LinkLibrary library_;
  const int32_t max_window_;
  foundation::UcpLinkSettings settings_;
  int32_t window_setting_ = 0;
  LinkKnobs knobs_;
  std::unique_ptr<ReceivePortListener> listener_;
  std::string listener_ip_;
  int32_t listener_port_ = 0;
  platform::SteadyTime next_listener_try_{};
};

// Engine result -> link result (see above), and back for the texts.
uint32_t toLinkResult(uint32_t engine_code);
uint32_t toEngineResult(uint32_t link_code);

// Error texts of the asynchronous window's answers (link results).
std::string ucpLinkErrorText(uint32_t code);
std::string cimdLinkErrorText(uint32_t code);

}  // namespace vek::links
