// ModemOptions: everything the modem driver needs to know about one modem
// link, as a plain value. The link session fills it from the link's
// settings section (keys named beside each field) and the gateway's
// `SMSGW` section; the driver reads no configuration itself.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace vek::modem {

struct ModemOptions {
  // The link name: "IPModem - host:port", "COMn:", a device path or a
  // modem's friendly name (see port.h). Also the tag of the debug lines,
  // "ModemName=" of inbound files and the link of the message-id store.
  std::string link_name;

  // IP modems: login prompts (`Username`, `Password`) and the scripted
  // steps (`IPModemInitWaitFor%u`, `IPModemInitSend%u`, in order).
  std::string username;
  std::string password;
  struct ScriptStep {
    std::string wait_for;
    std::string send;  // sent followed by a CR (empty: nothing)
  };
  std::vector<ScriptStep> ip_init_script;

  std::string own_number;  // `PhoneNumber`; else the modem's +CNUM answer
  std::string pin;         // `PIN`
  std::string smsc;        // `SMSC` (digits, "+" kept)
  bool exclude_smsc = false;
  bool text_mode = false;                  // `ModemTextMode`
  bool allow_phase2plus = false;           // `AllowPhase2Plus`
  std::optional<bool> send_extra_cr;       // `ModemSendExtraCR`; unset: on for a Nokia
  bool send_workaround = false;            // `ModemSendWorkaround`
  bool send_response_simple = true;        // `ModemSendResponseSimple`
  std::optional<int> delay_after_send_ms;  // `DelayAfterSend`; unset: 0, 7500 for a Nokia
  int delay_after_error_ms = 0;            // `DelayAfterError`
  bool receive_sms = false;                // `ReceiveSMS`
  bool direct_receive = false;             // `ReceiveTo` = "Direct"
  std::string receive_to;                  // `ReceiveTo` storage ("" = choose)
  bool poll_memory_sr = false;             // `PollMemorySR`
  bool process_read_messages = true;       // `ProcessReadMessages`
  std::string sms_access;                  // `SMSAccess`: "GPRS", "GSM" or ""
  bool hard_reset_after_error = true;      // `ModemHardResetAfterError`
  bool alpha_sender_address_bug = false;   // `AlphaSenderAddressBug`
  std::string validity;                    // `Validity`: the link's default
  bool disable_delivery_receipt = false;   // `DisableDeliveryReceipt`
  std::vector<std::string> pre_init;       // `CommandPreInit%u`
  std::vector<std::string> post_init;      // `CommandPostInit%u`
  std::vector<std::string> pre_send;       // `CommandPreSend%u`
  std::vector<std::string> post_send;      // `CommandPostSend%u`

  // Section SMSGW.
  bool test_zero_mr = false;              // `TestZeroMR`
  bool old_receipt_format = false;        // `OldModemReceiptFormat`
  bool debug_poll = false;                // `DebugModemPoll`
  bool disable_invalid_sr_check = false;  // `DisableInvalidStatusReportCheck`
  size_t max_bytes_per_write = 0;         // `IPModemMaxBytes` / `ModemMaxBytesPerSend`; 0: whole
  int write_pause_ms = 0;                 // `ModemSendDelay`: pause between those chunks

  // Driver behaviour.
  bool hammer = true;                       // recover a serial modem no speed reaches
  double time_scale = 1.0;                  // multiplies every wait (tests shrink it)
  const std::atomic<bool>* stop = nullptr;  // null: the gateway's shutdown flag
  std::string by_id_dir = "/dev/serial/by-id/";
};

}  // namespace vek::modem
