#include "inbound/rejection_receipt.h"

#include "accounting/accounting_callback.h"
#include "encoding/utf8.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "inbound/inbound_file.h"
#include "inbound/inbound_queue.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"
#include "queue/request_writer.h"
#include "reporting/counters.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kTag = "WriteRejectionReceipt";

// The first `n` characters of UTF-8 text.
std::string_view firstCharacters(std::string_view text, size_t n) {
  size_t pos = 0;
  for (size_t i = 0; i < n && pos < text.size(); ++i) encoding::decodeUtf8Char(text, &pos);
  return text.substr(0, pos);
}

std::string receiptFileText(const RejectedMessage& m, const std::string& id,
                            const std::string& data, bool copy) {
  queue::RequestWriter w("[SMS-IN]");
  w.textIfSet("ModemName", m.link_name);
  if (!copy) w.textIfSet("RouteToLocalUser", m.local_user);
  w.text("Sender", m.recipient);
  w.text("PhoneNumber", m.sender);
  w.data(data);
  w.text("Binary", "0");
  w.yes("ReceiptFailed");
  w.text("ReceiptMessageId", id);
  w.textIfSet("ServiceType", m.service_type);
  w.textIfSet("Validity", m.validity);
  w.textIfSet("SMPPOptions", m.smpp_options);
  w.yes("DuplicateMessageFor2Way", copy);
  return w.str();
}

platform::Result<std::string> writeReceiptFile(const std::string& text) {
  auto path =
      queue::CreateQueueFile(newInboundFileDirectory(), extensionOf(InboundKind::kReceipt), text);
  if (path.ok()) inboundFileWritten(InboundKind::kReceipt);
  return path;
}

bool smsgwYes(std::string_view key) {
  return foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", key));
}

void reportToAccounting(const RejectedMessage& m, const std::string& data,
                        const std::string& message_id) {
  if (!foundation::settings()->AccountingExtended) return;
  accounting::QueuedMessageReport report;
  report.type = "SMSIN";
  report.from = m.recipient;
  report.to = m.sender;
  report.message_id = message_id;
  report.sender = m.recipient;
  report.data = data;
  report.service_type = m.service_type;
  report.route = m.link_name;
  report.smpp_options = m.smpp_options;
  accounting::reportQueuedMessage(report);
}

}  // namespace

std::string rejectionReceiptText(std::string_view id, platform::SystemTime submitted,
                                 platform::SystemTime done, int32_t error_code,
                                 std::string_view text) {
  const platform::CalendarTime s = platform::toLocal(submitted);
  const platform::CalendarTime d = platform::toLocal(done);
  return platform::format(
             "id:%.*s sub:001 dlvrd:000 submit date:%02d%02d%02d%02d%02d done "
             "date:%02d%02d%02d%02d%02d stat:REJECTD err:%03X text:",
             static_cast<int>(id.size()), id.data(), s.year % 100, s.month, s.day, s.hour, s.minute,
             d.year % 100, d.month, d.day, d.hour, d.minute,
             static_cast<unsigned>(error_code) & 0xFFFu) +
         std::string(firstCharacters(text, kRejectionTextCharacters));
}

platform::Result<std::string> WriteRejectionReceipt(const RejectedMessage& m) {
  const std::string id = messageIdOf(m.queue_file);
  const std::string data =
      rejectionReceiptText(id, m.submitted, platform::clock().now(), m.error_code, m.text);
  auto path = writeReceiptFile(receiptFileText(m, id, data, false));
  if (!path.ok()) {
    foundation::DebugLogf(kTag, "Unable to write the rejection receipt for %s: %s", id.c_str(),
                          path.status().message().c_str());
    return path;
  }
  reporting::addToCounter(reporting::Counter::kReceived);
  reportToAccounting(m, data, messageIdOf(*path));
  if (!m.local_user.empty() &&
      (smsgwYes("DuplicateUserMessagesFor2Way") || smsgwYes("DuplicateUserReceiptsFor2Way"))) {
    auto copy = writeReceiptFile(receiptFileText(m, id, data, true));
    if (!copy.ok()) {
      foundation::DebugLogf(
          kTag, "The two-way copy of the rejection receipt for %s was not written", id.c_str());
    }
  }
  foundation::DebugLogf(kTag, "Rejection receipt for %s written as %s", id.c_str(), path->c_str());
  return path;
}

platform::Result<std::string> writeFailureReceipt(int fd, const std::string& path,
                                                  const queue::SMSMessage& msg,
                                                  std::string_view link_name, int32_t error_code) {
  RejectedMessage m;
  m.queue_file = path;
  const auto info = platform::statFd(fd);
  m.submitted = info ? info->born : platform::clock().now();
  m.link_name = std::string(link_name);
  m.local_user = msg.SubmitUser;
  m.sender = msg.Sender;
  m.recipient = msg.PhoneNumber;
  m.error_code = error_code;
  m.text = msg.Data;
  m.service_type = msg.ServiceType;
  m.validity = msg.Validity;
  m.smpp_options = msg.SMPPOptions;
  return WriteRejectionReceipt(m);
}

}  // namespace vek::inbound
