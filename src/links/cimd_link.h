// CimdLink: the CIMD2 kind of LinkProtocol over the in-tree CIMD library
// (protocols/libraries/link_libraries.h), bound entry by entry; see
// text_link.h for what it shares with UCP/EMI links. At most 127
// submissions are outstanding (the engine's odd packet numbers), and
// received messages and status reports reach the extended receive callback.
//
// Owned by one sender thread.
#pragma once

#include <memory>
#include <string>

#include "links/text_link.h"
#include "protocols/cimd/client.h"

namespace vek::links {

class CimdLink final : public TextLink {
 public:
  explicit CimdLink(std::string link_name, const protocols::CimdLibrary* library = nullptr);
  ~CimdLink() override;

  foundation::LinkKind kind() const override { return foundation::LinkKind::kCimd; }

 private:
  bool libraryComplete() const override { return lib_.complete(); }
  void resetConnection(bool create) override;
  bool hasConnection() const override { return conn_ != nullptr; }
  uint32_t engineConnect(tls::Stream stream, const std::string& host, uint16_t port) override;
  uint32_t engineBind(const std::string& user, const std::string& password) override;
  void engineUnbind() override;
  void engineSetTimeout(std::chrono::milliseconds timeout) override;
  int engineStream() override { return conn_->stream().fd(); }
  int engineYield(std::chrono::milliseconds wait, bool* connection_error) override;
  bool engineUp() override;
  uint32_t engineEnquire() override;
  bool engineHasAsync() const override { return lib_.CIMDSubmitMessageAsync != nullptr; }
  uint32_t engineSubmit(const SubmitRequest& m, std::string* message_id) override;
  uint32_t engineSubmitAsync(const SubmitRequest& m,
                             std::shared_ptr<protocols::AsyncSubmit> ctx) override;
  size_t engineOutstanding() const override { return conn_->outstanding(); }
  std::string engineErrorText(uint32_t code) const override;
  void engineDebug(bool on) override;
  ReceivePortListener::ServeFn serveEntry() const override;

  const protocols::CimdLibrary& lib_;
  std::unique_ptr<cimd::Connection> conn_;
};

}  // namespace vek::links
