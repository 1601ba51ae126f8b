#include "links/cimd_link.h"

#include "links/text_receive.h"

namespace vek::links {

CimdLink::CimdLink(std::string link_name, const protocols::CimdLibrary* library)
    : TextLink(std::move(link_name), "CIMD", protocols::LinkLibrary::kCimd, 127),
      lib_(library ? *library : protocols::cimdLibrary()) {
  if (lib_.CIMDSetReceiveMessageCallbackEx)
    lib_.CIMDSetReceiveMessageCallbackEx(&CIMDReceiveMessageCallbackEx);
  if (lib_.CIMDSetReceiveMessageCallback)
    lib_.CIMDSetReceiveMessageCallback(&CIMDReceiveMessageCallback);
}

CimdLink::~CimdLink() {
  close(false);
}

void CimdLink::resetConnection(bool create) {
  conn_.reset();
  if (create) conn_ = std::make_unique<cimd::Connection>();
}

uint32_t CimdLink::engineConnect(tls::Stream stream, const std::string& host, uint16_t port) {
  return lib_.CIMDConnect(linkName(), *conn_, std::move(stream), host, port);
}

uint32_t CimdLink::engineBind(const std::string& user, const std::string& password) {
  return lib_.CIMDBind(linkName(), *conn_, user, password);
}

void CimdLink::engineUnbind() {
  if (lib_.CIMDUnbind) (void)lib_.CIMDUnbind(linkName(), *conn_);
}

void CimdLink::engineSetTimeout(std::chrono::milliseconds timeout) {
  conn_->setCommandTimeout(timeout);
}

int CimdLink::engineYield(std::chrono::milliseconds wait, bool* connection_error) {
  return lib_.CIMDYield(linkName(), *conn_, wait, connection_error);
}

bool CimdLink::engineUp() {
  return lib_.CIMDCheckLinkStatus(linkName(), *conn_) != 0;
}

uint32_t CimdLink::engineEnquire() {
  return lib_.CIMDEnquireLink(linkName(), *conn_);
}

uint32_t CimdLink::engineSubmit(const SubmitRequest& m, std::string* message_id) {
  return lib_.CIMDSubmitMessage(linkName(), *conn_, m.sender, m.recipient, m.pid, m.dcs, m.udh,
                                m.data, m.flags, m.binary, message_id, m.request_file, m.params);
}

uint32_t CimdLink::engineSubmitAsync(const SubmitRequest& m,
                                     std::shared_ptr<protocols::AsyncSubmit> ctx) {
  return lib_.CIMDSubmitMessageAsync(linkName(), *conn_, m.sender, m.recipient, m.pid, m.dcs, m.udh,
                                     m.data, m.flags, m.binary, m.request_file, m.params,
                                     std::move(ctx));
}

std::string CimdLink::engineErrorText(uint32_t code) const {
  return lib_.CIMDErrorText ? lib_.CIMDErrorText(code) : cimd::CIMDErrorText(code);
}

void CimdLink::engineDebug(bool on) {
  lib_.CIMDSetDebugMode(on ? 1 : 0);
}

ReceivePortListener::ServeFn CimdLink::serveEntry() const {
  auto serve = lib_.CIMDServeConnection ? lib_.CIMDServeConnection : &cimd::CIMDServeConnection;
  return [serve](tls::Stream stream, const std::string& link, const std::string& peer,
                 const std::function<bool()>& stop) {
    return serve(link, std::move(stream), peer, stop);
  };
}

}  // namespace vek::links
