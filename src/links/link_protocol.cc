#include "links/link_protocol.h"

#include "links/modem_link.h"
#include "links/smpp_link.h"
#include "protocols/libraries/link_libraries.h"

namespace vek::links {
namespace {

// A kind whose protocol library is absent (UCP/EMI and CIMD2 until their
// engines land): every connection attempt fails with the library's text,
// so the link shows as down, backs off and raises its alerts like any
// link that cannot connect.
class UnavailableLink final : public LinkProtocol {
 public:
  UnavailableLink(std::string name, foundation::LinkKind kind, protocols::LinkLibrary library)
      : LinkProtocol(std::move(name)), kind_(kind), library_(library) {}

  foundation::LinkKind kind() const override { return kind_; }
  void loadSettings() override {
    settings_ = foundation::loadUcpSettings(linkName());
    knobs_.common = settings_;
    knobs_.keep_alive_s = settings_.KeepAlive;
  }
  bool reloadNeeded(unsigned number) override {
    return foundation::checkReload(number, linkName(), &settings_);
  }
  const LinkKnobs& knobs() const override { return knobs_; }
  bool open(LinkRole, std::string* failure) override {
    *failure = protocols::libraryFailureText(library_);
    return false;
  }
  void close(bool) override {}
  bool linkUp() override { return false; }
  int yield(std::chrono::milliseconds, bool* connection_error) override {
    *connection_error = true;
    return 0;
  }
  uint32_t enquire() override { return kResultNotConnected; }
  bool asyncAvailable() const override { return false; }
  uint32_t submit(const SubmitRequest&, std::string*) override { return kResultNotConnected; }
  uint32_t submitAsync(const SubmitRequest&, std::shared_ptr<smpp::AsyncSubmit>) override {
    return kResultNotConnected;
  }
  size_t outstanding() const override { return 0; }
  std::string errorText(uint32_t) const override { return "Not connected"; }

 private:
  const foundation::LinkKind kind_;
  const protocols::LinkLibrary library_;
  foundation::UcpLinkSettings settings_;
  LinkKnobs knobs_;
};

}  // namespace

std::unique_ptr<LinkProtocol> makeLinkProtocol(std::string_view link_name) {
  const auto kind = foundation::linkKind(link_name);
  switch (kind) {
    case foundation::LinkKind::kSmpp:
      return std::make_unique<SmppLink>(std::string(link_name));
    case foundation::LinkKind::kUcp:
      return std::make_unique<UnavailableLink>(std::string(link_name), kind,
                                               protocols::LinkLibrary::kUcp);
    case foundation::LinkKind::kCimd:
      return std::make_unique<UnavailableLink>(std::string(link_name), kind,
                                               protocols::LinkLibrary::kCimd);
    case foundation::LinkKind::kModem:
    case foundation::LinkKind::kIpModem:
      return std::make_unique<ModemLink>(std::string(link_name));
    default:
      // HTTP links and SDK links get their sessions with their own issues.
      return nullptr;
  }
}

}  // namespace vek::links
