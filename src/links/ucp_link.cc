#include "links/ucp_link.h"

#include "links/text_receive.h"

namespace vek::links {

UcpLink::UcpLink(std::string link_name, const protocols::UcpLibrary* library)
    : TextLink(std::move(link_name), "UCP", protocols::LinkLibrary::kUcp, 99),
      lib_(library ? *library : protocols::ucpLibrary()) {
  if (lib_.UCPSetReceiveMessageCallback)
    lib_.UCPSetReceiveMessageCallback(&UCPReceiveMessageCallback);
}

UcpLink::~UcpLink() {
  close(false);
}

void UcpLink::resetConnection(bool create) {
  conn_.reset();
  if (create) conn_ = std::make_unique<ucp::Connection>();
}

uint32_t UcpLink::engineConnect(tls::Stream stream, const std::string& host, uint16_t port) {
  return lib_.UCPConnect(*conn_, std::move(stream), linkName(), host, port);
}

uint32_t UcpLink::engineBind(const std::string& user, const std::string& password) {
  return lib_.UCPBind(*conn_, user, password);
}

void UcpLink::engineUnbind() {
  if (lib_.UCPUnbind) (void)lib_.UCPUnbind(*conn_);
}

void UcpLink::engineSetTimeout(std::chrono::milliseconds timeout) {
  conn_->setCommandTimeout(timeout);
}

int UcpLink::engineYield(std::chrono::milliseconds wait, bool* connection_error) {
  return lib_.UCPYield(*conn_, wait, connection_error);
}

bool UcpLink::engineUp() {
  return lib_.UCPCheckLinkStatus(*conn_) != 0;
}

uint32_t UcpLink::engineEnquire() {
  return lib_.UCPEnquireLink(*conn_);
}

uint32_t UcpLink::engineSubmit(const SubmitRequest& m, std::string* message_id) {
  return lib_.UCPSubmitMessage(*conn_, m.sender, m.recipient, m.pid, m.dcs, m.udh, m.data, m.flags,
                               m.binary, message_id, m.request_file, m.params);
}

uint32_t UcpLink::engineSubmitAsync(const SubmitRequest& m,
                                    std::shared_ptr<protocols::AsyncSubmit> ctx) {
  return lib_.UCPSubmitMessageAsync(*conn_, m.sender, m.recipient, m.pid, m.dcs, m.udh, m.data,
                                    m.flags, m.binary, m.request_file, m.params, std::move(ctx));
}

std::string UcpLink::engineErrorText(uint32_t code) const {
  return lib_.UCPErrorText ? lib_.UCPErrorText(code) : ucp::UCPErrorText(code);
}

void UcpLink::engineDebug(bool on) {
  lib_.UCPSetDebugMode(on ? 1 : 0);
}

ReceivePortListener::ServeFn UcpLink::serveEntry() const {
  auto serve = lib_.UCPServeConnection ? lib_.UCPServeConnection : &ucp::UCPServeConnection;
  return [serve](tls::Stream stream, const std::string& link, const std::string& peer,
                 const std::function<bool()>& stop) {
    return serve(std::move(stream), link, peer, stop);
  };
}

}  // namespace vek::links
