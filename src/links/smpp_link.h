// SmppLink: the SMPP kind of LinkProtocol, over the in-tree SMPP library
// (protocols/smpp_library.h) bound entry by entry.
//
// open(): library check ("SMPP Failure -- Support DLL LINKSMPP.DLL did not
// initialize" when it is incomplete), socket, local bind (`BindIP`, local
// part of `SenderPort`), connect to the host of the link name and the
// remote part of `SenderPort` or else the link name's port, TLS with
// `UseSSL`, then bind with `UserName`, `Password`, `SystemType`,
// `AddressRange` and the interface version of `SMPPVersion`; the bind type
// follows the role (1 receive-only, 9 transceiver, 2 transmitter). A
// refused bind is "SMPP Failure -- Unable to login to SMPP server with
// specified parameters:  <library text>". After the login the socket gets
// its buffers (link_socket.h) and the protocol debug switch is set.
//
// While the link has asynchronous receive workers (smpp_receiver.h), the
// connection queues what it receives for them instead of storing it on the
// sender's thread.
//
// Asynchronous submits are offered when `WindowSize` is not 0, the library
// has SMPPSubmitMessageAsync, and WDP merging does not force single
// submissions.
//
// Owned by one sender thread.
#pragma once

#include <memory>
#include <string>

#include "foundation/link_settings.h"
#include "links/link_protocol.h"
#include "protocols/smpp/client.h"

namespace vek::smpp {
struct SmppLibrary;
}

namespace vek::links {

class SmppLink final : public LinkProtocol {
 public:
  // `library` defaults to the in-tree table (tests pass a partial one).
  explicit SmppLink(std::string link_name, const smpp::SmppLibrary* library = nullptr);
  ~SmppLink() override;

  foundation::LinkKind kind() const override { return foundation::LinkKind::kSmpp; }
  void loadSettings() override;
  bool reloadNeeded(unsigned link_number) override;
  const LinkKnobs& knobs() const override { return knobs_; }
  const foundation::SmppLinkSettings& settings() const { return settings_; }

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

  // The separate receiver connection: `ReceiverPort` instead of `SenderPort`.
  void useReceiverPort() { receiver_port_ = true; }

 private:
  void refreshKnobs();

  const smpp::SmppLibrary& lib_;
  foundation::SmppLinkSettings settings_;
  LinkKnobs knobs_;
  std::unique_ptr<smpp::Connection> conn_;
  uint8_t version_ = 0x34;
  bool receiver_port_ = false;
};

}  // namespace vek::links
