#include "links/hand_off.h"

#include "foundation/debug_log.h"
#include "inbound/process_inbound.h"
#include "inbound/rejection_receipt.h"
#include "inbound/smpp_receive.h"
#include "links/smpp_receiver.h"
#include "protocols/libraries/smpp_library.h"

namespace vek::links {
namespace {

constexpr auto kWorkersReady = std::chrono::seconds(60);

// An account name as an extra-parameter value: ';' would start another item
// and control characters a key line of their own, so the name ends there
// (no account is named so; inbound routing then picks the account).
std::string itemValue(std::string_view v) {
  size_t end = 0;
  while (end < v.size() && v[end] != ';' && static_cast<unsigned char>(v[end]) >= 0x20) ++end;
  return std::string(v.substr(0, end));
}

}  // namespace

platform::Status deliverToLocalUser(const queue::SMSMessage& m, std::string_view message_id) {
  inbound::InboundSMS in;
  in.sender = m.Sender;
  in.recipient = m.PhoneNumber;
  in.udh = m.UDH;
  in.data = m.Data;
  in.pid = m.pid;
  in.dcs = m.dcs;
  in.flags = m.MessageFlags;
  in.binary = m.Binary;
  in.extra = "RouteToLocalUser=" + itemValue(m.RouteToLocalUser);
  if (!m.SMPPOptions.empty()) in.smpp_options = m.SMPPOptions;
  if (!m.ServiceType.empty()) in.service_type = m.ServiceType;
  auto stored = inbound::ProcessInboundSMS(in);
  if (!stored.ok()) return stored.status();
  foundation::DebugLogf("ProcessInboundSMS", "%.*s to local user %s as %s",
                        static_cast<int>(message_id.size()), message_id.data(),
                        m.RouteToLocalUser.c_str(), stored->path.c_str());
  return platform::Status();
}

platform::Status writeFailureReceipt(int fd, const std::string& path, const queue::SMSMessage& m,
                                     std::string_view link, uint32_t error_code) {
  auto written = inbound::writeFailureReceipt(fd, path, m, link, static_cast<int32_t>(error_code));
  return written.ok() ? platform::Status() : written.status();
}

void registerReceiveCallback(std::string_view) {
  const auto& lib = smpp::smppLibrary();
  if (lib.SMPPSetReceiveMessageCallback)
    lib.SMPPSetReceiveMessageCallback(&inbound::SMPPReceiveMessageCallback);
}

void startReceiverConnection(std::string_view link, unsigned link_number, int instance) {
  startSmppReceiver(link, link_number, instance);
}

bool startAsyncReceiveWorkers(std::string_view link, int instance, int count) {
  return startSmppReceiveWorkers(link, instance, count, kWorkersReady);
}

bool stopReceivers(std::string_view link, int instance, std::chrono::milliseconds bound) {
  return stopSmppReceivers(link, instance, bound);
}

}  // namespace vek::links
