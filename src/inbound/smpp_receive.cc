#include "inbound/smpp_receive.h"

#include "accounting/accounting_callback.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "inbound/extra_params.h"
#include "inbound/process_inbound.h"
#include "platform/sanitize.h"
#include "platform/strings.h"
#include "queue/request_file.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kTag = "SMPPReceiveMessageCallback";
constexpr size_t kMaxReceiptId = 149;

void logReceived(std::string_view tag, const smpp::InboundMessage& m) {
  if (!foundation::debugEnabled()) return;
  std::string line = "inbound message:  sender=" + platform::singleLine(m.sender) +
                     ", recip=" + platform::singleLine(m.recipient) +
                     platform::format(", pid=%X, dcs=%X, msgFlags=%X", m.pid, m.dcs, m.flags) +
                     ", udh=" + platform::singleLine(m.udh) +
                     ", msg=" + platform::singleLine(m.data);
  if (!m.extra.empty()) line += ", extraParms=" + platform::singleLine(m.extra);
  foundation::DebugLog(tag, line);
}

void reportReceived(const smpp::InboundMessage& m, const InboundSMS& in,
                    const InboundStored& stored) {
  if (!foundation::settings()->AccountingExtended) return;
  accounting::QueuedMessageReport report;
  report.type = "SMSIN";
  report.from = m.sender;
  report.to = m.recipient;
  report.message_id = stored.message_id;
  report.sender = m.sender;
  report.binary = in.binary;
  report.pid = m.pid;
  report.dcs = m.dcs;
  report.udh = m.udh;
  report.data = m.data;
  report.receipt_requested = (m.flags & queue::kFlagReceiptRequested) != 0;
  report.service_type = in.service_type.value_or("");
  report.route = m.link_name;
  report.smpp_options = in.smpp_options.value_or("");
  accounting::reportQueuedMessage(report);
}

}  // namespace

int receiveFromLink(std::string_view tag, const protocols::InboundMessage& m, bool smpp_items) {
  logReceived(tag, m);
  InboundSMS in;
  in.link_name = m.link_name;
  in.sender = m.sender;
  in.recipient = m.recipient;
  in.udh = m.udh;
  in.data = m.data;
  in.pid = m.pid;
  in.dcs = m.dcs;
  in.flags = m.flags;
  in.binary = m.type == protocols::kMessageBinary;
  in.receipt_message_id = m.smsc_message_id;
  in.extra = m.extra;
  if (smpp_items) {
    in.smpp_options = smppOptionList(m.extra, OptionFilter::kAll);
    in.service_type = std::string(extraValue(m.extra, "ServiceType").value_or(""));
  } else {
    in.smpp_options = std::string();
    in.service_type = std::string();
  }

  if (in.receipt_message_id.empty() || !smpp_items) {
    if (auto v = extraValue(m.extra, "ReceiptMsgIdOrig"))
      in.receipt_message_id = std::string(v->substr(0, kMaxReceiptId));
  }
  const bool receipt = (m.flags & queue::kFlagIsReceipt) != 0;
  const auto resolve_item = extraValue(m.extra, "ResolveReceiptID");
  in.resolve_receipt_id = (resolve_item && foundation::yesNo(*resolve_item)) ||
                          (receipt && !in.receipt_message_id.empty());

  auto stored = ProcessInboundSMS(in);
  if (!stored.ok()) {
    foundation::DebugLogf(tag, "Not stored (%s): message from %s asked again",
                          stored.status().message().c_str(),
                          platform::singleLine(m.sender).c_str());
    return 0;
  }
  if (!in.resolve_receipt_id) reportReceived(m, in, *stored);
  return 1;
}

int SMPPReceiveMessageCallback(const smpp::InboundMessage& m) {
  return receiveFromLink(kTag, m, true);
}

}  // namespace vek::inbound
