#include "links/text_receive.h"

#include "inbound/smpp_receive.h"

namespace vek::links {
namespace {

int receive(std::string_view tag, const protocols::InboundMessage& m) {
  return inbound::receiveFromLink(tag, m, /*smpp_items=*/false);
}

}  // namespace

int UCPReceiveMessageCallback(const protocols::InboundMessage& m) {
  return receive("UCPReceiveMessageCallback", m);
}

int CIMDReceiveMessageCallbackEx(const protocols::InboundMessage& m) {
  return receive("CIMDReceiveMessageCallbackEx", m);
}

int CIMDReceiveMessageCallback(const std::string& link_name, const std::string& sender, uint8_t pid,
                               uint8_t dcs, const std::string& udh, const std::string& data) {
  protocols::InboundMessage m;
  m.link_name = link_name;
  m.sender = sender;
  m.pid = pid;
  m.dcs = dcs;
  m.udh = udh;
  m.data = data;
  return receive("CIMDReceiveMessageCallback", m);
}

}  // namespace vek::links
