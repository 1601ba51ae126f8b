// Modem: the GSM modem driver for one link. It opens the port (a serial
// device with a speed search, or an IP modem with its login and script),
// runs the initialisation dialogue, sends messages as SMS-SUBMIT PDUs (or
// in text mode), reads received messages and status reports (from +CMT /
// +CDS reports and by polling the storage) and hands them to inbound
// processing, and recovers a modem that stops answering (modem test, hard
// reset, the hammer).
//
// The link session drives it; a session is
//
//   Modem m(options);
//   if (!m.open() || !m.initialise()) ... link failure, retry later
//   loop: m.pollStorage(); m.send(msg) per message; m.idleTest(); m.listen(2)
//   on a modem error: bool reset = m.recoverAfterError();
//   m.close();
//
// Received items are acknowledged to the modem (AT+CNMA) or deleted from
// its storage (AT+CMGD) only after the inbound handler accepted them, so a
// failure to store one never loses it: it stays with the modem or the
// network. Unsolicited reports are set aside whenever they arrive (even in
// the middle of another command's answer) and handed over after that
// command's answer is complete.
//
// Owned by one thread (the link's sender thread).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "modem/at_channel.h"
#include "modem/inbound_handoff.h"
#include "modem/modem_options.h"
#include "modem/pdu_decode.h"
#include "platform/status.h"

namespace vek::modem {

// What the dialogue learned about the modem.
struct ModemFacts {
  bool wavecom = false;  // "ATI0" answer holds "WAVECOM"
  bool nokia = false;    // ... holds "Nokia"
  bool phase2plus = false;
  bool text_mode = false;
  std::vector<std::string> storages;  // offered by "AT+CPMS=?"
  std::string receive_storage;
  bool poll_status_reports = false;
  std::string own_number;
  unsigned speed = 0;  // serial ports: the speed found
  bool receive_set_up = false;
};

// One message to send (the fields of the request file the modem uses).
struct OutboundSms {
  std::string recipient;  // digits, "+" first for an international number
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string data;  // UTF-8 text, or hexadecimal when `binary`
  std::string udh;   // hexadecimal
  bool binary = false;
  uint32_t flags = 0;    // queue::kFlagReplyRequested, kFlagReceiptRequested
  std::string validity;  // the message's own; else the link's
  // For the receipt key in the message-id store.
  std::string queue_file_name;
  std::string account;
  std::string sender;
};

struct SendResult {
  enum class Outcome { kSent, kFailed, kPermanent };
  Outcome outcome = Outcome::kFailed;
  std::string error;           // the failure text ("ERROR - Modem Response (2):  ...")
  int cms_error = -1;          // the +CMS / +CME ERROR number, when answered so
  int message_reference = -1;  // from "+CMGS:"
  std::string message_id;      // the modem key "%02X-<digits>" when a reference came back
  std::string answer;          // the modem's answer
  // The modem did not answer or the port failed: the session runs the
  // error path (recoverAfterError) and starts a new session.
  bool modem_error = false;
  bool sent() const { return outcome == Outcome::kSent; }
};

struct PollResult {
  bool supported = true;  // the modem answered "+CPMS:"
  size_t handed_over = 0;
  size_t failed = 0;  // could not be handed over: left in the storage
  size_t set_aside = 0;
};

class Modem {
 public:
  explicit Modem(ModemOptions options, InboundHandler handler = {});
  ~Modem();
  Modem(const Modem&) = delete;
  Modem& operator=(const Modem&) = delete;

  // Opens the port and finds a speed (serial) or logs in (IP modem).
  platform::Status open();
  bool isOpen() const;
  // Uses a port that is already open (no speed search or login): a port
  // the caller set up itself, or a test double.
  void attachPort(std::unique_ptr<Port> port);
  // The initialisation dialogue. Failures carry the "Modem Failure -- ..."
  // text for the link status.
  platform::Status initialise();
  // Closes the port; with receiving set up (and no hard reset done) first
  // "AT+CNMI=2,0".
  void close(bool after_hard_reset = false);

  // Sends one message.
  SendResult send(const OutboundSms& message);

  // Polls the storage for received messages and reports.
  PollResult pollStorage();
  // Hands over the reports set aside so far; the number handed over.
  size_t handleReports();
  // Reads the port for `seconds`, catching unsolicited reports, and hands
  // them over.
  void listen(double seconds);
  // A +CMTI / +CDSI told that a message was stored since the last call.
  bool takeNewMessageFlag();

  // The modem test: "ATE0V1" with the retries of a stuck modem;
  // `storage_checks` adds the storage queries.
  bool test(bool storage_checks = false);
  // Between queue passes: "ATE0V1" within 5 seconds, else the modem test.
  bool idleTest();
  bool powerUp();
  bool waitForNetwork();
  // Tries the hard reset techniques, falling back to a soft reset.
  bool hardReset();
  // The error path: logs what the modem still sends, runs the modem test
  // and, with `ModemHardResetAfterError`, the hard reset. True when a hard
  // reset was done (the next session waits 15 seconds and for power-up).
  bool recoverAfterError();

  // One command with its answer (CR added), reports handled afterwards.
  Response exchange(std::string_view command, double seconds);
  // The SMSC number from "AT+CSCA?" ("+" and at least 5 digits), or "".
  std::string querySmscNumber();
  // Uses `smsc` for the following messages (the +CSCA recovery).
  void setSmsc(std::string smsc) { options_.smsc = std::move(smsc); }

  const ModemFacts& facts() const { return facts_; }
  const ModemOptions& options() const { return options_; }
  AtChannel* channel() { return channel_.get(); }

 private:
  platform::Status openIpModem();
  platform::Status openSerial();
  bool speedTest(unsigned baud);
  bool searchSpeeds(const std::vector<unsigned>& speeds);
  bool hammer();
  platform::Status reopenSerial();

  bool enterPin();
  void sendScripted(const std::vector<std::string>& commands, const char* what);
  bool selectSmsService();
  platform::Status selectMessageFormat();
  void setUpReceiving();
  void selectStorage();

  SendResult sendPdu(const OutboundSms& m);
  SendResult sendText(const OutboundSms& m);
  SendResult finishSend(const OutboundSms& m, SendResult r);
  bool acknowledgementPending() const;

  bool handleReport(const Unsolicited& u);
  bool deliverPdu(std::string_view pdu_hex, int declared_length, std::string_view source);
  bool deliverText(std::string_view header, std::string_view body, bool listing);
  bool deliverTextStatusReport(std::string_view line);
  bool deliver(const ReceivedPdu& pdu);
  bool setAsideUnreadable(std::string_view what, std::string_view text);
  void acknowledge();
  size_t pollOneStorage(const std::string& storage, PollResult* result);
  bool listAndDeliver(std::string_view list_command, const std::string& storage,
                      std::vector<int>* done, PollResult* result);

  void log(std::string_view text) const;
  bool stopRequested() const;

  ModemOptions options_;
  InboundHandler handler_;
  std::unique_ptr<AtChannel> channel_;
  ModemFacts facts_;
  bool hammer_tried_ = false;
  bool handling_reports_ = false;
  bool new_message_ = false;
  std::string device_path_;
};

}  // namespace vek::modem
