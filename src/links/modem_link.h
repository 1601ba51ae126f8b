// ModemLink: the GSM modem kind of LinkProtocol (serial modems and IP
// modems). One connection is one modem session over the driver of modem/.
//
// open(): the repeated-failure rules when the previous session failed
// (below), the modem from the allocator ("Before ModemAllocate - <link>",
// "After ModemAllocate - <link> - <result>"; refused: "Modem Busy or
// Unavailable"), the USB re-enable asked for by `USBReEnable`, then
// "Re-initializing modem:  <link> ...", the port ("Modem Failure -- Unable
// to access modem, ensure that it is powered on and passes diagnostic
// tests." when it cannot be opened), after a hard reset 15 s and the
// power-up and network wait, and the initialisation dialogue (its own
// "Modem Failure -- ..." text on failure).
//
// Around each queue pass: "AT+CMMS=2" before the first message of a pass
// (keeps the radio link open between the parts of a long message); after
// the pass the storage poll when `ReceivePoll` seconds passed (or the modem
// announced a stored message), "ATE0V1" within 5 s or else the modem test,
// then the port is read for 2 s (up to 5 s after a scan of over 20000
// files) so that unsolicited reports are caught. yield() reads the port
// too, and polls when due.
//
// submit(): one message through the driver. A "+CMS ERROR: 330" (no
// service centre) while no `SMSC` is set asks "AT+CSCA?"; a number there
// is used from then on and the message is sent again once. A modem that
// does not answer, or a port that failed, ends the session as broken; the
// file is left as it was, since the modem never confirmed it.
//
// close(): after a broken session the error path (what the modem still
// sends, the modem test, the hard reset with `ModemHardResetAfterError`),
// "AT+CNMI=2,0" unless reset, the port closed, the modem given back
// ("Before ModemRelease - <link>", "After ModemRelease - <link>", 2 s
// before and 5 s after).
//
// Repeated failures (a failed open, or a session that broke): the
// reconnect wait is capped at 6000 s (knobs). With `ResetUSBDevices` the
// modem's USB device is disabled and enabled again before the next
// attempt. With `RebootOnModemError`, once the link has been failing for
// 600 s: with `ResetUSBDevices` and a USB device that can be disabled,
// "USBReEnable=Yes" is written into the link's section (the next start
// enables it again), the alert "Server reboot initiated to recover modem
// <link>" is raised, the gateway stops and the restart action (the
// service's RestartLocalServer, set with setServerRestartAction) reboots
// the machine. Neither happens unless the operator turned it on.
//
// Result codes of submit(): 0 sent; the "+CMS ERROR" / "+CME ERROR" number
// of a refusal; kModemUnsendable for a message the modem can never send (a
// recipient that is not a number, data that does not fit a PDU), which the
// retry policy fails at once; kModemFailed for other failures;
// kResultConnectionLost when the modem stopped answering. errorText() gives
// the driver's text of the last failure.
//
// Tests of the whole program shrink every modem wait with the environment
// variable VEKSMS_MODEM_TIME_SCALE (a factor from 0.01 to 1).
//
// Owned by one sender thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "foundation/link_settings.h"
#include "links/link_protocol.h"
#include "modem/modem.h"
#include "platform/clock.h"
#include "queue/retry_policy.h"

namespace vek::links {

// A message the modem can never send (retry_policy fails it at once).
constexpr uint32_t kModemUnsendable = static_cast<uint32_t>(queue::kErrorModemUnsendable);
// A failed send without an error number.
constexpr uint32_t kModemFailed = 0x10001;

// What reboots the machine (the service sets RestartLocalServer; non-zero
// when the reboot was initiated). Without one a reboot is only logged.
void setServerRestartAction(std::function<int()> action);

class ModemLink final : public LinkProtocol {
 public:
  explicit ModemLink(std::string link_name);
  ~ModemLink() override;

  foundation::LinkKind kind() const override;
  void loadSettings() override;
  bool reloadNeeded(unsigned link_number) override;
  const LinkKnobs& knobs() const override { return knobs_; }
  const foundation::ModemLinkSettings& settings() const { return settings_; }

  bool open(LinkRole role, std::string* failure_text) override;
  void close(bool orderly) override;
  bool linkUp() override;
  int yield(std::chrono::milliseconds wait, bool* connection_error) override;
  uint32_t enquire() override;

  bool asyncAvailable() const override { return false; }
  uint32_t submit(const SubmitRequest& m, std::string* message_id) override;
  uint32_t submitAsync(const SubmitRequest&, std::shared_ptr<smpp::AsyncSubmit>) override {
    return kResultNotConnected;
  }
  size_t outstanding() const override { return 0; }
  std::string errorText(uint32_t code) const override;

  void beforePass() override { cmms_due_ = true; }
  bool afterPass(size_t files_seen) override;

  // The driver's options for the current settings (keys of the link's
  // section and of `SMSGW`).
  modem::ModemOptions modemOptions() const;
  // Tests: the port of every session comes from here instead of opening
  // the link's device.
  void setPortFactory(std::function<std::unique_ptr<modem::Port>()> factory) {
    port_factory_ = std::move(factory);
  }

 private:
  void refreshKnobs();
  bool openSession(std::string* failure);
  void endSession();
  bool polling() const;
  void failed();
  void repeatedFailureRules();
  void usbReEnableIfAsked();
  std::string usbDeviceId() const;
  void pollIfDue(bool force);
  bool modemBroken();
  double scale() const;
  platform::Status store(const modem::InboundSms& m);

  foundation::ModemLinkSettings settings_;
  LinkKnobs knobs_;
  std::unique_ptr<modem::Modem> modem_;
  std::function<std::unique_ptr<modem::Port>()> port_factory_;
  std::string smsc_learned_;  // from "AT+CSCA?" after a CMS ERROR 330
  bool allocated_ = false;
  bool modem_error_ = false;
  bool hard_reset_done_ = false;  // the last session ended with a hard reset
  bool cmms_due_ = false;
  uint64_t failures_ = 0;
  platform::SteadyTime failing_since_{};
  platform::SteadyTime last_poll_{};
  platform::SteadyTime last_received_{};
  uint32_t last_code_ = 0;
  std::string last_error_;
};

}  // namespace vek::links
