#include "links/hand_off.h"

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/service_state.h"
#include "inbound/smpp_receive.h"
#include "platform/strings.h"
#include "protocols/libraries/smpp_library.h"
#include "queue/queue_tree.h"
#include "queue/request_writer.h"
#include "reporting/counters.h"

namespace vek::links {
namespace {

// Cuts UTF-8 text after `n` characters.
std::string firstCharacters(std::string_view text, size_t n) {
  size_t i = 0;
  for (size_t count = 0; i < text.size() && count < n; ++count) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return std::string(text.substr(0, i));
}

}  // namespace

platform::Status deliverToLocalUser(const queue::SMSMessage& m, std::string_view message_id) {
  queue::SMSMessage in = m;
  in.Inbound = true;
  in.SMSCRoute.clear();
  in.HasErrorDetail = false;
  in.RetryCount = 0;
  auto path =
      queue::CreateQueueFile(foundation::inboundDirectory(), "in", queue::formatSMSMessage(in));
  if (!path.ok()) return path.status();
  foundation::DebugLogf("ProcessInboundSMS", "%.*s to local user %s as %s",
                        static_cast<int>(message_id.size()), message_id.data(),
                        m.RouteToLocalUser.c_str(), path->c_str());
  foundation::inboundEventA().set();
  return platform::Status();
}

std::string rejectionReceiptText(std::string_view message_id, const platform::CalendarTime& s,
                                 const platform::CalendarTime& d, uint32_t error_code,
                                 std::string_view text) {
  return platform::format(
             "id:%.*s sub:001 dlvrd:000 submit date:%02d%02d%02d%02d%02d done "
             "date:%02d%02d%02d%02d%02d stat:REJECTD err:%03X text:",
             static_cast<int>(message_id.size()), message_id.data(), s.year % 100, s.month, s.day,
             s.hour, s.minute, d.year % 100, d.month, d.day, d.hour, d.minute, error_code & 0xFFF) +
         firstCharacters(text, 19);
}

platform::Status writeFailureReceipt(const queue::SMSMessage& m, std::string_view message_id,
                                     std::string_view link, uint32_t error_code,
                                     platform::SystemTime created) {
  queue::RequestWriter w("[SMS-IN]");
  w.textIfSet("ModemName", link);
  w.textIfSet("RouteToLocalUser", m.SubmitUser);
  w.text("Sender", m.PhoneNumber);
  w.text("PhoneNumber", m.Sender);
  w.data(rejectionReceiptText(message_id, platform::toLocal(created), platform::localNow(),
                              error_code, m.Binary ? std::string() : m.Data));
  w.text("Binary", "0");
  w.yes("ReceiptFailed");
  w.text("ReceiptMessageId", message_id);
  w.textIfSet("ServiceType", m.ServiceType);
  w.textIfSet("Validity", m.Validity);
  w.textIfSet("SMPPOptions", m.SMPPOptions);
  auto path = queue::CreateQueueFile(foundation::inboundDirectory(), "rec", w.str());
  if (!path.ok()) return path.status();
  reporting::addToCounter(reporting::Counter::kReceived);
  foundation::inboundEventB().set();
  return platform::Status();
}

void registerReceiveCallback(std::string_view) {
  const auto& lib = smpp::smppLibrary();
  if (lib.SMPPSetReceiveMessageCallback)
    lib.SMPPSetReceiveMessageCallback(&inbound::SMPPReceiveMessageCallback);
}

void startReceiverConnection(std::string_view, unsigned, int) {}

bool startAsyncReceiveWorkers(std::string_view, int) {
  return true;
}

void stopReceivers(std::string_view, int) {}

}  // namespace vek::links
